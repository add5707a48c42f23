#pragma once

// The prominent button: the window's default button, which Fusion draws
// with its accent frame. Fusion draws the keyboard focus as that same
// frame, so the focus gets a ring of its own inside the face.

#include <QPushButton>

namespace kivo {

class ProminentButton : public QPushButton {
    Q_OBJECT
public:
    explicit ProminentButton(const QString &text, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace kivo
