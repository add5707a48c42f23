#pragma once

// Small pieces the monitor's panels are made of: a filled, optionally
// rounded box and labels in one colour.

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QWidget>

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

// A one-line label that never wraps.
QLabel *monitorLabel(const QFont &font, const QColor &color, const char *objectName = nullptr);
void setTextColor(QWidget *widget, const QColor &color);
QColor monitorSecondary();

} // namespace kivo
