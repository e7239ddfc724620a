#include "windows/MessageBox.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

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
} // namespace

std::unique_ptr<QMessageBox> QtMessageBox::build(QWidget* parent, const Message& message)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(message.title);
    // A warning about many files would grow past the screen and hide its OK button: its first
    // paragraph stays in the box, and the rest goes to the details, which scroll.
    const qsizetype summaryEnd = message.text.indexOf("\n\n");
    if (message.text.count('\n') >= kMostLinesInABox && summaryEnd > 0) {
        box->setText(message.text.left(summaryEnd));
        box->setDetailedText(message.text.mid(summaryEnd + 2));
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
