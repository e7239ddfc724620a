// Start-up and shutdown: process settings, the single-copy check and the main window's life.

#include "app/Startup.h"

#include "app/InstanceGuard.h"
#include "app/MainWindow.h"
#include "app/ProcessSettings.h"

#include <QApplication>

int runProgram(QApplication& application, Platform platform, const std::string& instanceKey)
{
    applyProcessSettings();
    InstanceGuard guard(instanceKey);
    MainWindow window(platform);
    if (!window.load(guard)) {
        return kAlreadyRunningStatus;
    }
    QObject::connect(&window, &MainWindow::unloaded, &application, [] { QCoreApplication::exit(0); });
    window.showCentred();
    return application.exec();
}
