#pragma once

// Children side by side when they fit the width, else stacked; each child
// takes the full width available to it either way.

#include <QWidget>

class QBoxLayout;

namespace kivo {

class AdaptiveRow : public QWidget {
    Q_OBJECT
public:
    explicit AdaptiveRow(int spacing, QWidget *parent = nullptr);

    void addWidget(QWidget *widget);
    bool isHorizontal() const;

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    int horizontalWidth() const;
    void arrange(int width);

    QBoxLayout *m_layout;
    QList<QWidget *> m_children;
};

} // namespace kivo
