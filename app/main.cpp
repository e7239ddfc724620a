// The program's entry: the application object and the start-up.

#include "app/InstanceGuard.h"
#include "app/ProcessSettings.h"
#include "app/Startup.h"
#include "assets/ProgramFacts.h"
#include "shred/FileSystem.h"
#include "traces/SystemTraces.h"
#include "windows/FileDialog.h"
#include "windows/LinkOpener.h"
#include "windows/MessageBox.h"

#include <QApplication>

// The program takes no arguments: whatever stands on the command line is ignored.
int main(int argc, char* argv[])
{
    chooseWindowSystem();
    QApplication application(argc, argv);
    QApplication::setApplicationName(ZORVIK_NAME);
    QApplication::setApplicationVersion(ZORVIK_VERSION);

    QtMessageBox messages;
    QtFileDialog fileDialog;
    DesktopLinkOpener links;
    SystemTraces traces;
    return runProgram(
        application, {messages, fileDialog, links, FileSystem::system(), traces}, InstanceGuard::defaultKey());
}
