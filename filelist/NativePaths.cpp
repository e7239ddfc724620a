// What both systems' paths share: a dropped URL must decode to the names it spells.

#include "filelist/NativePaths.h"

namespace NativePaths {

bool DecodesToItsOwnNames(const QUrl& url, QStringView separators)
{
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    const QByteArray decoded = QByteArray::fromPercentEncoding(encoded);
    for (const QChar separator : separators) {
        const char byte = static_cast<char>(separator.unicode());
        if (decoded.count(byte) != encoded.count(byte)) {
            return false;
        }
    }
    return !decoded.contains('\0');
}

} // namespace NativePaths
