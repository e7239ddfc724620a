#pragma once

// The one way the window suites make and read test files.

#include <QByteArray>
#include <QString>

// Test files: written whole, or the test stops at once; read back whole, or "<unreadable>".
QString writeTestFile(const QString& path, const QByteArray& content);
// The same at a path given as the system's own bytes, for names that are not text.
QByteArray writeTestFile(const QByteArray& path, const QByteArray& content);
QByteArray readTestFile(const QString& path);

// Where a folder for another user's step goes: the temporary folder, unless a folder on its way is
// closed to others (a session's private one), and then the shared one every system has.
QString folderOthersCanEnter();
