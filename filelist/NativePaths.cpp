// Conversions between Qt's paths and the system's own spelling of a path, on both systems.

#include "filelist/NativePaths.h"

#include <QFile>

#ifndef Q_OS_WIN
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace {
// Whether the URL's path decodes to the names it spells: an encoded NUL would cut a name short in
// the system call, and an encoded separator would split one name into folders, so either makes the
// path another file than the one the URL names.
bool decodesToItsOwnNames(const QUrl& url)
{
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    const QByteArray decoded = QByteArray::fromPercentEncoding(encoded);
    bool sameSeparators = decoded.count('/') == encoded.count('/');
#ifdef Q_OS_WIN
    sameSeparators = sameSeparators && decoded.count('\\') == encoded.count('\\');
#endif
    return !decoded.contains('\0') && sameSeparators;
}
} // namespace

namespace NativePaths {

#ifdef Q_OS_WIN
TextPath fromText(const QString& path)
{
    return {path.toStdWString()};
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
    return url.isLocalFile() && decodesToItsOwnNames(url) ? held(fromText(url.toLocalFile()).path) : QByteArray();
}

QString shown(const NativePath& path)
{
    return QString::fromStdWString(path);
}

QString engineLine(const std::string& line)
{
    return QString::fromStdString(line); // UTF-8
}
#else
namespace {
// The one entry of `folder` whose name shows as `shown`, or an empty array when none does or more
// than one does.
QByteArray entryShownAs(const QByteArray& folder, const QString& shown)
{
    DIR* listing = ::opendir(folder.isEmpty() ? "/" : folder.constData());
    if (!listing) {
        return {};
    }
    QByteArray found;
    int matches = 0;
    while (const dirent* entry = ::readdir(listing)) {
        if (QFile::decodeName(entry->d_name) == shown) {
            found = entry->d_name;
            ++matches;
        }
    }
    ::closedir(listing);
    return matches == 1 ? found : QByteArray();
}
} // namespace

TextPath fromText(const QString& path)
{
    // Text cannot carry a name that is not UTF-8: such a name shows, in the open-file dialog as
    // anywhere in Qt, with U+FFFD for its stray bytes. Each part that shows one is looked up in its
    // folder by how its entries show, one spelled with U+FFFD itself among them; only a unique match
    // is taken, so that a text never stands for a file the user could not tell from another.
    const QByteArray encoded = QFile::encodeName(path);
    if (!path.startsWith('/') || !path.contains(QChar::ReplacementCharacter)) {
        return {encoded.toStdString()};
    }
    QByteArray folder;
    for (const QString& part : path.mid(1).split('/')) {
        QByteArray name = QFile::encodeName(part);
        if (part.contains(QChar::ReplacementCharacter)) {
            name = entryShownAs(folder, part);
            if (name.isEmpty()) {
                return {encoded.toStdString(), false};
            }
        }
        folder += "/" + name;
    }
    return {folder.toStdString()};
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
    // A file of another host is not the file of the same path here.
    const QString host = url.host();
    if (!url.isLocalFile() || !(host.isEmpty() || host.compare("localhost", Qt::CaseInsensitive) == 0) ||
        !decodesToItsOwnNames(url)) {
        return {};
    }
    // The encoded path percent-decoded gives the name's bytes exactly, also when they are not valid
    // UTF-8.
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

QString shown(const NativePath& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString engineLine(const std::string& line)
{
    return QFile::decodeName(QByteArray::fromStdString(line));
}
#endif

} // namespace NativePaths
