// The program's edge: builds the window, runs the start-up, and is the one
// place where a failure is reported and the program ends.
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QStringList>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "app/form1.h"
#include "app/start_up.h"

namespace {

// True when nothing says where a window could be shown.
bool noDisplay() {
    return qEnvironmentVariableIsEmpty("DISPLAY") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
           !qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

// A scheduler mails whatever a job prints: the unattended run keeps the
// toolkit's own notices (such as a missing runtime directory) off stderr and
// prints only real failures.
void quietToolkitNotices(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "fennick: %s\n", message.toLocal8Bit().constData());
    }
}

// Nobody watches the unattended run, and a modal message would wait for
// ever, so it reports on stderr; the operator gets the message box.
int reportFailure(const std::string& message, bool unattended) {
    if (unattended) {
        std::fprintf(stderr, "fennick: %s\n", message.c_str());
    } else {
        QMessageBox::critical(nullptr, QStringLiteral("Fennick"), QString::fromLatin1(message));
    }
    return 1;
}

// AppDir is where the program file lies, not where it was started from, so a
// scheduler may start it from anywhere.
std::filesystem::path programDir() {
    return std::filesystem::path(
        QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
}

}  // namespace

int main(int argc, char* argv[]) {
    // The argument text as it came, before the toolkit takes its own options.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const bool unattended = fennick::app::isUnattended(arguments);
    if (unattended) {
        // A scheduler has no display, and the unattended run needs none.
        if (noDisplay())
            qputenv("QT_QPA_PLATFORM", "offscreen");
        qInstallMessageHandler(quietToolkitNotices);
    } else if (noDisplay()) {
        // The toolkit would abort with a core dump; say what is missing instead.
        std::fprintf(stderr,
                     "fennick: no display for the window (DISPLAY and WAYLAND_DISPLAY are not "
                     "set); use -q for the unattended run\n");
        return 1;
    }

    QApplication application(argc, argv);
    try {
        fennick::app::Form1 form(programDir());
        QObject::connect(&form, &fennick::app::Form1::failed, &form,
                         [&form, unattended](const QString& message) {
                             reportFailure(message.toLatin1().toStdString(), unattended);
                             form.hide();
                             QApplication::exit(1);
                         });
        if (form.Form_Load(arguments))
            return 0;
        form.show();
        return QApplication::exec();
    } catch (const std::exception& failure) {
        return reportFailure(failure.what(), unattended);
    }
}
