// The window's edge inside its library: starts the toolkit, builds the
// window, runs the start-up, and reports a failure the way an operator at a
// screen sees it.
#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <filesystem>
#include <string>

#include "app/form1.h"
#include "app/program_edge.h"
#include "app/window_entry.h"
#include "run/unattended.h"

namespace {

// A modal message would wait for ever on a platform that shows nothing, so
// there the failure goes to stderr; an operator at a screen gets a message box.
int reportFailure(const std::string& message, bool toStderr) {
    if (toStderr) {
        fennick::printFailure(message.c_str());
    } else {
        QMessageBox::critical(nullptr, QStringLiteral("Fennick"), QString::fromLatin1(message));
    }
    return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int fennick_window_main(int* argc, char** argv,
                                                                          const char* appDir) {
    QApplication application(*argc, argv);
    const QString platform = QGuiApplication::platformName();
    const bool toStderr =
        platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
    try {
        fennick::app::Form1 form{std::filesystem::path(appDir)};
        QObject::connect(&form, &fennick::app::Form1::failed, &form,
                         [&form, toStderr](const QString& message) {
                             // The program ends here: nothing moves or is
                             // pressed behind the message.
                             form.stopTimer();
                             form.hide();
                             reportFailure(message.toLatin1().toStdString(), toStderr);
                             QApplication::exit(1);
                         });
        form.Form_Load();
        form.show();
        return QApplication::exec();
    } catch (const std::exception& failure) {
        return reportFailure(failure.what(), toStderr);
    }
}
