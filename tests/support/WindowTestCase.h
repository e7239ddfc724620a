#pragma once

// The one fixture of the window suites: the real main window with scripted platform services, in a
// fresh temporary folder for every test, and the gestures and readers of a user who shreds with it.

#include "app/InstanceGuard.h"
#include "app/MainWindow.h"
#include "tests/support/ScriptedPlatform.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class QListWidget;

// Every test gets a fresh temporary folder and the real main window, loaded and shown offscreen with
// scripted platform services. A suite derives from it and declares its tests as private slots; a
// suite with an initTestCase(), init() or cleanup() of its own calls this one's first. Every gesture
// checks its control first, the way a user can only use what is there: a missing or disabled control
// fails the test instead of crashing it or passing unnoticed.
class WindowTestCase : public QObject
{
    Q_OBJECT

protected slots:
    void initTestCase();
    void init();
    void cleanup();

protected:
    QTemporaryDir& folder() const;
    // A file of the given length in the test's folder; returns its full path.
    QString makeFile(const QString& name, qint64 length = 10, char fill = 'x') const;

    // Clicks the named button of the main window.
    void click(const char* name) const;
    // Triggers the named menu entry of the main window.
    void triggerAction(const char* name) const;
    // Open... with the dialog picking path.
    void pick(const QString& path) const;
    // Open... picking `path`, then Shred! answered Yes. Returns whether it said "shredded".
    bool shredSingle(const QString& path) const;
    // Drops each path onto the list; returns how many were accepted as drops.
    int drop(const QStringList& paths) const;
    // Drops the file URL of a path given as its bytes.
    bool dropBytes(const QByteArray& path) const;
    // All, then B-Shred! answered Yes. Returns the text of the last closing message.
    QString shredAllListed() const;
    // Shreds the one file at `path`, dropped on the list by the batch run or picked by the single one.
    // Returns whether the run said it was shredded, whatever warning followed.
    bool shredThrough(bool batch, const QString& path) const;

    // The text of the named label or text box.
    QString caption(const char* name) const;
    // The text of panel 1 or 2 of the status bar.
    QString panel(int number) const;
    // The paths the check-list shows, in order.
    QStringList listed() const;
    // The messages shown so far, as "title: text" lines.
    QStringList messages() const;
    // Whether a "Mission Accomplished !" box said that a file was shredded.
    bool claimedShredded() const;
    // What the file at `path` held just before the run deleted it; empty when it was not deleted.
    QByteArray contentBeforeDelete(const QString& path) const;

    MainWindow* m_window = nullptr;
    ScriptedPlatform* m_platform = nullptr;
    QListWidget* m_list = nullptr;

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<ScriptedPlatform> m_scripted;
    std::unique_ptr<InstanceGuard> m_guard;
    std::unique_ptr<MainWindow> m_main;
};
