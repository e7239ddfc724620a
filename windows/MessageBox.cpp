#include "windows/MessageBox.h"

#include <QMessageBox>

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
} // namespace

std::unique_ptr<QMessageBox> QtMessageBox::build(QWidget* parent, const Message& message)
{
    auto box = std::make_unique<QMessageBox>(parent);
    box->setWindowTitle(message.title);
    box->setText(message.text);
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
