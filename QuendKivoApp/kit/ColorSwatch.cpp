#include "QuendKivoApp/kit/ColorSwatch.h"

#include <QColorDialog>
#include <QPainter>

namespace kivo {

ColorSwatch::ColorSwatch(QWidget *parent) : QPushButton(parent)
{
    setFixedSize(44, 22);
    connect(this, &QPushButton::clicked, this, &ColorSwatch::pick);
}

void ColorSwatch::showColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

void ColorSwatch::setColor(const QColor &color)
{
    showColor(color);
    emit colorPicked(color);
}

void ColorSwatch::pick()
{
    const QColor picked = QColorDialog::getColor(m_color, this, accessibleName());
    if (picked.isValid())
        setColor(picked);
}

void ColorSwatch::paintEvent(QPaintEvent *event)
{
    QPushButton::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(m_color);
    painter.drawRoundedRect(QRectF(rect()).adjusted(5, 5, -5, -5), 3, 3);
}

} // namespace kivo
