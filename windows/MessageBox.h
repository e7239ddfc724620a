#pragma once

// The message-box seam: real modal boxes, or scripted answers in tests.

#include <QString>

#include <memory>

class QMessageBox;
class QWidget;

// Every message box of the program goes through this facade, so that tests can answer the boxes and
// read back what was shown, while the program shows real modal QMessageBoxes.
class MessageBox
{
public:
    enum class Icon
    {
        Information,
        Exclamation,
        Question,
    };

    enum class Buttons
    {
        Ok,
        YesNo,
    };

    enum class Answer
    {
        Ok,
        Yes,
        No,
    };

    struct Message
    {
        QString text;
        QString title;
        Icon icon = Icon::Information;
        Buttons buttons = Buttons::Ok;
        Answer defaultButton = Answer::Ok;

        bool operator==(const Message&) const = default;
    };

    virtual ~MessageBox() = default;

    // Shows the message modally over parent (or on its own when parent is null) and returns the button
    // the user pressed.
    virtual Answer show(QWidget* parent, const Message& message) = 0;
};

// The real message boxes.
class QtMessageBox : public MessageBox
{
public:
    Answer show(QWidget* parent, const Message& message) override;

    // The box exactly as show() presents it, not yet shown.
    static std::unique_ptr<QMessageBox> build(QWidget* parent, const Message& message);
};
