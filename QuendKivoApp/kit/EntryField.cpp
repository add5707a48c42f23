#include "QuendKivoApp/kit/EntryField.h"

#include <QApplication>
#include <QKeyEvent>

namespace kivo {

void EntryField::keyPressEvent(QKeyEvent *event)
{
    QLineEdit::keyPressEvent(event);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        event->accept();
}

void commitFocusedField()
{
    if (auto *field = qobject_cast<EntryField *>(QApplication::focusWidget()))
        emit field->editingFinished();
}

} // namespace kivo
