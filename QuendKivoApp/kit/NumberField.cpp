#include "QuendKivoApp/kit/NumberField.h"

#include <QLocale>

#include <algorithm>

namespace kivo {

NumberField::NumberField(NumberFieldRange range, CommitRule rule, QWidget *parent)
    : EntryField(parent), m_minimum(range.minimum), m_maximum(range.maximum), m_value(range.minimum)
{
    showValue();
    connect(this, &QLineEdit::editingFinished, this, &NumberField::commit);
    if (rule == CommitRule::OnEveryChange) {
        connect(this, &QLineEdit::textEdited, this, [this](const QString &text) {
            if (const auto parsed = parse(text, m_minimum, m_maximum, m_clamping); parsed && *parsed != m_value) {
                m_value = *parsed;
                emit valueCommitted(m_value);
            }
        });
    }
}

std::optional<qint64> NumberField::parse(const QString &text, qint64 minimum, qint64 maximum, bool clamping)
{
    bool ok = false;
    const qint64 number = QLocale().toLongLong(text.trimmed(), &ok);
    if (!ok)
        return std::nullopt;
    if (clamping)
        return std::clamp(number, minimum, maximum);
    if (number < minimum || number > maximum)
        return std::nullopt;
    return number;
}

void NumberField::setGroupingShown(bool shown)
{
    m_groupingShown = shown;
    showValue();
}

void NumberField::setValue(qint64 value)
{
    m_value = value;
    if (!hasFocus())
        showValue();
}

void NumberField::showValue()
{
    QLocale locale;
    if (!m_groupingShown)
        locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    const QString shown = locale.toString(m_value);
    if (text() != shown)
        setText(shown);
}

void NumberField::commit()
{
    const auto parsed = parse(text(), m_minimum, m_maximum, m_clamping);
    const bool changed = parsed && (*parsed != m_value || m_commitsUnchanged);
    if (parsed)
        m_value = *parsed;
    showValue();
    if (changed)
        emit valueCommitted(m_value);
}

} // namespace kivo
