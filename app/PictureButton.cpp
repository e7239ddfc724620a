// Painting of the picture buttons: face, bevel, caption and focus frame.

#include "app/PictureButton.h"

#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

namespace {
constexpr int kFocusFrameWidth = 2;
} // namespace

PictureButton::PictureButton(const QString& caption, const QPixmap& picture, QWidget* parent)
    : QPushButton(caption, parent)
    , m_picture(picture)
{
}

QPixmap PictureButton::picture() const
{
    return m_picture;
}

void PictureButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool sunken = isDown();
    const QRect face = rect().adjusted(2, 2, -2, -2);

    painter.fillRect(rect(), Qt::white);
    painter.save();
    painter.setClipRect(face);
    QRect pictureRect(QPoint(), m_picture.deviceIndependentSize().toSize());
    pictureRect.moveCenter(face.center());
    if (sunken) {
        pictureRect.translate(1, 1);
    }
    painter.drawPixmap(pictureRect.topLeft(), m_picture);
    painter.restore();

    qDrawWinButton(&painter, rect(), palette(), sunken, nullptr);

    QRect captionRect = face;
    if (sunken) {
        captionRect.translate(1, 1);
    }
    painter.setFont(font());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(captionRect, Qt::AlignCenter | Qt::TextShowMnemonic, text());

    if (hasFocus()) {
        // The style's focus ring is a thin line easily lost on the picture: a frame of two pixels
        // in the caption's colour is seen at a glance.
        painter.setPen(
            QPen(palette().color(QPalette::ButtonText), kFocusFrameWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(face).adjusted(1 + kFocusFrameWidth / 2.0,
                                               1 + kFocusFrameWidth / 2.0,
                                               -1 - kFocusFrameWidth / 2.0,
                                               -1 - kFocusFrameWidth / 2.0));
    }
}
