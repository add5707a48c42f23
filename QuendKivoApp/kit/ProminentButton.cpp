#include "QuendKivoApp/kit/ProminentButton.h"

#include <QPainter>
#include <QStyleOptionButton>

namespace kivo {

ProminentButton::ProminentButton(const QString &text, QWidget *parent) : QPushButton(text, parent)
{
    setDefault(true);
}

void ProminentButton::paintEvent(QPaintEvent *event)
{
    QPushButton::paintEvent(event);
    QStyleOptionButton option;
    initStyleOption(&option);
    // As the style shows focus: only after the keyboard moved it.
    if (!(option.state & QStyle::State_HasFocus) || !(option.state & QStyle::State_KeyboardFocusChange))
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The title's colour, which reads on the face.
    painter.setPen(QPen(option.palette.color(QPalette::ButtonText), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(4.5, 4.5, -4.5, -4.5), 2, 2);
}

} // namespace kivo
