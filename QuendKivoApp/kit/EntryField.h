#pragma once

// A text field that keeps Return to itself: Return ends the edit and never
// reaches a window-level default action. Its placeholder is in the
// secondary style.

#include <QLineEdit>

namespace kivo {

class EntryField : public QLineEdit {
    Q_OBJECT
public:
    explicit EntryField(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// Commits the entry field that has the keyboard focus, as leaving it would.
// Every save, start and apply calls this first, so a shortcut or a button
// that takes no focus never acts on the value from before the edit.
void commitFocusedField();

} // namespace kivo
