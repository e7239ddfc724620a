#pragma once

#include "app/InstanceGuard.h"
#include "app/MainWindow.h"
#include "tests/support/ScriptedPlatform.h"

#include <QByteArray>
#include <QMap>
#include <QString>

// The real main window with scripted platform services, shown offscreen, and the gestures of a user
// who shreds files with it. The content of every file is kept just before it is deleted.
class ShredderWindow
{
public:
    explicit ShredderWindow(const QString& name);

    MainWindow& window()
    {
        return m_window;
    }
    ScriptedPlatform& platform()
    {
        return m_platform;
    }

    // Open... picking `path`, then Shred! answered Yes. Returns whether it said "shredded".
    bool shredSingle(const QString& path);
    // Drops each path onto the list; returns how many were accepted as drops.
    int drop(const QStringList& paths);
    bool dropBytes(const QByteArray& path);
    // All, then B-Shred! answered Yes. Returns the text of the last closing message.
    QString shredAllListed();

    QString text(const char* objectName) const;
    QStringList listed() const;
    // The messages shown so far, as "title: text" lines.
    QStringList messages() const;
    bool claimedShredded() const;

    QMap<QString, QByteArray> contentBeforeDelete;

private:
    // Clicks the named button; a missing one fails the test instead of crashing it.
    void press(const char* name);

    ScriptedPlatform m_platform;
    InstanceGuard m_guard;
    MainWindow m_window;
};
