#include "QuendKivoApp/kit/EntryField.h"

#include "QuendKivoApp/kit/TextColor.h"

#include <QApplication>
#include <QKeyEvent>

namespace kivo {

EntryField::EntryField(QWidget *parent) : QLineEdit(parent) { setPlaceholderStyle(this); }

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
