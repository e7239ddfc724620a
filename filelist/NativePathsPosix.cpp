// Paths on Linux: a name's own bytes, which need not be valid text.

#include "filelist/NativePaths.h"

#include <QFile>

#include <dirent.h>

namespace NativePaths {

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
        !DecodesToItsOwnNames(url, u"/")) {
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

} // namespace NativePaths
