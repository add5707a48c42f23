#include "QuendKivoApp/kit/EntryField.h"

#include <QKeyEvent>

namespace kivo {

void EntryField::keyPressEvent(QKeyEvent *event)
{
    QLineEdit::keyPressEvent(event);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        event->accept();
}

} // namespace kivo
