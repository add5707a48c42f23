#include "QuendKivoApp/kit/DecimalField.h"

#include <QLocale>
#include <cmath>

namespace kivo {

DecimalField::DecimalField(QWidget *parent) : EntryField(parent)
{
    showValue();
    connect(this, &QLineEdit::editingFinished, this, &DecimalField::commit);
}

std::optional<double> DecimalField::parse(const QString &text)
{
    bool ok = false;
    const double value = QLocale().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void DecimalField::setValue(double value)
{
    m_value = value;
    if (!hasFocus())
        showValue();
}

void DecimalField::showValue()
{
    const QString shown = QLocale().toString(m_value, 'g', 12);
    if (text() != shown)
        setText(shown);
}

void DecimalField::commit()
{
    const auto parsed = parse(text());
    const bool changed = parsed && *parsed != m_value;
    if (parsed)
        m_value = *parsed;
    showValue();
    if (changed)
        emit valueCommitted(m_value);
}

} // namespace kivo
