#include "filelist/NativePaths.h"

#include <QFile>

namespace NativePaths {

#ifdef Q_OS_WIN
NativePath fromText(const QString& path)
{
    return path.toStdWString();
}

NativePath fromHeld(const QByteArray& held)
{
    return NativePath(reinterpret_cast<const wchar_t*>(held.constData()),
                      static_cast<std::size_t>(held.size()) / sizeof(wchar_t));
}

QByteArray held(const NativePath& path)
{
    return QByteArray(reinterpret_cast<const char*>(path.data()),
                      static_cast<qsizetype>(path.size() * sizeof(wchar_t)));
}

QByteArray heldFromUrl(const QUrl& url)
{
    return url.isLocalFile() ? held(fromText(url.toLocalFile())) : QByteArray();
}

QString shown(const QByteArray& held)
{
    return QString::fromStdWString(fromHeld(held));
}

QString engineLine(const std::string& line)
{
    return QString::fromStdString(line); // UTF-8
}
#else
NativePath fromText(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

NativePath fromHeld(const QByteArray& held)
{
    return held.toStdString();
}

QByteArray held(const NativePath& path)
{
    return QByteArray::fromStdString(path);
}

QByteArray heldFromUrl(const QUrl& url)
{
    // The encoded path percent-decoded gives the name's bytes exactly, also when they are not valid
    // UTF-8.
    return url.isLocalFile() ? QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()) : QByteArray();
}

QString shown(const QByteArray& held)
{
    return QFile::decodeName(held);
}

QString engineLine(const std::string& line)
{
    return QFile::decodeName(QByteArray::fromStdString(line));
}
#endif

} // namespace NativePaths
