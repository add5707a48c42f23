#pragma once

// Small pieces the monitor's panels are made of: a filled, optionally
// rounded box and labels in one colour.

#include "QuendKivoApp/kit/ElidedLabel.h"

#include <QColor>
#include <QFont>
#include <QWidget>

class QTimer;

namespace kivo {

class FilledBox : public QWidget {
    Q_OBJECT
public:
    explicit FilledBox(const QColor &fill, qreal cornerRadius = 0, QWidget *parent = nullptr);
    void setFill(const QColor &fill);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
    qreal m_cornerRadius;
};

// A small busy indicator: twelve spokes, turning while shown unless
// animations are off.
class Spinner : public QWidget {
    Q_OBJECT
public:
    Spinner(const QColor &color, int size, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QColor m_color;
    int m_step = 0;
    QTimer *m_timer;
};

// A one-line label in a fixed colour; a text too long for its place ends in
// an ellipsis and shows whole as the tooltip.
ElidedLabel *monitorLabel(const QFont &font, const QColor &color, const char *objectName = nullptr);
QColor monitorSecondary();

} // namespace kivo
