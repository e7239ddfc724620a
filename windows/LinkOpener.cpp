// Opening a link through the desktop (QDesktopServices).

#include "windows/LinkOpener.h"

#include <QDesktopServices>
#include <QUrl>

void DesktopLinkOpener::open(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}
