#include "QuendKivoApp/rotator/RotatorCompass.h"

#include "QuendKivoApp/kit/Animations.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/Palette.h"
#include "QuendKivoApp/rotator/RotatorPanelRules.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace kivo {

namespace {

constexpr int needleMilliseconds = 160;
// A spring of response 0.18 s, damping 0.85, settles like this curve.
constexpr int readoutMilliseconds = 180;
constexpr double centreDotRadius = 4.5;

// Multiplies, so a colour that is already translucent stays in proportion.
QColor fadedBy(QColor color, double opacity)
{
    color.setAlphaF(float(color.alphaF() * opacity));
    return color;
}

// A shadow of radius `radius`: a few widening translucent copies.
void glow(QPainter &painter, const QPainterPath &shape, const QColor &color, double radius)
{
    painter.save();
    painter.setBrush(Qt::NoBrush);
    for (int step = 3; step >= 1; --step) {
        painter.setPen(QPen(fadedBy(color, 0.18), radius * step / 1.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawPath(shape);
    }
    painter.restore();
}

QFont roundedBold(int size)
{
    QFont font = kitFont(size, QFont::Bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace

RotatorCompass::RotatorCompass(QWidget *parent) : QWidget(parent), m_cyan(MonitorPalette::cyan())
{
    setObjectName(QStringLiteral("rotator.compass"));
    setAccessibleName(QStringLiteral("Antenna azimuth"));
    setToolTip(QStringLiteral("Click anywhere on the compass to turn ARCO to that bearing"));
    setCursor(Qt::PointingHandCursor);
    m_needleAnimation = new QVariantAnimation(this);
    m_needleAnimation->setEasingCurve(QEasingCurve::Linear);
    connect(m_needleAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_displayedAzimuth = value.toDouble();
        update();
    });
    m_readoutAnimation = new QVariantAnimation(this);
    m_readoutAnimation->setEasingCurve(QEasingCurve::OutCubic);
    m_readoutAnimation->setStartValue(0.0);
    m_readoutAnimation->setEndValue(1.0);
    connect(m_readoutAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_readoutProgress = value.toDouble();
        update();
    });
    showAccessibleValue();
}

void RotatorCompass::setAzimuth(std::optional<double> azimuth)
{
    if (azimuth == m_azimuth)
        return;
    const bool firstShown = !m_azimuth && azimuth;
    m_azimuth = azimuth;
    m_needleAnimation->stop();
    if (!azimuth) {
        // The needle goes; a new one starts straight at the next azimuth.
        m_displayedAzimuth = m_needleTarget = 0;
    } else if (firstShown) {
        m_displayedAzimuth = m_needleTarget = *azimuth;
    } else {
        m_needleTarget = RotatorPanelRules::nextShownAzimuth(m_displayedAzimuth, *azimuth);
        const int duration = animations::duration(needleMilliseconds);
        if (duration <= 0) {
            m_displayedAzimuth = m_needleTarget;
        } else {
            m_needleAnimation->setDuration(duration);
            m_needleAnimation->setStartValue(m_displayedAzimuth);
            m_needleAnimation->setEndValue(m_needleTarget);
            m_needleAnimation->start();
        }
    }
    const bool figuresChanged = azimuth && readoutText() != RotatorPanelRules::degreesText(m_readoutFrom);
    m_readoutFrom = azimuth.value_or(m_readoutFrom);
    const int rollDuration = animations::duration(readoutMilliseconds);
    if (figuresChanged && !firstShown && rollDuration > 0) {
        m_readoutAnimation->stop();
        m_readoutAnimation->setDuration(rollDuration);
        m_readoutAnimation->start();
    }
    showAccessibleValue();
    update();
}

void RotatorCompass::setBeamWidth(double degrees)
{
    if (degrees != m_beamWidth) {
        m_beamWidth = degrees;
        update();
    }
}

void RotatorCompass::setMotion(bool isMoving, const QString &motionDirection)
{
    if (isMoving != m_isMoving || motionDirection != m_motionDirection) {
        m_isMoving = isMoving;
        m_motionDirection = motionDirection;
        update();
    }
}

QString RotatorCompass::readoutText() const
{
    return m_azimuth ? RotatorPanelRules::degreesText(*m_azimuth) : QStringLiteral("---°");
}

QString RotatorCompass::readoutCaption() const
{
    return RotatorPanelRules::readoutCaption(m_isMoving, m_motionDirection);
}

QString RotatorCompass::accessibleValue() const
{
    return RotatorPanelRules::accessibilityValue(m_azimuth);
}

void RotatorCompass::showAccessibleValue()
{
    setAccessibleDescription(accessibleValue() + QStringLiteral(". Click a bearing on the compass to turn the antenna"));
}

void RotatorCompass::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && RotatorPanelRules::tapBearing(size(), event->position()))
        m_pressedAt = event->position();
    else
        m_pressedAt.reset();
}

void RotatorCompass::mouseReleaseEvent(QMouseEvent *event)
{
    const bool pressed = m_pressedAt.has_value();
    m_pressedAt.reset();
    if (!pressed || event->button() != Qt::LeftButton)
        return;
    if (const auto bearing = RotatorPanelRules::tapBearing(size(), event->position()))
        emit turnRequested(*bearing);
}

void RotatorCompass::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF square = RotatorPanelRules::dialSquare(size());
    const double side = square.width();
    const double radius = side / 2;
    if (radius <= 24)
        return;
    painter.translate(square.center());

