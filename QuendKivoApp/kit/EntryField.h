#pragma once

// A text field that keeps Return to itself: Return ends the edit and never
// reaches a window-level default action.

#include <QLineEdit>

namespace kivo {

class EntryField : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

} // namespace kivo
