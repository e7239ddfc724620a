// Runs the program's start-up under a given instance name, with message boxes that print what they
// show and answer OK. Prints "shown" once the main window is on screen, and closes it after the given
// number of milliseconds (0: never). Used by TestStartup to start real competing processes.
//
// Given a file as well, it runs with the real dialog and message boxes and walks through a whole
// session instead: picks the file in the open-file dialog, shreds it answering Yes, opens About and
// Notes, then exits.
#include "app/Startup.h"
#include "shred/FileSystem.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/SystemTexts.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
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

QWidget* mainWindow()
{
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() == "Form1" && window->isVisible()) {
            return window;
        }
    }
    return nullptr;
}

// A user's session, one step each time the timer looks: the real dialogs are modal, so each step
// only starts the next gesture (queued) and returns to whichever event loop is running.
class Walkthrough : public QObject
{
public:
    explicit Walkthrough(QString file)
        : m_file(std::move(file))
    {
        connect(&m_timer, &QTimer::timeout, this, &Walkthrough::step);
        m_timer.start(50);
    }

private:
    void step()
    {
        QWidget* window = mainWindow();
        if (!window) {
            return;
        }
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            // Typed into the file name box, as a user would: the dialog leaves a box that has the
            // focus alone when a file is selected from outside.
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(m_file);
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        } else if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::printf("box|%s|%s\n", qPrintable(box->windowTitle()), qPrintable(box->text()));
            std::fflush(stdout);
            QAbstractButton* answer = box->button(QMessageBox::Yes);
            if (!answer) {
                answer = box->defaultButton();
            }
            QMetaObject::invokeMethod(answer, &QAbstractButton::click, Qt::QueuedConnection);
            m_shredded |= box->windowTitle() == Texts::kDone;
        } else if (QApplication::activeModalWidget()) {
            return;
        } else if (!m_picked) {
            m_picked = true;
            press(window, "Command1");
        } else if (!m_shredding) {
            m_shredding = true;
            press(window, "Command2");
        } else if (m_shredded && !m_toldAbout) {
            m_toldAbout = true;
            window->findChild<QAction*>("about")->trigger();
            window->findChild<QAction*>("note")->trigger();
        } else if (m_toldAbout) {
            window->findChild<QAction*>("e")->trigger();
            m_timer.stop();
        }
    }

    static void press(QWidget* window, const char* name)
    {
        QMetaObject::invokeMethod(
            window->findChild<QAbstractButton*>(name), &QAbstractButton::click, Qt::QueuedConnection);
    }

    QString m_file;
    QTimer m_timer;
    bool m_picked = false;
    bool m_shredding = false;
    bool m_shredded = false;
    bool m_toldAbout = false;
};
} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s INSTANCE-NAME LIFETIME-MS [FILE-TO-SHRED]\n", argv[0]);
        return 2;
    }
    const std::string key = argv[1];
    const int lifetime = std::atoi(argv[2]);
    if (argc > 3) {
        Walkthrough session(QString::fromLocal8Bit(argv[3]));
        QtMessageBox messages;
        QtFileDialog fileDialog;
        RecordingLinkOpener links;
        SystemTraces traces;
        return runProgram(application, {messages, fileDialog, links, FileSystem::system(), traces}, key);
    }

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
    ScriptedFileSystem files = ScriptedPlatform::writingDirectWhenAsked();
    SystemTraces traces;
    return runProgram(application, {messages, fileDialog, links, files, traces}, key);
}
