// The program's edge: builds the window, runs the start-up, and is the one
// place where a failure is reported and the program ends.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "app/form1.h"
#include "run/unattended.h"

namespace {

// True when nothing says where a window could be shown.
bool noDisplay() {
    return qEnvironmentVariableIsEmpty("DISPLAY") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
           !qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

// Nobody watches the unattended run, and a modal message would wait for
// ever, so it reports on stderr; an operator at a screen gets a message box.
int reportFailure(const std::string& message, bool toStderr) {
    if (toStderr) {
        fennick::printFailure(message.c_str());
    } else {
        QMessageBox::critical(nullptr, QStringLiteral("Fennick"), QString::fromLatin1(message));
    }
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    // The argument text as it came, before the toolkit takes its own options.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // AppDir is where the program file lies, not where it was started from,
    // so a scheduler may start it from anywhere.
    const std::filesystem::path appDir = fennick::programDir(argv[0]);
    if (fennick::isUnattended(arguments)) {
        // The window would never be shown, so the unattended run builds none
        // and needs no display, not even one that DISPLAY names but that has
        // gone away. Nobody watches it: failures go to stderr.
        try {
            fennick::runUnattended(appDir, fennick::localNow);
            return 0;
        } catch (const std::exception& failure) {
            return reportFailure(failure.what(), true);
        }
    }
    if (noDisplay()) {
        // The toolkit would abort with a core dump; say what is missing instead.
        std::fprintf(stderr,
                     "fennick: no display for the window (DISPLAY and WAYLAND_DISPLAY are not "
                     "set); use -q for the unattended run\n");
        return 1;
    }

    QApplication application(argc, argv);
    // On a platform that shows nothing a message box would wait unseen.
    const QString platform = QGuiApplication::platformName();
    const bool toStderr =
        platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
    try {
        fennick::app::Form1 form(appDir);
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
