#include "QuendKivoApp/kit/SymbolLabel.h"

#include "QuendKivoApp/kit/Icons.h"

#include <QEvent>

namespace kivo {

SymbolLabel::SymbolLabel(int pixelSize, QWidget *parent) : QLabel(parent), m_pixelSize(pixelSize)
{
    setFixedSize(pixelSize, pixelSize);
}

void SymbolLabel::setSymbol(const QString &symbol, PlatformColor color)
{
    if (symbol == m_symbol && color == m_color && !pixmap().isNull())
        return;
    m_symbol = symbol;
    m_color = color;
    draw();
}

void SymbolLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !m_symbol.isEmpty())
        draw();
}

void SymbolLabel::draw()
{
    m_tint = textColor(m_color, palette());
    setPixmap(symbolPixmap(m_symbol, m_tint, m_pixelSize));
}

} // namespace kivo
