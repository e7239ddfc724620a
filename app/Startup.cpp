// Start-up and shutdown: process settings, the single-copy check and the main window's life.

#include "app/Startup.h"

#include "app/InstanceGuard.h"
#include "app/MainWindow.h"

#include <QApplication>
#include <QSettings>

namespace {
// Qt's open-file dialog writes the folders it showed into the user's settings when it closes, and
// reads them back on the next start: a record of where files were shredded. The program stores
// nothing, so the user's settings are pointed below a path that is not a folder. Nothing can be
// created there, and reading finds nothing. On Windows the native format is the registry, which no
// path redirects: the settings are kept in files there too, below the null device.
void keepSettingsOffTheDisk()
{
#ifdef Q_OS_WIN
    const QString nowhere = QStringLiteral("NUL");
#else
    const QString nowhere = QStringLiteral("/dev/null");
#endif
    QSettings::setDefaultFormat(QSettings::IniFormat);
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, nowhere);
    }
}
} // namespace

int runProgram(QApplication& application, Platform platform, const std::string& instanceKey)
{
    keepSettingsOffTheDisk();
    InstanceGuard guard(instanceKey);
    MainWindow window(platform);
    if (!window.load(guard)) {
        return kAlreadyRunningStatus;
    }
    QObject::connect(&window, &MainWindow::unloaded, &application, [] { QCoreApplication::exit(0); });
    window.showCentred();
    return application.exec();
}
