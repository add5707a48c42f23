#pragma once

// A whole-number entry field shown in the current locale's integer format
// ("15,002" in en_US). Text that does not parse as a number in range leaves
// the value unchanged and the field shows the value again.

#include "QuendKivoApp/kit/EntryField.h"

namespace kivo {

// The numbers a field accepts, both ends included.
struct NumberFieldRange {
    qint64 minimum = 0;
    qint64 maximum = 0;
};

class NumberField : public EntryField {
    Q_OBJECT
public:
    enum class CommitRule { WhenEditingEnds, OnEveryChange };

    explicit NumberField(NumberFieldRange range, CommitRule rule = CommitRule::WhenEditingEnds,
                         QWidget *parent = nullptr);

    qint64 value() const { return m_value; }
    // Shows a value from the model; never emits valueCommitted, and leaves
    // the text alone while the operator is editing.
    void setValue(qint64 value);

    // Digits without grouping separators (ports).
    void setGroupingShown(bool shown);
    // Out-of-range numbers are clamped to the range instead of rejected.
    void setClamping(bool clamping) { m_clamping = clamping; }
    // Every committed number is reported, also one equal to the value.
    void setCommitsUnchanged(bool always) { m_commitsUnchanged = always; }

    // The parse rule, alone: locale digits and grouping, within the range
    // (or clamped to it).
    static std::optional<qint64> parse(const QString &text, qint64 minimum, qint64 maximum, bool clamping = false);

signals:
    void valueCommitted(qint64 value);

private:
    void commit();
    void showValue();

    qint64 m_minimum;
    qint64 m_maximum;
    qint64 m_value = 0;
    bool m_groupingShown = true;
    bool m_clamping = false;
    bool m_commitsUnchanged = false;
};

} // namespace kivo
