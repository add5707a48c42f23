#include "QuendKivoApp/kit/ReturnAction.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTextEdit>
#include <QToolButton>

namespace kivo {

ReturnAction returnAction(const QWidget *focused)
{
    // A check box or a radio button keeps Qt's own key, Space: Return must
    // never flip a setting such as the transmit permission.
    if (qobject_cast<const QPushButton *>(focused) || qobject_cast<const QToolButton *>(focused))
        return ReturnAction::PressFocusedButton;
    if (qobject_cast<const QAbstractButton *>(focused))
        return ReturnAction::Nothing;
    if (qobject_cast<const QLineEdit *>(focused) || qobject_cast<const QAbstractSpinBox *>(focused)
        || qobject_cast<const QTextEdit *>(focused) || qobject_cast<const QPlainTextEdit *>(focused)
        || qobject_cast<const QComboBox *>(focused) || qobject_cast<const QAbstractItemView *>(focused)
        || qobject_cast<const QAbstractSlider *>(focused) || qobject_cast<const QTabBar *>(focused))
        return ReturnAction::Nothing;
    return ReturnAction::WindowAction;
}

bool takeReturn(QWidget *window, QKeyEvent *event, const std::function<void()> &windowAction)
{
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!isReturn || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    // A button that is not a dialog's default ignores Return and lets it
    // travel up to its window.
    QWidget *focused = window->focusWidget();
    switch (returnAction(focused)) {
    case ReturnAction::WindowAction:
        if (windowAction)
            windowAction();
        break;
    case ReturnAction::PressFocusedButton:
        static_cast<QAbstractButton *>(focused)->click();
        break;
    case ReturnAction::Nothing:
        break;
    }
    event->accept();
    return true;
}

} // namespace kivo
