#pragma once

// A symbol in a platform colour, tinted as text of that colour is: readable
// on the window it sits on, and drawn again whenever its palette changes.

#include "QuendKivoApp/kit/Palette.h"

#include <QLabel>

namespace kivo {

class SymbolLabel : public QLabel {
    Q_OBJECT
public:
    explicit SymbolLabel(int pixelSize, QWidget *parent = nullptr);

    void setSymbol(const QString &symbol, PlatformColor color);
    // The colour the symbol is drawn in now.
    QColor tint() const { return m_tint; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void draw();

    int m_pixelSize;
    QString m_symbol;
    PlatformColor m_color = PlatformColor::Secondary;
    QColor m_tint;
};

} // namespace kivo
