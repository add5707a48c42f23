#include "QuendKivoApp/monitor/PropagationConditionsView.h"

#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/Icons.h"
#include "QuendKivoApp/kit/Palette.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/monitor/MonitorWidgets.h"
#include "QuendKivoApp/monitor/PropagationPresenters.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <utility>

namespace kivo {

// The status light: a dot with a soft glow under it.
class StatusDot : public QWidget {
public:
    StatusDot()
    {
        setFixedSize(12, 12);
        setObjectName(QStringLiteral("propagation.statusDot"));
    }
    void setTint(const QColor &tint)
    {
        if (tint == m_tint)
            return;
        m_tint = tint;
        update();
    }
    QColor tint() const { return m_tint; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const QPointF centre(width() / 2.0, height() / 2.0);
        QRadialGradient glow(centre + QPointF(0, 1), 6);
        glow.setColorAt(0, withOpacity(m_tint, 0.55));
        glow.setColorAt(1, withOpacity(m_tint, 0));
        painter.setBrush(glow);
        painter.drawEllipse(centre + QPointF(0, 1), 6, 6);
        painter.setBrush(m_tint);
        painter.drawEllipse(centre, 3, 3);
    }

private:
    QColor m_tint;
};

namespace {

const QColor cyan = MonitorPalette::cyan();

QWidget *ratingPill(PropagationRating rating)
{
    const QColor tint = propagationRatingTint(rating);
    auto *pill = new FilledBox(withOpacity(tint, 0.14), 4);
    pill->setFixedSize(82, 17);
    auto *layout = new QHBoxLayout(pill);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *text = monitorLabel(kitFont(8, QFont::Bold), tint);
    text->setText(label(rating));
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text);
    return pill;
}

} // namespace

PropagationConditionsView::PropagationConditionsView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("propagation"));
    setMinimumHeight(104);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto *column = new QVBoxLayout(this);
    column->setSpacing(6);
    column->setContentsMargins(12, 8, 12, 8);

    auto *header = new QHBoxLayout;
    header->setSpacing(8);
    auto *title = monitorLabel(kitFont(11, QFont::Bold), cyan);
    title->setText(QStringLiteral("HF PROPAGATION"));
    m_summary = monitorLabel(monospacedFont(10, QFont::DemiBold), withOpacity(cyan, 0.78), "propagation.summary");
    m_dot = new StatusDot;
    m_status = monitorLabel(kitFont(9, QFont::Bold), cyan, "propagation.status");
    // The status word stays whole; the summary beside it gives way.
    m_status->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    m_refresh = new QToolButton;
    m_refresh->setObjectName(QStringLiteral("propagation.refresh"));
    m_refresh->setAutoRaise(true);
    m_refresh->setIcon(symbolIcon(QStringLiteral("arrow.clockwise"), withOpacity(cyan, 0.78)));
    m_refresh->setToolTip(QStringLiteral("Refresh HF propagation conditions"));
    m_refresh->setAccessibleName(m_refresh->toolTip());
    connect(m_refresh, &QToolButton::clicked, this, [this] { m_model.refreshPropagationConditions(); });
    header->addWidget(title);
    header->addWidget(m_summary);
    header->addStretch(1);
    header->addWidget(m_dot);
    header->addWidget(m_status);
    header->addWidget(m_refresh);
    column->addLayout(header);

    m_conditions = new QWidget;
    auto *conditions = new QVBoxLayout(m_conditions);
    conditions->setContentsMargins(0, 0, 0, 0);
    conditions->setSpacing(6);
    m_grid = new QWidget;
    m_grid->setObjectName(QStringLiteral("propagation.grid"));
    m_grid->setAccessibleName(QStringLiteral("HF band conditions by day and night"));
    m_gridLayout = new QGridLayout(m_grid);
    m_gridLayout->setContentsMargins(0, 0, 0, 0);
    m_gridLayout->setHorizontalSpacing(6);
    m_gridLayout->setVerticalSpacing(4);
    conditions->addWidget(m_grid, 0, Qt::AlignLeft);
    auto *source = new QHBoxLayout;
    source->setSpacing(5);
    const QFont sourceFont = monospacedFont(8);
    const QColor sourceColor = withOpacity(cyan, 0.52);
    auto *origin = monitorLabel(sourceFont, sourceColor);
    origin->setText(QStringLiteral("Q0ZRV / NOAA"));
    m_updatedDot = monitorLabel(sourceFont, sourceColor);
    m_updatedDot->setText(QStringLiteral("\u00b7"));
    m_updated = monitorLabel(sourceFont, sourceColor, "propagation.updated");
    auto *europe = monitorLabel(sourceFont, sourceColor);
    europe->setText(QStringLiteral("Europe 6m"));
    source->addWidget(origin);
    source->addWidget(m_updatedDot);
    source->addWidget(m_updated);
    source->addStretch(1);
    source->addWidget(europe);
    conditions->addLayout(source);
    column->addWidget(m_conditions);

    m_empty = new QWidget;
    m_empty->setObjectName(QStringLiteral("propagation.empty"));
    auto *empty = new QHBoxLayout(m_empty);
    empty->setContentsMargins(0, 0, 0, 0);
    empty->setSpacing(8);
    m_emptyIcon = new QLabel;
    m_emptyIcon->setObjectName(QStringLiteral("propagation.emptySymbol"));
    m_emptyIcon->setPixmap(symbolPixmap(QStringLiteral("wifi.slash"), MonitorPalette::amber(), 14));
    m_emptyText = monitorLabel(kitFont(10), withOpacity(cyan, 0.72), "propagation.emptyText");
    m_spinner = new Spinner(withOpacity(cyan, 0.72), 14);
    m_spinner->setObjectName(QStringLiteral("propagation.spinner"));
    empty->addWidget(m_spinner);
    empty->addWidget(m_emptyIcon);
    empty->addWidget(m_emptyText);
    empty->addStretch(1);
    column->addWidget(m_empty, 1);
    column->addStretch(0);

    for (auto signal : {&AppModel::propagationConditionsChanged, &AppModel::propagationStatusChanged,
                        &AppModel::propagationIsRefreshingChanged})
        connect(&model, signal, this, &PropagationConditionsView::refresh);
    connect(&model, &AppModel::propagationConditionsChanged, this, &PropagationConditionsView::rebuildGrid);
    rebuildGrid();
    refresh();
}

