#include "QuendKivoApp/kit/TextColor.h"

#include "QuendKivoApp/kit/FixedPalette.h"

#include <QApplication>
#include <QEvent>
#include <QPalette>
#include <QPointer>
#include <QWidget>
#include <variant>

namespace kivo {

namespace {

const QString keeperName = QStringLiteral("kivo.textColor");

void applyTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    // An inherited colour that happens to match is not enough: it would follow the next parent.
    const auto holds = [&](QPalette::ColorRole role) {
        return palette.isBrushSet(QPalette::Active, role) && palette.color(role) == color;
    };
    if (holds(QPalette::WindowText) && holds(QPalette::Text))
        return;
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

// Lives as a child of the widget and works its colour out again from the
// palette the widget inherits, each time that palette changes.
class TextColorKeeper : public QObject {
public:
    using Source = std::variant<QColor, PlatformColor>;

    TextColorKeeper(QWidget *widget, Source source) : QObject(widget), m_widget(widget), m_source(source)
    {
        setObjectName(keeperName);
        widget->installEventFilter(this);
    }

    static TextColorKeeper *of(QWidget *widget)
    {
        return static_cast<TextColorKeeper *>(widget->findChild<QObject *>(keeperName, Qt::FindDirectChildrenOnly));
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
        applyTextColor(m_widget, resolved());
        m_applying = false;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_widget && event->type() == QEvent::PaletteChange)
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
        // The widget's own text roles are this keeper's; the rest is what it inherits.
        const QWidget *parent = m_widget->parentWidget();
        QPalette inherited = parent ? parent->palette() : QApplication::palette(m_widget);
        inherited.setColor(QPalette::Window, m_widget->palette().color(QPalette::Window));
        if (const auto *color = std::get_if<PlatformColor>(&m_source))
            return textColor(*color, inherited);
        return readableTextColor(std::get<QColor>(m_source), inherited.color(QPalette::Window));
    }

    QWidget *m_widget;
    Source m_source;
    bool m_applying = false;
};

void keep(QWidget *widget, TextColorKeeper::Source source)
{
    if (auto *keeper = TextColorKeeper::of(widget))
        keeper->setSource(source);
    else
        (new TextColorKeeper(widget, source))->apply();
}

} // namespace

void setSecondaryStyle(QWidget *widget) { keep(widget, PlatformColor::Secondary); }

void setForegroundColor(QWidget *widget, const QColor &hue) { keep(widget, hue); }

void setForegroundColor(QWidget *widget, PlatformColor color) { keep(widget, color); }

void setFixedForegroundColor(QWidget *widget, const QColor &color)
{
    delete TextColorKeeper::of(widget);
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
