#pragma once

// A decimal entry field in the current locale's format ("1.5" in en_US,
// "1,5" in de_DE). Text that does not parse, or parses to no finite
// number, leaves the value unchanged and the field shows the value again.

#include "QuendKivoApp/kit/EntryField.h"
#include <optional>

namespace kivo {

class DecimalField : public EntryField {
    Q_OBJECT
public:
    explicit DecimalField(QWidget *parent = nullptr);

    double value() const { return m_value; }
    // Shows a value from the model; never emits valueCommitted, and leaves
    // the text alone while the operator is editing.
    void setValue(double value);

    // The parse rule, alone: a non-finite result ("nan", "inf") is no number.
    static std::optional<double> parse(const QString &text);

signals:
    void valueCommitted(double value);

private:
    void commit();
    void showValue();

    double m_value = 0;
};

} // namespace kivo
