#include "QuendKivoApp/kit/AdaptiveRow.h"

#include <QBoxLayout>
#include <QResizeEvent>

namespace kivo {

AdaptiveRow::AdaptiveRow(int spacing, QWidget *parent)
    : QWidget(parent), m_layout(new QBoxLayout(QBoxLayout::LeftToRight, this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(spacing);
    m_layout->setSizeConstraint(QLayout::SetNoConstraint);
}

void AdaptiveRow::addWidget(QWidget *widget)
{
    m_children.append(widget);
    m_layout->addWidget(widget, 1, isHorizontal() ? Qt::AlignTop : Qt::Alignment());
}

bool AdaptiveRow::isHorizontal() const { return m_layout->direction() == QBoxLayout::LeftToRight; }

int AdaptiveRow::horizontalWidth() const
{
    int width = 0;
    for (const QWidget *child : m_children)
        width += std::max(child->minimumSizeHint().width(), child->minimumWidth());
    return width + m_layout->spacing() * std::max<qsizetype>(0, m_children.size() - 1);
}

QSize AdaptiveRow::minimumSizeHint() const
{
    // The stacked arrangement's minimum, so the row never holds the window wide.
    int width = 0;
    int height = 0;
    for (const QWidget *child : m_children) {
        const QSize hint = child->minimumSizeHint();
        width = std::max(width, hint.width());
        height = isHorizontal() ? std::max(height, hint.height()) : height + hint.height();
    }
    if (!isHorizontal())
        height += m_layout->spacing() * std::max<qsizetype>(0, m_children.size() - 1);
    return {width, height};
}

QSize AdaptiveRow::sizeHint() const { return m_layout->sizeHint(); }

void AdaptiveRow::arrange(int width)
{
    const auto direction = width >= horizontalWidth() ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
    if (direction == m_layout->direction())
        return;
    m_layout->setDirection(direction);
    for (QWidget *child : m_children)
        m_layout->setAlignment(child, direction == QBoxLayout::LeftToRight ? Qt::AlignTop : Qt::Alignment());
    updateGeometry();
}

void AdaptiveRow::resizeEvent(QResizeEvent *event)
{
    arrange(event->size().width());
    QWidget::resizeEvent(event);
}

} // namespace kivo