void PropagationConditionsView::rebuildGrid()
{
    while (QLayoutItem *item = m_gridLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const auto conditions = m_model.propagationConditions();
    if (!conditions)
        return;
    auto *corner = new QWidget;
    corner->setFixedWidth(38);
    m_gridLayout->addWidget(corner, 0, 0);
    const QList<HFPropagationBand> bands = conditions->displayBands();
    const char *rows[] = {"DAY", "NIGHT"};
    for (int r = 0; r < 2; ++r) {
        auto *rowLabel = monitorLabel(kitFont(8, QFont::Bold), monitorSecondary());
        rowLabel->setText(QString::fromLatin1(rows[r]));
        rowLabel->setFixedWidth(38);
        m_gridLayout->addWidget(rowLabel, r + 1, 0);
    }
    for (int column = 0; column < bands.size(); ++column) {
        const HFPropagationBand &band = bands[column];
        auto *name = monitorLabel(monospacedFont(9, QFont::DemiBold), withOpacity(cyan, 0.72));
        name->setText(band.name);
        name->setFixedWidth(82);
        name->setAlignment(Qt::AlignCenter);
        m_gridLayout->addWidget(name, 0, column + 1);
        for (int r = 0; r < 2; ++r) {
            QWidget *pill = ratingPill(r == 0 ? band.day : band.night);
            pill->setAccessibleName(QString::fromLatin1(rows[r]) + QLatin1Char(' ') + band.name);
            m_gridLayout->addWidget(pill, r + 1, column + 1);
        }
    }
}

void PropagationConditionsView::refresh()
{
    const auto conditions = m_model.propagationConditions();
    const QString status = m_model.propagationStatus();
    const QColor tint = propagationStatusTint(status);
    m_summary->setVisible(conditions.has_value());
    if (conditions)
        m_summary->setText(propagationSummary(*conditions));
    m_dot->setTint(tint);
    m_status->setText(status);
    setFixedForegroundColor(m_status, tint);
    // Qt hands the focus of a control it disables to the next one, here
    // Configure, where a second Return would open the configuration window.
    // The focus waits on the panel's window, where Return does nothing, and
    // comes back once the fetch is over.
    const bool refreshing = m_model.propagationIsRefreshing();
    if (refreshing && window()->focusWidget() == m_refresh) {
        m_refocusRefresh = true;
        window()->setFocus(Qt::OtherFocusReason);
    }
    m_refresh->setEnabled(!refreshing);
    if (!refreshing && std::exchange(m_refocusRefresh, false) && window()->focusWidget() == window())
        m_refresh->setFocus(Qt::OtherFocusReason);

    m_conditions->setVisible(conditions.has_value());
    m_empty->setVisible(!conditions);
    if (conditions) {
        const QString updated = propagationUpdatedText(*conditions);
        m_updated->setText(updated);
        m_updated->setVisible(!updated.isEmpty());
        m_updatedDot->setVisible(!updated.isEmpty());
    } else {
        const bool refreshing = m_model.propagationIsRefreshing();
        m_spinner->setVisible(refreshing);
        m_emptyIcon->setVisible(!refreshing);
        m_emptyText->setText(propagationEmptyText(status));
    }
}

void PropagationConditionsView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), srgb(0.035, 0.09, 0.14));
    painter.fillRect(QRect(0, 0, width(), 1), withOpacity(cyan, 0.18));
}

} // namespace kivo
