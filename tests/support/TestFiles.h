#pragma once

#include <QByteArray>
#include <QString>

// Test files: written whole, or the test stops at once; read back whole, or "<unreadable>".
QString writeTestFile(const QString& path, const QByteArray& content);
QByteArray readTestFile(const QString& path);
