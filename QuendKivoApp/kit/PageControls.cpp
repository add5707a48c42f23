#include "QuendKivoApp/kit/PageControls.h"

#include "QuendKivoApp/kit/EntryField.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollArea>

namespace kivo {

namespace {

class SeparatorLine : public QWidget {
public:
    explicit SeparatorLine(Qt::Orientation orientation)
    {
        if (orientation == Qt::Horizontal) {
            setFixedHeight(1);
            setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        } else {
            setFixedWidth(1);
            setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        }
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), withOpacity(palette().color(QPalette::WindowText), 0.2));
    }
};

} // namespace

void showChoice(QComboBox *picker, const QVariant &value)
{
    const int index = picker->findData(value);
    if (picker->currentIndex() != index)
        picker->setCurrentIndex(index);
}

void showText(QLineEdit *field, const QString &text)
{
    if (!field->hasFocus() && field->text() != text)
        field->setText(text);
}

QGridLayout *boxGrid(QGroupBox *box, int columnSpacing, int rowSpacing)
{
    auto *grid = new QGridLayout(box);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setHorizontalSpacing(columnSpacing);
    grid->setVerticalSpacing(rowSpacing);
    grid->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    return grid;
}

QLabel *rowLabel(const QString &text) { return new QLabel(text); }

QLabel *columnHeading(const QString &text)
{
    auto *label = new QLabel(text);
    setSecondaryStyle(label);
    return label;
}

LineLimitedLabel *oneLineLabel(const QString &name, const QFont &font)
{
    auto *label = new LineLimitedLabel(1);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setObjectName(name);
    label->setFont(font);
    return label;
}

QWidget *separatorLine(Qt::Orientation orientation) { return new SeparatorLine(orientation); }

QScrollArea *scrollingPart(QWidget *content)
{
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    // A click beside the controls leaves the focus where it was.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    // Qt scrolls to a control only for Tab pressed inside the area: focus
    // that comes in from the header or the tab bar could land out of sight,
    // where Space would change a setting nobody sees. A click's focus stays
    // put, so the control does not move away under the pointer.
    QObject::connect(qApp, &QApplication::focusChanged, scroll, [scroll](QWidget *, QWidget *now) {
        const QWidget *page = scroll->widget();
        if (now && page && page->isAncestorOf(now) && QGuiApplication::mouseButtons() == Qt::NoButton)
            scroll->ensureWidgetVisible(now);
    });
    return scroll;
}

void showFullText(LineLimitedLabel *label, const QString &text)
{
    label->setFullText(text);
    label->setToolTip(text);
}

QString statusUnderSaveFailure(const QString &failure, const QString &status)
{
    if (failure.isEmpty())
        return status;
    return status.isEmpty() || status == failure ? failure : failure + u'\n' + status;
}

QLineEdit *textField(const QString &placeholder, int width, const QString &name)
{
    auto *field = new EntryField;
    field->setPlaceholderText(placeholder);
    field->setFixedWidth(width);
    field->setObjectName(name);
    return field;
}

QComboBox *picker(int width, const QString &accessibleName, const QString &name)
{
    auto *box = new QComboBox;
    box->setFixedWidth(width);
    box->setAccessibleName(accessibleName);
    box->setObjectName(name);
    return box;
}

} // namespace kivo
