// Paths on Windows: a name's UTF-16 code units, kept as the bytes they are.

#include "filelist/NativePaths.h"

#include <QDir>

namespace NativePaths {

TextPath fromText(const QString& path)
{
    // Qt spells paths with forward slashes; the program keeps and shows them as Windows does.
    return {QDir::toNativeSeparators(path).toStdWString()};
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
    // A host names a share of the network, which Windows reaches by the same name.
    return url.isLocalFile() && DecodesToItsOwnNames(url, u"/\\") ? held(fromText(url.toLocalFile()).path)
                                                                  : QByteArray();
}

QString shown(const NativePath& path)
{
    return QString::fromStdWString(path);
}

QString engineLine(const std::string& line)
{
    return QString::fromStdString(line); // UTF-8
}

} // namespace NativePaths
