#include "QuendKivoApp/kit/ElidedLabel.h"

#include "QuendKivoApp/kit/LineLimitedLabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>

namespace kivo {

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
}

QRect ElidedLabel::textRect() const
{
    return contentsRect().adjusted(margin(), margin(), -margin(), -margin());
}

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideRight, textRect().width());
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QSize hint = QLabel::minimumSizeHint();
    const int ellipsis = fontMetrics().horizontalAdvance(QChar(0x2026)) + 2 * margin();
    return {std::min(hint.width(), ellipsis), hint.height()};
}

bool ElidedLabel::event(QEvent *event)
{
    // Eliding is measured for a tooltip only.
    return (event->type() == QEvent::ToolTip && showWholeTextTip(this, event, isElided(), text()))
        || QLabel::event(event);
}

void ElidedLabel::paintEvent(QPaintEvent *event)
{
    const QString shown = shownText();
    if (shown == text()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    const auto align = QStyle::visualAlignment(layoutDirection(), alignment());
    style()->drawItemText(&painter, textRect(), int(align), palette(), isEnabled(), shown, foregroundRole());
}

} // namespace kivo
