#include "QuendKivoApp/kit/FocusedWheel.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>

namespace kivo {

namespace {

// Watches the whole application, so that rows a page adds later are held
// too; only fields inside its form are touched.
class FocusedWheel final : public QObject {
public:
    explicit FocusedWheel(QWidget *form) : QObject(form), m_form(form) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::Show && type != QEvent::Wheel)
            return false;
        auto *field = qobject_cast<QWidget *>(watched);
        if (!field || !(qobject_cast<QComboBox *>(field) || qobject_cast<QAbstractSpinBox *>(field))
            || !m_form->isAncestorOf(field))
            return false;
        // Qt hands a wheel-focus field the focus before the wheel event
        // reaches any filter; a field is shown before any wheel reaches it.
        if (type == QEvent::Show) {
            if (field->focusPolicy() == Qt::WheelFocus)
                field->setFocusPolicy(Qt::StrongFocus);
            return false;
        }
        if (field->hasFocus())
            return false;
        // Ignored, the wheel goes on to the page around the field.
        event->ignore();
        return true;
    }

private:
    QWidget *m_form;
};

} // namespace

void changeByWheelOnlyWhenFocused(QWidget *form) { new FocusedWheel(form); }

} // namespace kivo
