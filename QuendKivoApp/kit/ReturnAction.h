#pragma once

// The windows' keyboard rule for Return and keypad Enter: a focused push
// or tool button is pressed, whatever window it sits in.

#include <functional>

class QKeyEvent;
class QWidget;

namespace kivo {

// What a window does with a Return that the focused widget left to it.
enum class ReturnAction {
    WindowAction, // the focus is on no control: the window's own, if it has one
    PressFocusedButton, // a push or tool button
    Nothing, // a control that takes Return, acts by itself, or is a toggle
};
ReturnAction returnAction(const QWidget *focused);

// For a window's keyPressEvent: takes a plain Return or Enter and acts on
// it, running `windowAction` when the focus is on no control. Returns
// false for any other key, which the window passes on.
bool takeReturn(QWidget *window, QKeyEvent *event, const std::function<void()> &windowAction = {});

} // namespace kivo
