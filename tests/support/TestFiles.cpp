// Test files written whole and read back whole.

#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fstream>

QString writeTestFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.flush()) {
        qFatal("cannot write the test file %s", qPrintable(path));
    }
    return path;
}

QByteArray writeTestFile(const QByteArray& path, const QByteArray& content)
{
    std::ofstream file(path.toStdString(), std::ios::binary);
    if (!file.write(content.constData(), content.size()) || !file.flush()) {
        qFatal("cannot write the test file %s", path.constData());
    }
    return path;
}

QByteArray readTestFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QString folderOthersCanEnter()
{
    for (QFileInfo folder(QDir::tempPath()); !folder.isRoot(); folder = QFileInfo(folder.absolutePath())) {
        if (!folder.permission(QFile::ExeOther)) {
            return "/tmp";
        }
    }
    return QDir::tempPath();
}
