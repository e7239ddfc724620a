// Runs the program's start-up under a given instance name, with message boxes that print what they
// show and answer OK. Prints "shown" once the main window is on screen, and closes it after the given
// number of milliseconds (0: never). Used by TestStartup to start real competing processes.
#include "app/Startup.h"
#include "tests/support/ScriptedPlatform.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {
class PrintingMessageBox : public MessageBox
{
public:
    Answer show(QWidget*, const Message& message) override
    {
        std::printf("box|%s|%s|%d|%d\n",
                    qPrintable(message.title),
                    qPrintable(message.text),
                    int(message.icon),
                    int(message.buttons));
        std::fflush(stdout);
        return Answer::Ok;
    }
};
} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s INSTANCE-NAME LIFETIME-MS\n", argv[0]);
        return 2;
    }
    const std::string key = argv[1];
    const int lifetime = std::atoi(argv[2]);

    // These run only once the event loop does, that is once the window has been shown.
    QTimer::singleShot(0, [] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() == "Form1" && window->isVisible()) {
                std::printf("shown\n");
                std::fflush(stdout);
            }
        }
    });
    if (lifetime > 0) {
        QTimer::singleShot(lifetime, [] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (window->objectName() == "Form1") {
                    window->close();
                }
            }
        });
    }

    PrintingMessageBox messages;
    ScriptedFileDialog fileDialog;
    RecordingLinkOpener links;
    InspectingFileSystem files;
    return runProgram(application, {messages, fileDialog, links, files}, key);
}