    QRadialGradient face(QPointF(0, 0), radius);
    face.setColorAt(0, fadedBy(platformColor(PlatformColor::Cyan, Appearance::Dark), 0.10));
    face.setColorAt(std::min(1.0, 8 / radius), fadedBy(platformColor(PlatformColor::Cyan, Appearance::Dark), 0.10));
    face.setColorAt(1, QColor(0, 0, 0, int(0.36 * 255)));
    painter.setPen(Qt::NoPen);
    painter.setBrush(face);
    painter.drawEllipse(QPointF(0, 0), radius, radius);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(fadedBy(m_cyan, 0.35), 1));
    painter.drawEllipse(QPointF(0, 0), radius - 0.5, radius - 0.5);

    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 36; ++i) {
        const bool cardinal = i % 9 == 0;
        const double width = cardinal ? 2 : 1;
        const double length = i % 3 == 0 ? 10 : 6;
        painter.save();
        painter.rotate(i * 10.0);
        painter.setBrush(cardinal ? m_cyan : fadedBy(m_cyan, 0.38));
        painter.drawRoundedRect(QRectF(-width / 2, -(radius - 9) - length / 2, width, length), width / 2, width / 2);
        painter.restore();
    }

    painter.setFont(roundedBold(10));
    painter.setPen(fadedBy(m_cyan, 0.82));
    const std::pair<const char *, double> letters[] = {{"N", 0}, {"E", 90}, {"S", 180}, {"W", 270}};
    for (const auto &[letter, angle] : letters) {
        const double theta = angle * M_PI / 180;
        const QPointF at(std::sin(theta) * (radius - 23), -std::cos(theta) * (radius - 23));
        painter.drawText(QRectF(at.x() - 10, at.y() - 10, 20, 20), Qt::AlignCenter, QString::fromLatin1(letter));
    }

    const QColor orange = platformColor(PlatformColor::Orange, Appearance::Dark);
    // The readout's two lines sit above and below the centre dot, which
    // would otherwise land on the figures ("-●-°").
    const QRectF figuresBox(-60, -centreDotRadius - 31, 120, 30);
    painter.setFont(roundedBold(24));
    if (m_azimuth) {
        paintNeedle(painter, side);
        QColor figures = m_cyan;
        figures.setAlphaF(float(0.3 + 0.7 * m_readoutProgress));
        painter.setPen(figures);
        const double roll = (1 - m_readoutProgress) * 6;
        painter.drawText(figuresBox.translated(0, roll), Qt::AlignHCenter | Qt::AlignBottom, readoutText());
        painter.setFont(roundedBold(8));
        painter.setPen(m_isMoving ? orange : fadedBy(m_cyan, 0.72));
        painter.drawText(QRectF(-60, centreDotRadius + 3, 120, 12), Qt::AlignHCenter | Qt::AlignTop,
                         readoutCaption());
    } else {
        painter.setPen(platformColor(PlatformColor::Secondary, Appearance::Dark));
        painter.drawText(figuresBox, Qt::AlignHCenter | Qt::AlignBottom, readoutText());
    }

    const QColor dot = m_isMoving ? orange : m_cyan;
    QPainterPath centre;
    centre.addEllipse(QPointF(0, 0), centreDotRadius, centreDotRadius);
    glow(painter, centre, fadedBy(dot, 0.8), 5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(dot);
    painter.drawPath(centre);
}

void RotatorCompass::paintNeedle(QPainter &painter, double side)
{
    const QColor needle = MonitorPalette::cyan();
    painter.save();
    painter.rotate(m_displayedAzimuth);

    const double wedgeRadius = side * 0.48;
    const double width = std::clamp(m_beamWidth, 0.0, 360.0);
    QPainterPath wedge;
    wedge.moveTo(0, 0);
    // Qt's angles run counter-clockwise from 3 o'clock; up is 90.
    wedge.arcTo(QRectF(-wedgeRadius, -wedgeRadius, 2 * wedgeRadius, 2 * wedgeRadius), 90 + width / 2, -width);
    wedge.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(fadedBy(needle, m_isMoving ? 0.20 : 0.12));
    painter.drawPath(wedge);

    const double needleWidth = m_isMoving ? 5 : 4;
    const double length = side * 0.38;
    QPainterPath capsule;
    capsule.addRoundedRect(QRectF(-needleWidth / 2, -length, needleWidth, length), needleWidth / 2, needleWidth / 2);
    glow(painter, capsule, fadedBy(needle, m_isMoving ? 0.75 : 0.45), m_isMoving ? 5 : 3);
    QLinearGradient fill(QPointF(0, 0), QPointF(0, -length));
    fill.setColorAt(0, fadedBy(needle, 0.28));
    fill.setColorAt(1, needle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawPath(capsule);
    painter.restore();
}

} // namespace kivo
