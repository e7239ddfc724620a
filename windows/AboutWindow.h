#pragma once

// The About window.

#include <QWidget>

class LinkLabel;
class LinkOpener;

// The About window: the version, and links to the publisher's home page, contact address and products
// page. Modeless and without an owner; destroyed when closed.
class AboutWindow : public QWidget
{
    Q_OBJECT

public:
    explicit AboutWindow(LinkOpener& links);

    void gotoweb();
    void sendemail();
    void gotomore();

protected:
    // A move over the bare background (the rule under the banner included) turns every link white.
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    LinkOpener& m_links;
    LinkLabel* m_lblurl;
    LinkLabel* m_lblemail;
    LinkLabel* m_lblmore;
};
