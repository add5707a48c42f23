#pragma once

// Small builders and show-helpers the settings pages share: a value from
// the model is shown without writing it back, and never over an edit.

#include <QString>
#include <QVariant>

class QComboBox;
class QFont;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QScrollArea;
class QWidget;

namespace kivo {

class LineLimitedLabel;

// Selects the entry tagged `value`, or none when no entry has that tag.
void showChoice(QComboBox *picker, const QVariant &value);
// Sets the text unless the operator is typing in the field.
void showText(QLineEdit *field, const QString &text);
// A grid inset 4 points, leading-aligned, inside a group box.
QGridLayout *boxGrid(QGroupBox *box, int columnSpacing, int rowSpacing);
// A row's title in the primary text colour: a greyed title reads as a
// disabled row.
QLabel *rowLabel(const QString &text);
// A grid's column heading, in the secondary style.
QLabel *columnHeading(const QString &text);
// A model text on one line, ending in an ellipsis when it outgrows its place.
LineLimitedLabel *oneLineLabel(const QString &name, const QFont &font);
// A 1-point rule between parts of a page, in the palette's text colour
// faded, so it reads as quietly on a dark desktop as on a light one.
QWidget *separatorLine(Qt::Orientation orientation = Qt::Horizontal);
// `content` scrolling when it is taller than its place, frameless, on the
// background of the page it sits in; the focused control scrolls into view.
QScrollArea *scrollingPart(QWidget *content);
// Shows a text that may be cut; hovering shows all of it.
void showFullText(LineLimitedLabel *label, const QString &text);
// A tab's status while its last save failed: the failure first, then the
// status as it goes on, so the next update does not wipe out why.
QString statusUnderSaveFailure(const QString &failure, const QString &status);
QLineEdit *textField(const QString &placeholder, int width, const QString &name);
QComboBox *picker(int width, const QString &accessibleName, const QString &name);

} // namespace kivo
