#pragma once

// The link-opening seam: the desktop, or a recorder in tests.

class QUrl;

// Hands a web or mail link to the desktop, which opens it in the user's browser or mail program.
class LinkOpener
{
public:
    virtual ~LinkOpener() = default;

    // Fire and forget: whether the desktop could open the link is not examined, and nothing is shown
    // when it could not.
    virtual void open(const QUrl& url) = 0;
};

// The real opener: QDesktopServices, which runs xdg-open on Linux desktops.
class DesktopLinkOpener : public LinkOpener
{
public:
    void open(const QUrl& url) override;
};
