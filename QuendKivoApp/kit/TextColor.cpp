#include "QuendKivoApp/kit/TextColor.h"

#include "QuendKivoApp/kit/FixedPalette.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QGroupBox>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QStyleOptionTabWidgetFrame>
#include <QTabWidget>
#include <QWidget>
#include <variant>

namespace kivo {

namespace {

// What a keeper colours: a label's text on the window, a button's title on
// its face, or a field's placeholder on the field. A disabled button's title
// and a disabled field's placeholder keep the palette's dimmed colour.
enum class TextPart { Label, ButtonTitle, Placeholder };

QString keeperName(TextPart part)
{
    switch (part) {
    case TextPart::Label:
        return QStringLiteral("kivo.textColor");
    case TextPart::ButtonTitle:
        return QStringLiteral("kivo.buttonTitleColor");
    case TextPart::Placeholder:
        return QStringLiteral("kivo.placeholderColor");
    }
    return {};
}

void applyTextColor(QWidget *widget, const QColor &color, TextPart part)
{
    const bool label = part == TextPart::Label;
    const QList<QPalette::ColorGroup> groups = label ? QList{QPalette::Active, QPalette::Inactive, QPalette::Disabled}
                                                     : QList{QPalette::Active, QPalette::Inactive};
    const QList<QPalette::ColorRole> roles = label ? QList{QPalette::WindowText, QPalette::Text}
                                             : part == TextPart::ButtonTitle ? QList{QPalette::ButtonText}
                                                                             : QList{QPalette::PlaceholderText};
    QPalette palette = widget->palette();
    // An inherited colour that happens to match is not enough: it would follow the next parent.
    bool holds = true;
    for (const auto group : groups)
        for (const auto role : roles)
            holds = holds && palette.isBrushSet(group, role) && palette.color(group, role) == color;
    if (holds)
        return;
    for (const auto group : groups)
        for (const auto role : roles)
            palette.setColor(group, role, color);
    widget->setPalette(palette);
}

// The colour the style fills a tab widget's pane with (Fusion's is lighter
// than the window), asked of the style itself.
QColor tabPaneColor(const QTabWidget *tabs)
{
    QStyleOptionTabWidgetFrame option;
    option.initFrom(tabs);
    option.palette.setCurrentColorGroup(QPalette::Active);
    option.rect = QRect(0, 0, 16, 16);
    QImage pane(option.rect.size(), QImage::Format_RGB32);
    pane.fill(option.palette.color(QPalette::Window));
    QPainter painter(&pane);
    tabs->style()->drawPrimitive(QStyle::PE_FrameTabWidget, &option, &painter, tabs);
    painter.end();
    return pane.pixelColor(option.rect.center());
}

// The colour inside a group box's frame, painted by the style over what is
// behind the box (Fusion's card is a shade darker than the pane).
QColor groupBoxColor(const QGroupBox *box, const QColor &behind)
{
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.palette.setCurrentColorGroup(QPalette::Active);
    option.rect = QRect(0, 0, 64, 96);
    option.subControls = QStyle::SC_GroupBoxFrame;
    option.features = box->isFlat() ? QStyleOptionFrame::Flat : QStyleOptionFrame::None;
    option.lineWidth = 1;
    QImage card(option.rect.size(), QImage::Format_RGB32);
    card.fill(behind);
    QPainter painter(&card);
    box->style()->drawComplexControl(QStyle::CC_GroupBox, &option, &painter, box);
    painter.end();
    // Below any title, clear of the frame's edges.
    return card.pixelColor(option.rect.width() / 2, option.rect.height() * 3 / 4);
}

// What is painted behind the widget: the nearest ancestor that fills its
// background, a group box's card, a tab widget's pane for what sits on its
// pages, or the window.
QColor backgroundBehind(const QWidget *widget)
{
    for (const QWidget *ancestor = widget->parentWidget(); ancestor; ancestor = ancestor->parentWidget()) {
        if (const auto *tabs = qobject_cast<const QTabWidget *>(ancestor))
            return tabPaneColor(tabs);
        if (const auto *box = qobject_cast<const QGroupBox *>(ancestor))
            return groupBoxColor(box, backgroundBehind(box));
        if (ancestor->autoFillBackground())
            return ancestor->palette().color(QPalette::Active, ancestor->backgroundRole());
        if (ancestor->isWindow())
            break;
    }
    return widget->palette().color(QPalette::Active, QPalette::Window);
}

// The colours the style paints a button's face with where its title sits,
// resting and under the mouse: Fusion's face is a gradient lighter than the
// palette's Button colour, and a default button's is tinted.
QList<QColor> buttonFaceColors(const QAbstractButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.palette.setCurrentColorGroup(QPalette::Active);
    option.state |= QStyle::State_Enabled | QStyle::State_Raised;
    option.state &= ~(QStyle::State_HasFocus | QStyle::State_Sunken | QStyle::State_On);
    if (const auto *push = qobject_cast<const QPushButton *>(button); push && push->isDefault())
        option.features |= QStyleOptionButton::DefaultButton;
    option.rect = QRect(0, 0, 64, 24);
    QList<QColor> faces;
    for (const bool hovered : {false, true}) {
        option.state.setFlag(QStyle::State_MouseOver, hovered);
        QImage face(option.rect.size(), QImage::Format_RGB32);
        face.fill(backgroundBehind(button));
        QPainter painter(&face);
        button->style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, button);
        painter.end();
        for (int y = option.rect.height() / 4; y <= option.rect.height() * 3 / 4; ++y)
            faces.append(face.pixelColor(option.rect.width() / 2, y));
    }
    return faces;
}

// Lives as a child of the widget and works its colour out again from the
// palette the widget inherits, each time that palette changes.
class TextColorKeeper : public QObject {
public:
    using Source = std::variant<QColor, PlatformColor>;

