#pragma once

// A one-line label whose text ends in an ellipsis when it is wider than the
// label, never cut off mid-letter; the whole text is then its tooltip.
// text() stays the whole text.

#include <QLabel>

namespace kivo {

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    // The text as it is drawn at the label's width.
    QString shownText() const;
    bool isElided() const { return shownText() != text(); }

    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QRect textRect() const;
};

} // namespace kivo
