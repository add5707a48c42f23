#pragma once

// A picker's choices from the whole numbers 1 to an upper bound, each shown
// as a prefix and the number ("Priority 3", "ANT2") and tagged with it.

#include <QList>
#include <QString>

class QComboBox;

namespace kivo {

struct NumberedChoice {
    QString title;
    int number;

    bool operator==(const NumberedChoice &) const = default;
};

QList<NumberedChoice> numberedChoices(const QString &prefix, int upperBound);
void fillNumberedChoices(QComboBox *picker, const QString &prefix, int upperBound);

} // namespace kivo
