#include "QuendKivoApp/kit/NumberField.h"

#include "QuendKivoApp/kit/Palette.h"

#include <QLocale>
#include <QPainter>

#include <algorithm>

namespace kivo {

NumberField::NumberField(NumberFieldRange range, CommitRule rule, QWidget *parent)
    : EntryField(parent), m_minimum(range.minimum), m_maximum(range.maximum), m_value(range.minimum)
{
    showValue();
    connect(this, &QLineEdit::editingFinished, this, &NumberField::commit);
    if (rule == CommitRule::OnEveryChange) {
        connect(this, &QLineEdit::textEdited, this, [this](const QString &text) {
            const auto parsed = parse(text, m_minimum, m_maximum, m_clamping);
            if (parsed)
                setInvalid(false);
            if (parsed && *parsed != m_value) {
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

void NumberField::setIdentifier(bool identifier)
{
    m_identifier = identifier;
    if (!m_invalid)
        showValue();
}

void NumberField::setValue(qint64 value)
{
    m_value = value;
    if (!hasFocus() && !m_invalid)
        showValue();
}

QString NumberField::problem() const
{
    if (!m_invalid)
        return {};
    const QString title = accessibleName().isEmpty() ? placeholderText() : accessibleName();
    return title + QStringLiteral(" must be a number from ") + QString::number(m_minimum) + QStringLiteral(" to ")
        + QString::number(m_maximum) + QLatin1Char('.');
}

void NumberField::showValue()
{
    QLocale locale;
    if (m_identifier)
        locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    const QString shown = locale.toString(m_value);
    if (text() != shown)
        setText(shown);
}

void NumberField::setInvalid(bool invalid)
{
    if (invalid == m_invalid)
        return;
    m_invalid = invalid;
    setToolTip(problem());
    setAccessibleDescription(problem());
    update();
}

void NumberField::commit()
{
    const auto parsed = parse(text(), m_minimum, m_maximum, m_clamping);
    setInvalid(!parsed);
    if (!parsed)
        return;
    const bool changed = *parsed != m_value || m_commitsUnchanged;
    m_value = *parsed;
    showValue();
    if (changed)
        emit valueCommitted(m_value);
}

void NumberField::paintEvent(QPaintEvent *event)
{
    EntryField::paintEvent(event);
    if (!m_invalid)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(textColor(PlatformColor::Red, palette()), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 3, 3);
}

QString invalidNumberProblem(const QWidget *root)
{
    for (const NumberField *field : root->findChildren<NumberField *>())
        if (field->isInvalid())
            return field->problem();
    return {};
}

} // namespace kivo
