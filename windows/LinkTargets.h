#pragma once

// Where the About window's and the Help menu's links lead.

#include <QString>

// The publisher's pages and mail link. The host and the contact address are chosen when the program is
// built (CMake cache variables ZORVIK_LINK_HOST and ZORVIK_CONTACT_ADDRESS); the paths are fixed.
namespace LinkTargets {
QString homePage(); // "http://" and the host, with no path and no trailing "/"
QString messagePage();
QString productsPage();
QString contactAddress();
QString mailLink();
} // namespace LinkTargets
