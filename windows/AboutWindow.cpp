// The About window built: banner, version, links and notice.

#include "windows/AboutWindow.h"

#include "assets/ProgramFacts.h"
#include "windows/Design.h"
#include "windows/LinkLabel.h"
#include "windows/LinkOpener.h"
#include "windows/LinkTargets.h"

#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QUrl>

namespace {
const QColor kLightCyan(192, 255, 255);
const QColor kYellow(255, 255, 0);

// Pictures and plain labels have no pointer handlers of their own, and a move over them must not
// count as a move over the window's background either.
void keepPointerMoves(QWidget* widget)
{
    widget->setAttribute(Qt::WA_NoMousePropagation);
}

QLabel* addText(QWidget* parent, const char* name, const QString& text, QPoint topLeftTwips)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(Design::fixedSystemFont());
    Design::setForeground(label, Qt::black);
    label->move(twips(topLeftTwips.x()), twips(topLeftTwips.y()));
    label->adjustSize();
    keepPointerMoves(label);
    return label;
}

LinkLabel* addLink(QWidget* parent,
                   const char* name,
                   const QString& text,
                   const QColor& highlight,
                   const QCursor& pointer,
                   QPoint topLeftTwips)
{
    auto* link = new LinkLabel(text, highlight, pointer, parent);
    link->setObjectName(name);
    link->move(twips(topLeftTwips.x()), twips(topLeftTwips.y()));
    link->adjustSize();
    return link;
}
} // namespace

AboutWindow::AboutWindow(LinkOpener& links)
    : QWidget(nullptr,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                  Qt::WindowCloseButtonHint)
    , m_links(links)
{
    setObjectName("Form2");
    setWindowTitle("About");
    QIcon icon;
    icon.addFile(":/assets/about-icon-16.png", QSize(16, 16));
    icon.addFile(":/assets/about-icon-32.png", QSize(32, 32));
    setWindowIcon(icon);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(twips(6405), twips(4590));
    Design::setBackground(this, Qt::white);
    setMouseTracking(true);

    auto* banner = new QLabel(this);
    banner->setObjectName("Image1");
    banner->setGeometry(twipsRect(1440, 0, 3480, 720));
    banner->setPixmap(Design::picture(":/assets/banner.png"));
    keepPointerMoves(banner);

    Design::makeLine(this, "Line1", {0, 725}, {6399, 725}, QColor(192, 192, 192));

    addText(this, "Label1", ZORVIK_VERSION_LINE, {2540, 840});

    const QCursor hand(QPixmap(":/assets/hand.png"), 11, 1);
    const QCursor moreHand(QPixmap(":/assets/hand-more.png"), 11, 1);
    m_lblurl = addLink(this, "lblurl", "Visit home page", kLightCyan, hand, {2550, 1560});
    const QLabel* sentence = addText(this, "Label3", "To contact us, please send email to :", {960, 1920});
    m_lblemail = addLink(this, "lblemail", LinkTargets::contactAddress(), kLightCyan, hand, {2745, 2280});
    // The address is chosen when the program is built, so its width is not known in advance: it is
    // centred under its sentence.
    m_lblemail->move(sentence->geometry().center().x() - m_lblemail->width() / 2, m_lblemail->y());
    m_lblmore = addLink(this, "lblmore", "<<More...>>", kYellow, moreHand, {3570, 3560});

    auto* notice = new QLabel(this);
    notice->setObjectName("Image2");
    notice->setGeometry(twipsRect(1410, 3960, 3630, 540));
    notice->setFrameStyle(QFrame::Box | QFrame::Plain);
    notice->setLineWidth(1);
    Design::setForeground(notice, Qt::black); // the border's colour
    notice->setAlignment(Qt::AlignCenter);
    notice->setPixmap(Design::picture(":/assets/notice.png"));
    keepPointerMoves(notice);

    connect(m_lblurl, &LinkLabel::clicked, this, &AboutWindow::gotoweb);
    connect(m_lblemail, &LinkLabel::clicked, this, &AboutWindow::sendemail);
    connect(m_lblmore, &LinkLabel::clicked, this, &AboutWindow::gotomore);

    banner->setAccessibleName("Zorvik");
    notice->setAccessibleName("Notice");
    m_lblurl->setAccessibleDescription("Opens the home page in the web browser.");
    m_lblemail->setAccessibleDescription("Writes an e-mail to this address.");
    m_lblmore->setAccessibleDescription("Opens the page of the publisher's other products.");

    Design::centreOnScreen(this);
}

void AboutWindow::gotoweb()
{
    m_links.open(QUrl(LinkTargets::homePage()));
}

void AboutWindow::sendemail()
{
    m_links.open(QUrl(LinkTargets::mailLink()));
}

void AboutWindow::gotomore()
{
    m_links.open(QUrl(LinkTargets::productsPage()));
}

void AboutWindow::mouseMoveEvent(QMouseEvent* event)
{
    for (LinkLabel* link : {m_lblemail, m_lblurl, m_lblmore}) {
        link->setBackground(Qt::white);
    }
    event->accept();
}
