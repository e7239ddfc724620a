#pragma once

// The main window's push buttons with a picture face.

#include <QPixmap>
#include <QPushButton>

// A push button drawn as a picture face: a white face showing a picture (centred and clipped to the
// button) with the caption drawn over it in the button's font.
class PictureButton : public QPushButton
{
    Q_OBJECT

public:
    PictureButton(const QString& caption, const QPixmap& picture, QWidget* parent);

    QPixmap picture() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
};
