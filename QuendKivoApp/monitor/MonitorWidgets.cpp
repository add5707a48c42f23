#include "QuendKivoApp/monitor/MonitorWidgets.h"

#include "QuendKivoApp/kit/Palette.h"

#include <QPainter>
#include <QPainterPath>

namespace kivo {

FilledBox::FilledBox(const QColor &fill, qreal cornerRadius, QWidget *parent)
    : QWidget(parent), m_fill(fill), m_cornerRadius(cornerRadius)
{
}

void FilledBox::setFill(const QColor &fill)
{
    if (fill == m_fill)
        return;
    m_fill = fill;
    update();
}

void FilledBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_fill);
    painter.drawRoundedRect(QRectF(rect()), m_cornerRadius, m_cornerRadius);
}

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    if (palette.color(QPalette::WindowText) == color)
        return;
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

QLabel *monitorLabel(const QFont &font, const QColor &color, const char *objectName)
{
    auto *label = new QLabel;
    label->setFont(font);
    label->setWordWrap(false);
    label->setTextFormat(Qt::PlainText);
    // A long line is cut at the column's edge instead of widening the fixed panel.
    label->setMinimumWidth(1);
    setTextColor(label, color);
    if (objectName)
        label->setObjectName(QString::fromLatin1(objectName));
    return label;
}

QColor monitorSecondary() { return platformColor(PlatformColor::Secondary, Appearance::Dark); }

} // namespace kivo
