#include "QuendKivoApp/monitor/MonitorWidgets.h"

#include "QuendKivoApp/kit/Animations.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/Palette.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>

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

Spinner::Spinner(const QColor &color, int size, QWidget *parent)
    : QWidget(parent), m_color(color), m_timer(new QTimer(this))
{
    setFixedSize(size, size);
    m_timer->setInterval(80);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % 12;
        update();
    });
}

void Spinner::showEvent(QShowEvent *)
{
    if (animations::enabled())
        m_timer->start();
}

void Spinner::hideEvent(QHideEvent *) { m_timer->stop(); }

void Spinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    const qreal radius = width() / 2.0;
    for (int spoke = 0; spoke < 12; ++spoke) {
        // The leading spoke is brightest; the ones behind it fade.
        const int age = (m_step - spoke + 12) % 12;
        QPen pen(withOpacity(m_color, 1.0 - age / 13.0), qMax<qreal>(1.5, radius / 4.5), Qt::SolidLine, Qt::RoundCap);
        painter.setPen(pen);
        painter.save();
        painter.rotate(spoke * 30.0);
        painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.9));
        painter.restore();
    }
}

ElidedLabel *monitorLabel(const QFont &font, const QColor &color, const char *objectName)
{
    auto *label = new ElidedLabel;
    label->setFont(font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Without a colour yet the label shows the panel's text colour until its first refresh.
    if (color.isValid())
        setFixedForegroundColor(label, color);
    if (objectName)
        label->setObjectName(QString::fromLatin1(objectName));
    return label;
}

QColor monitorSecondary() { return platformColor(PlatformColor::Secondary, Appearance::Dark); }

} // namespace kivo
