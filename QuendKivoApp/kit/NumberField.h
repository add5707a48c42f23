#pragma once

// A whole-number entry field shown in the current locale's integer format
// ("15,002" in en_US). Text that does not parse as a number in range leaves
// the value unchanged and the field shows the value again.

#include "QuendKivoApp/kit/EntryField.h"

namespace kivo {

class NumberField : public EntryField {
    Q_OBJECT
public:
    enum class CommitRule { WhenEditingEnds, OnEveryChange };

    NumberField(qint64 minimum, qint64 maximum, CommitRule rule = CommitRule::WhenEditingEnds,
                QWidget *parent = nullptr);

    qint64 value() const { return m_value; }
    // Shows a value from the model; never emits valueCommitted, and leaves
    // the text alone while the operator is editing.
    void setValue(qint64 value);

    // The parse rule, alone: locale digits and grouping, within the range.
    static std::optional<qint64> parse(const QString &text, qint64 minimum, qint64 maximum);

signals:
    void valueCommitted(qint64 value);

private:
    void commit();
    void showValue();

    qint64 m_minimum;
    qint64 m_maximum;
    qint64 m_value = 0;
};

} // namespace kivo
