// The publisher's pages and mail link, from the values chosen at build time.

#include "windows/LinkTargets.h"

namespace LinkTargets {
QString homePage()
{
    return QStringLiteral("http://") + QStringLiteral(ZORVIK_LINK_HOST);
}

QString messagePage()
{
    return homePage() + QStringLiteral("/message_pad/message_pad.php");
}

QString productsPage()
{
    return homePage() + QStringLiteral("/products/products.php#zorvik");
}

QString contactAddress()
{
    return QStringLiteral(ZORVIK_CONTACT_ADDRESS);
}

QString mailLink()
{
    return QStringLiteral("mailto:") + contactAddress();
}
} // namespace LinkTargets