    TextColorKeeper(QWidget *widget, Source source, TextPart part)
        : QObject(widget), m_widget(widget), m_source(source), m_part(part)
    {
        setObjectName(keeperName(part));
        widget->installEventFilter(this);
    }

    static TextColorKeeper *of(QWidget *widget, TextPart part)
    {
        return static_cast<TextColorKeeper *>(
            widget->findChild<QObject *>(keeperName(part), Qt::FindDirectChildrenOnly));
    }

    void setSource(Source source)
    {
        m_source = source;
        apply();
    }

    void apply()
    {
        if (m_applying)
            return;
        m_applying = true;
        applyTextColor(m_widget, resolved(), m_part);
        m_applying = false;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // A layout may polish it before its page sits in the window: it is
        // shown where it is painted, on the background found there.
        const QEvent::Type type = event->type();
        if (watched == m_widget
            && (type == QEvent::PaletteChange || type == QEvent::Polish || type == QEvent::Show))
            apply();
        // The widget takes the new application palette after this filter, and
        // a desktop theme reload sets it after the ThemeChange, maybe before
        // the parent's: look once all of it has.
        else if (watched == m_widget
                 && (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::ThemeChange))
            QMetaObject::invokeMethod(this, [this] { apply(); }, Qt::QueuedConnection);
        return false;
    }

private:
    QColor resolved() const
    {
        // A label's text roles are this keeper's, so the rest comes from what
        // it inherits; a title or placeholder keeper owns none of the roles it
        // reads. Always the enabled colours: a label keeps its colour on a
        // disabled page.
        const QWidget *parent = m_widget->parentWidget();
        const bool label = m_part == TextPart::Label;
        QPalette basis = !label ? m_widget->palette() : parent ? parent->palette() : QApplication::palette(m_widget);
        basis.setCurrentColorGroup(QPalette::Active);
        switch (m_part) {
        case TextPart::Label:
            basis.setColor(QPalette::Window, backgroundBehind(m_widget));
            break;
        case TextPart::ButtonTitle: {
            const QList<QColor> faces = buttonFaceColors(static_cast<const QAbstractButton *>(m_widget));
            basis.setColor(QPalette::Window, faces.first());
            QColor title = colorOn(basis);
            // Lighter or darker away from every face, it still reads on those before.
            for (const QColor &face : faces)
                title = readableTextColor(title, face);
            return title;
        }
        case TextPart::Placeholder:
            // Dimmed from the field's own text, on the field's own ground.
            basis.setColor(QPalette::Window, basis.color(QPalette::Base));
            basis.setColor(QPalette::WindowText, basis.color(QPalette::Text));
            break;
        }
        return colorOn(basis);
    }

    QColor colorOn(const QPalette &basis) const
    {
        if (const auto *color = std::get_if<PlatformColor>(&m_source))
            return textColor(*color, basis);
        return readableTextColor(std::get<QColor>(m_source), basis.color(QPalette::Window));
    }

    QWidget *m_widget;
    Source m_source;
    TextPart m_part;
    bool m_applying = false;
};

void keep(QWidget *widget, TextColorKeeper::Source source, TextPart part = TextPart::Label)
{
    if (auto *keeper = TextColorKeeper::of(widget, part))
        keeper->setSource(source);
    else
        (new TextColorKeeper(widget, source, part))->apply();
}

} // namespace

void setSecondaryStyle(QWidget *widget) { keep(widget, PlatformColor::Secondary); }

void setForegroundColor(QWidget *widget, const QColor &hue) { keep(widget, hue); }

void setForegroundColor(QWidget *widget, PlatformColor color) { keep(widget, color); }

void setButtonTitleColor(QAbstractButton *button, PlatformColor color) { keep(button, color, TextPart::ButtonTitle); }

void setPlaceholderStyle(QLineEdit *field) { keep(field, PlatformColor::Secondary, TextPart::Placeholder); }

void setFixedForegroundColor(QWidget *widget, const QColor &color)
{
    delete TextColorKeeper::of(widget, TextPart::Label);
    QPalette own = fixedPalette(widget);
    const auto holds = [&](QPalette::ColorRole role) {
        return own.isBrushSet(QPalette::Active, role) && own.color(role) == color
            && widget->palette().color(role) == color;
    };
    if (holds(QPalette::WindowText) && holds(QPalette::Text))
        return;
    own.setColor(QPalette::WindowText, color);
    own.setColor(QPalette::Text, color);
    setFixedPalette(widget, own);
}

} // namespace kivo
