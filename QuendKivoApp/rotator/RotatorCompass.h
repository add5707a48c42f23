#pragma once

// The clickable compass dial: ticks, cardinal letters, the needle with its
// beam wedge (taking the short way round), the azimuth readout, and a tap
// on the disc that asks for a turn to that bearing.

#include <QColor>
#include <QPointF>
#include <QWidget>

#include <optional>

class QVariantAnimation;

namespace kivo {

class RotatorCompass : public QWidget {
    Q_OBJECT
public:
    explicit RotatorCompass(QWidget *parent = nullptr);

    void setAzimuth(std::optional<double> azimuth);
    void setBeamWidth(double degrees);
    void setMotion(bool isMoving, const QString &motionDirection);

    std::optional<double> azimuth() const { return m_azimuth; }
    // The angle the needle is drawn at (accumulated, not folded).
    double displayedAzimuth() const { return m_displayedAzimuth; }
    QString readoutText() const;
    QString readoutCaption() const;
    QString accessibleValue() const;

signals:
    void turnRequested(double bearing);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void paintNeedle(QPainter &painter, double side);
    void showAccessibleValue();

    std::optional<double> m_azimuth;
    double m_beamWidth = 5;
    bool m_isMoving = false;
    QString m_motionDirection;
    double m_displayedAzimuth = 0;
    double m_needleTarget = 0;
    std::optional<QPointF> m_pressedAt;
    QVariantAnimation *m_needleAnimation = nullptr;
    // 0 to 1 while new figures roll into the readout.
    QVariantAnimation *m_readoutAnimation = nullptr;
    double m_readoutProgress = 1;
    double m_readoutFrom = 0;
    QColor m_cyan;
};

} // namespace kivo
