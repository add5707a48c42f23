#pragma once

// A whole-number entry field shown in the current locale's integer format
// ("15,002" in en_US), or as plain digits for an identifier (a port, a baud
// rate, a slice number). Text that is no number in range leaves the value
// unchanged; the field keeps that text and shows itself invalid, with the
// sentence that says why, until the operator corrects it.

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
    // the text alone while the operator is editing or has left it invalid.
    void setValue(qint64 value);

    // Plain digits in every locale: the number names something.
    void setIdentifier(bool identifier);
    // Out-of-range numbers are clamped to the range instead of rejected.
    void setClamping(bool clamping) { m_clamping = clamping; }
    // Every committed number is reported, also one equal to the value.
    void setCommitsUnchanged(bool always) { m_commitsUnchanged = always; }

    // Whether the text left at the last commit was no number in range, and
    // the sentence naming the field (its accessible name) and the range.
    bool isInvalid() const { return m_invalid; }
    QString problem() const;

    // The parse rule, alone: locale digits and grouping, within the range
    // (or clamped to it).
    static std::optional<qint64> parse(const QString &text, qint64 minimum, qint64 maximum, bool clamping = false);

signals:
    void valueCommitted(qint64 value);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void commit();
    void showValue();
    void setInvalid(bool invalid);

    qint64 m_minimum;
    qint64 m_maximum;
    qint64 m_value = 0;
    bool m_identifier = false;
    bool m_clamping = false;
    bool m_commitsUnchanged = false;
    bool m_invalid = false;
};

// The problem of the first invalid number field under `root`, or an empty
// text when every field there holds a number in its range.
QString invalidNumberProblem(const QWidget *root);

} // namespace kivo
