#include "QuendKivoApp/kit/NumberedChoices.h"

#include <QComboBox>

namespace kivo {

QList<NumberedChoice> numberedChoices(const QString &prefix, int upperBound)
{
    QList<NumberedChoice> choices;
    for (int number = 1; number <= upperBound; ++number)
        choices.append({prefix + QString::number(number), number});
    return choices;
}

void fillNumberedChoices(QComboBox *picker, const QString &prefix, int upperBound)
{
    picker->clear();
    for (const NumberedChoice &choice : numberedChoices(prefix, upperBound))
        picker->addItem(choice.title, choice.number);
}

} // namespace kivo
