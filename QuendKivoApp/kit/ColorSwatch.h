#pragma once

// A colour well: a small button filled with its colour that opens the
// colour dialog (no opacity) when clicked.

#include <QColor>
#include <QPushButton>

namespace kivo {

class ColorSwatch : public QPushButton {
    Q_OBJECT
public:
    explicit ColorSwatch(QWidget *parent = nullptr);

    QColor color() const { return m_color; }
    // Shows a colour from the model; never emits colorPicked.
    void showColor(const QColor &color);
    // What a pick in the dialog does: shows the colour and emits colorPicked.
    void setColor(const QColor &color);

signals:
    void colorPicked(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void pick();

    QColor m_color;
};

} // namespace kivo
