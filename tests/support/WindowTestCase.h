#pragma once

#include "tests/support/ShredderWindow.h"

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class QListWidget;

// The fixture of the window suites. Every test gets a fresh temporary folder and the real main window,
// shown offscreen with scripted platform services, and the gestures and readers the suites share.
// A suite derives from it and declares its tests as private slots; a suite with an init() or cleanup()
// of its own calls this one's first.
class WindowTestCase : public QObject
{
    Q_OBJECT

protected slots:
    void initTestCase();
    void init();
    void cleanup();

protected:
    ShredderWindow& ui() const;
    QTemporaryDir& folder() const;

    // A file of the given length in the test's folder; returns its full path.
    QString makeFile(const QString& name, qint64 length = 10, char fill = 'x') const;

    // Clicks the named button of the main window; a missing control fails the test instead of crashing it.
    void click(const char* name) const;
    // Open... with the dialog picking path.
    void pick(const QString& path) const;

    // The text of the named label or text box.
    QString caption(const char* name) const;
    // The text of panel 1 or 2 of the status bar.
    QString panel(int number) const;
    // The paths the check-list shows, in order.
    QStringList listed() const;

    MainWindow* m_window = nullptr;
    ScriptedPlatform* m_platform = nullptr;
    QListWidget* m_list = nullptr;

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<ShredderWindow> m_ui;
};
