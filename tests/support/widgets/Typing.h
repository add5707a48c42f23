#pragma once

// Types into a field as an operator does: focus, replace, Return, leave.

#include <QLineEdit>
#include <QTest>

namespace kivo::test {

inline void typeAndReturn(QLineEdit *field, const QString &text)
{
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
    field->clearFocus();
}

} // namespace kivo::test
