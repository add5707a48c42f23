#include "QuendKivoApp/rotator/RotatorMapInset.h"

#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/Palette.h"
#include "QuendKivoApp/rotator/RotatorMapRules.h"

#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

const RotatorMapRules::WorldOutlines &worldOutlines()
{
    static const RotatorMapRules::WorldOutlines outlines = [] {
        QFile file(QStringLiteral(":/rotator/world-110m.txt"));
        return RotatorMapRules::parseWorldOutlines(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }();
    return outlines;
}

constexpr double maximumPixelsPerDegree = 400;

} // namespace

RotatorMapInset::RotatorMapInset(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("rotator.map"));
    setCursor(Qt::OpenHandCursor);
    setContent(std::nullopt, std::nullopt, QStringLiteral("No target"));
}

void RotatorMapInset::setContent(const std::optional<GeoCoordinate> &home, const std::optional<GeoCoordinate> &target,
                                 const QString &targetLabel)
{
    // The monitor hands its content over on every snapshot: an unchanged map
    // is not drawn again.
    if (home == m_home && target == m_target && targetLabel == m_targetLabel && !m_identity.isEmpty())
        return;
    m_home = home;
    m_target = target;
    m_targetLabel = targetLabel;
    setToolTip(RotatorMapRules::tooltip(target.has_value()));
    const QString identity = RotatorMapRules::identity(target);
    if (identity != m_identity) {
        m_identity = identity;
        frame();
    }
    update();
}

void RotatorMapInset::frame()
{
    const RotatorMapRules::Region region = RotatorMapRules::initialRegion(m_target);
    m_center = region.center;
    if (!size().isEmpty())
        m_scale = RotatorMapRules::fittedScale(region, size());
}

// The layout sizes the map after it was first framed, at Qt's default size.
void RotatorMapInset::resizeEvent(QResizeEvent *)
{
    frame();
}

QPointF RotatorMapInset::screenPosition(const GeoCoordinate &point) const
{
    return RotatorMapRules::screenPoint(point, m_center, m_scale, size());
}

void RotatorMapInset::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragFrom = event->position();
        setCursor(Qt::ClosedHandCursor);
    }
}

void RotatorMapInset::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragFrom)
        return;
    const QPointF moved = event->position() - *m_dragFrom;
    m_dragFrom = event->position();
    m_center.longitude -= moved.x() / m_scale;
    m_center.latitude = std::clamp(m_center.latitude + moved.y() / m_scale, -90.0, 90.0);
    update();
}

void RotatorMapInset::mouseReleaseEvent(QMouseEvent *)
{
    m_dragFrom.reset();
    setCursor(Qt::OpenHandCursor);
}

void RotatorMapInset::wheelEvent(QWheelEvent *event)
{
    const double minimum = std::min(width() / 360.0, height() / 180.0) / 2;
    const double factor = std::pow(1.2, event->angleDelta().y() / 120.0);
    const double scale = std::clamp(m_scale * factor, minimum, maximumPixelsPerDegree);
    // Zoom about the point under the cursor.
    const QPointF at = event->position();
    const double longitude = m_center.longitude + (at.x() - width() / 2.0) / m_scale;
    const double latitude = m_center.latitude - (at.y() - height() / 2.0) / m_scale;
    m_scale = scale;
    m_center.longitude = longitude - (at.x() - width() / 2.0) / m_scale;
    m_center.latitude = std::clamp(latitude + (at.y() - height() / 2.0) / m_scale, -90.0, 90.0);
    event->accept();
    update();
}

void RotatorMapInset::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath clip;
    clip.addRoundedRect(bounds, 7, 7);
    painter.setClipPath(clip);
    painter.fillRect(rect(), srgb(0.03, 0.075, 0.12));

    const RotatorMapRules::WorldOutlines &world = worldOutlines();
    const QColor cyan = MonitorPalette::cyan();
    QColor land = srgb(0.09, 0.15, 0.19);
    QColor border = cyan;
    border.setAlphaF(0.22f);
    // The world repeats east and west, so panning never runs off its edge.
    const double firstCopy = std::floor((m_center.longitude - width() / 2.0 / m_scale + 180) / 360);
    const double lastCopy = std::floor((m_center.longitude + width() / 2.0 / m_scale + 180) / 360);
    for (double copy = firstCopy; copy <= lastCopy; ++copy) {
        painter.save();
        painter.translate(width() / 2.0, height() / 2.0);
        painter.scale(m_scale, m_scale);
        painter.translate(-m_center.longitude + copy * 360, m_center.latitude);
        painter.setPen(Qt::NoPen);
        painter.setBrush(land);
        painter.drawPath(world.land);
        QPen pen(border, 0.8);
        pen.setCosmetic(true);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(world.borders);
        painter.restore();
    }

    painter.setFont(kitFont(10, QFont::Bold));
    if (m_target) {
        const QColor purple = platformColor(PlatformColor::Purple, Appearance::Dark);
        const QPointF at = screenPosition(*m_target);
        QPainterPath pin;
        pin.moveTo(at);
        pin.arcTo(QRectF(at.x() - 8, at.y() - 24, 16, 16), 225, -270);
        pin.closeSubpath();
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(purple);
        painter.drawPath(pin);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(at.x() - 100, at.y() + 2, 200, 14), Qt::AlignHCenter | Qt::AlignTop,
                         RotatorMapRules::markerLabel(m_targetLabel));
    } else if (m_home) {
        const QColor homeCyan = platformColor(PlatformColor::Cyan, Appearance::Dark);
        const QPointF at = screenPosition(*m_home);
        QColor halo = homeCyan;
        painter.setPen(Qt::NoPen);
        for (int ring = 3; ring >= 1; --ring) {
            halo.setAlphaF(0.22f);
            painter.setBrush(halo);
            painter.drawEllipse(at, 4.0 + ring * 1.4, 4.0 + ring * 1.4);
        }
        painter.setBrush(homeCyan);
        painter.drawEllipse(at, 4.0, 4.0);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(at.x() - 50, at.y() + 6, 100, 14), Qt::AlignHCenter | Qt::AlignTop,
                         QStringLiteral("Home"));
    }

    painter.setClipping(false);
    painter.setPen(QPen(border, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(clip);
}

} // namespace kivo
