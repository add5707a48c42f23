#pragma once

// The small world map under the compass: equirectangular Natural Earth
// outlines framed on the rotator target (or the whole world with the home
// dot), panned by dragging and zoomed by the wheel until the target moves.

#include "KivoCore/station/RotatorGeometry.h"

#include <QPointF>
#include <QWidget>

#include <optional>

namespace kivo {

class RotatorMapInset : public QWidget {
    Q_OBJECT
public:
    explicit RotatorMapInset(QWidget *parent = nullptr);

    void setContent(const std::optional<GeoCoordinate> &home, const std::optional<GeoCoordinate> &target,
                    const QString &targetLabel);

    QString identity() const { return m_identity; }
    // The map's scale (pixels per degree) as the operator left it.
    double pixelsPerDegree() const { return m_scale; }
    QPointF screenPosition(const GeoCoordinate &point) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void frame();

    std::optional<GeoCoordinate> m_home;
    std::optional<GeoCoordinate> m_target;
    QString m_targetLabel;
    QString m_identity;
    GeoCoordinate m_center;
    double m_scale = 1;
    std::optional<QPointF> m_dragFrom;
};

} // namespace kivo
