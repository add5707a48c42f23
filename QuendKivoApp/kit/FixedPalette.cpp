#include "QuendKivoApp/kit/FixedPalette.h"

#include <QEvent>
#include <QPalette>
#include <QVariant>
#include <QWidget>

namespace kivo {

namespace {

const char ownPaletteProperty[] = "kivo.fixedPalette";

class PanelPaletteKeeper : public QObject {
public:
    explicit PanelPaletteKeeper(QWidget *panel) : QObject(panel), m_panel(panel) { panel->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // The reload sets each widget's palette right after its ThemeChange:
        // the panel looks once the whole pass is done.
        const bool desktopChange = event->type() == QEvent::ThemeChange
            || event->type() == QEvent::ApplicationPaletteChange;
        if (watched == m_panel && desktopChange && !m_queued) {
            m_queued = true;
            QMetaObject::invokeMethod(this, [this] { restore(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    void restore()
    {
        m_queued = false;
        QList<QWidget *> widgets = m_panel->findChildren<QWidget *>();
        widgets.prepend(m_panel);
        for (QWidget *widget : widgets)
            widget->setPalette(fixedPalette(widget));
    }

    QWidget *m_panel;
    bool m_queued = false;
};

} // namespace

void setFixedPalette(QWidget *widget, const QPalette &palette)
{
    widget->setProperty(ownPaletteProperty, QVariant::fromValue(palette));
    widget->setPalette(palette);
}

QPalette fixedPalette(const QWidget *widget)
{
    const QVariant own = widget->property(ownPaletteProperty);
    if (own.isValid())
        return own.value<QPalette>();
    QPalette none;
    none.setResolveMask(0);
    return none;
}

void holdPanelPalette(QWidget *panel) { new PanelPaletteKeeper(panel); }

} // namespace kivo
