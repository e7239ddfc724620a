// The real message boxes: icon, buttons, default, room for the title, long warnings.

#include "windows/MessageBox.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QStyle>
#include <QTextEdit>

namespace {
QMessageBox::Icon qtIcon(MessageBox::Icon icon)
{
    switch (icon) {
    case MessageBox::Icon::Information:
        return QMessageBox::Information;
    case MessageBox::Icon::Exclamation:
        return QMessageBox::Warning;
    case MessageBox::Icon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton qtButton(MessageBox::Answer answer)
{
    switch (answer) {
    case MessageBox::Answer::Ok:
        return QMessageBox::Ok;
    case MessageBox::Answer::Yes:
        return QMessageBox::Yes;
    case MessageBox::Answer::No:
        return QMessageBox::No;
    }
    return QMessageBox::NoButton;
}
// Room a window manager's title bar takes beside the title: the window's icon, three buttons and
// their padding, as wide as the most generous common desktop themes draw them.
constexpr int kTitleBarDecorations = 150;

// A box is laid out around its text, so a short text with a longer title gives a box whose title
// bar cuts the title. A strut as wide as the title and the bar's decorations keeps it whole.
constexpr qsizetype kMostLinesInABox = 24;

void makeRoomForTitle(QMessageBox& box)
{
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    const int wanted = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + kTitleBarDecorations;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(),
                      0,
                      1,
                      grid->columnCount());
    }
}
// The details pane as Qt makes it shows about one and a half paragraphs in a narrow box: it is made
// wide enough for a long path and tall enough for several paragraphs, and scrolls past that. Return
// answers the default button even while the toggle has the focus (Space still toggles).
constexpr int kDetailsColumns = 100;
constexpr int kDetailsLines = 18; // five paragraphs of two lines, the blank lines between, and leading

void fitDetails(QMessageBox& box)
{
    if (auto* details = box.findChild<QTextEdit*>()) {
        const QFontMetrics metrics(details->font());
        const int frame = 2 * details->frameWidth() + 2 * static_cast<int>(details->document()->documentMargin());
        // Measured in a lower-case letter of average width, with the colon and blank that follow a path.
        details->setMinimumWidth(metrics.horizontalAdvance(QString(kDetailsColumns, u'n') + ": ") + frame +
                                 details->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
        details->setFixedHeight(metrics.lineSpacing() * kDetailsLines + frame);
    }
    for (auto* button : box.findChildren<QPushButton*>()) {
        if (box.standardButton(button) == QMessageBox::NoButton) {
            button->setAutoDefault(false);
        }
    }
}
} // namespace

std::unique_ptr<QMessageBox> QtMessageBox::build(QWidget* parent, const Message& message)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(message.title);
    // A warning about many files would grow past the screen and hide its OK button: its count line
    // and its first file's paragraph stay in the box, and the rest goes to the details, which scroll.
    const qsizetype countEnd = message.text.indexOf("\n\n");
    const qsizetype firstEnd = countEnd > 0 ? message.text.indexOf("\n\n", countEnd + 2) : -1;
    if (message.text.count('\n') >= kMostLinesInABox && firstEnd > 0) {
        box->setText(message.text.left(firstEnd));
        box->setDetailedText(message.text.mid(firstEnd + 2));
        fitDetails(*box);
    } else {
        box->setText(message.text);
    }
    box->setTextFormat(Qt::PlainText);
    box->setIcon(qtIcon(message.icon));
    if (message.buttons == Buttons::YesNo) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        // Closing the box by its close box or Escape counts as No.
        box->setEscapeButton(QMessageBox::No);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
    }
    box->setDefaultButton(qtButton(message.defaultButton));
    makeRoomForTitle(*box);
    return box;
}

MessageBox::Answer QtMessageBox::show(QWidget* parent, const Message& message)
{
    const auto box = build(parent, message);
    switch (box->exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::Ok:
        return Answer::Ok;
    default:
        return Answer::No;
    }
}
