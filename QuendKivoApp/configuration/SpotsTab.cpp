#include "QuendKivoApp/configuration/SpotsTab.h"

#include "QuendKivoApp/kit/PageControls.h"
#include "QuendKivoApp/configuration/SpotStyleRules.h"
#include "QuendKivoApp/kit/ColorSwatch.h"
#include "QuendKivoApp/kit/EntryField.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/SymbolLabel.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"
#include "QuendKivoApp/kit/NumberField.h"
#include "QuendKivoApp/kit/NumberedChoices.h"
#include "QuendKivoApp/kit/Palette.h"
#include "QuendKivoApp/model/AppModel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>

namespace kivo {

SpotsTab::SpotsTab(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    // The boxes scroll; the safety note and the restart stay in view below them.
    auto *boxes = new QWidget;
    auto *stack = new QVBoxLayout(boxes);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    auto *top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(makeInputsBox(), 1, Qt::AlignTop);
    top->addWidget(makeActivityBox(), 1, Qt::AlignTop);
    stack->addLayout(top);
    stack->addWidget(makeStylingHeader());
    stack->addWidget(makeStylingGrid());
    stack->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(scrollingPart(boxes), 1);

    auto *footer = new QHBoxLayout;
    auto *shield = new SymbolLabel(12);
    shield->setObjectName(QStringLiteral("spots.safetySymbol"));
    shield->setSymbol(QStringLiteral("shield.checkered"), PlatformColor::Secondary);
    auto *note = new QLabel(QStringLiteral("Spot markers only — this bridge never keys PTT or transmits RF."));
    note->setObjectName(QStringLiteral("spots.safetyNote"));
    note->setFont(styleFont(TextStyle::Caption));
    setSecondaryStyle(note);
    footer->addWidget(shield);
    footer->addWidget(note);
    footer->addStretch(1);
    m_restart = new QPushButton;
    m_restart->setObjectName(QStringLiteral("spots.restart"));
    connect(m_restart, &QPushButton::clicked, this, &SpotsTab::restart);
    // On the page, not the button: a button's setText drops its shortcut.
    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), this);
    connect(shortcut, &QShortcut::activated, this, &SpotsTab::restart);
    footer->addWidget(m_restart);
    layout->addLayout(footer);

    for (auto signal : {&AppModel::configurationChanged, &AppModel::spotBridgeStatusChanged,
                        &AppModel::spotBridgeSaveFailureChanged,
                        &AppModel::spotsReceivedChanged, &AppModel::spotsForwardedChanged,
                        &AppModel::spotsRejectedChanged, &AppModel::lastSpotSummaryChanged,
                        &AppModel::isRunningChanged})
        connect(&model, signal, this, &SpotsTab::refresh);
    refresh();
    showFeedRows();
}

QWidget *SpotsTab::makeInputsBox()
{
    auto *box = new QGroupBox(QStringLiteral("RUMlog inputs"));
    box->setObjectName(QStringLiteral("spots.inputs"));
    auto *grid = boxGrid(box, 16, 8);
    m_enabled = new QCheckBox(QStringLiteral("Enable"));
    m_enabled->setObjectName(QStringLiteral("spots.enabled"));
    // Only the operator's click restarts the listeners, never a refresh.
    connect(m_enabled, &QCheckBox::clicked, this, [this](bool on) {
        commitFocusedField();
        AppConfiguration configuration = m_model.configuration();
        configuration.spotBridge.enabled = on;
        m_model.setConfiguration(configuration);
        restart();
    });
    // Lines enough for the reason a save failed.
    m_status = new LineLimitedLabel(4);
    m_status->setObjectName(QStringLiteral("spots.status"));
    setSecondaryStyle(m_status);
    grid->addWidget(m_enabled, 0, 0);
    grid->addWidget(m_status, 0, 1, Qt::AlignVCenter);

    const auto portRow = [&](int row, const QString &label, const QString &name, quint16 SpotBridgeConfiguration::*port) {
        auto *field = new NumberField({.minimum = AppConfiguration::lowestPort, .maximum = 65535});
        field->setObjectName(name);
        field->setPlaceholderText(QStringLiteral("Port"));
        field->setAccessibleName(label);
        field->setIdentifier(true);
        field->setFixedWidth(88);
        connect(field, &NumberField::valueCommitted, this, [this, port](qint64 value) {
            AppConfiguration configuration = m_model.configuration();
            configuration.spotBridge.*port = quint16(value);
            m_model.setConfiguration(configuration);
        });
        grid->addWidget(rowLabel(label), row, 0);
        grid->addWidget(field, row, 1, Qt::AlignLeft);
        return field;
    };
    m_logbookPort = portRow(1, QStringLiteral("Logbook UDP"), QStringLiteral("spots.logbookPort"),
                            &SpotBridgeConfiguration::logbookPort);
    m_contestPort = portRow(2, QStringLiteral("Contest UDP"), QStringLiteral("spots.contestPort"),
                            &SpotBridgeConfiguration::contestPort);
    grid->setColumnStretch(1, 1);
    return box;
}

QWidget *SpotsTab::spotMetric(const QString &title, QLabel *&value)
{
    auto *cell = new QWidget;
    auto *column = new QVBoxLayout(cell);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    value = new QLabel;
    value->setObjectName(QStringLiteral("spots.") + title.toLower());
    value->setFont(monospacedFont(20, QFont::Bold));
    auto *caption = new QLabel(title);
    caption->setFont(kitFont(11));
    setSecondaryStyle(caption);
    column->addWidget(value);
    column->addWidget(caption);
    return cell;
}

QWidget *SpotsTab::makeActivityBox()
{
    auto *box = new QGroupBox(QStringLiteral("Live activity"));
    box->setObjectName(QStringLiteral("spots.activity"));
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(8);
    auto *metrics = new QHBoxLayout;
    metrics->setSpacing(16);
    metrics->addWidget(spotMetric(QStringLiteral("Received"), m_received));
    metrics->addWidget(spotMetric(QStringLiteral("Forwarded"), m_forwarded));
    metrics->addWidget(spotMetric(QStringLiteral("Rejected"), m_rejected));
    metrics->addStretch(1);
    column->addLayout(metrics);
    column->addWidget(separatorLine());
    m_summary = new LineLimitedLabel(2);
    m_summary->setObjectName(QStringLiteral("spots.lastSummary"));
    m_summary->setFont(styleFont(TextStyle::Caption));
    setSecondaryStyle(m_summary);
    column->addWidget(m_summary);
    return box;
}

QWidget *SpotsTab::makeStylingHeader()
{
    auto *header = new QWidget;
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto *title = new QLabel(QStringLiteral("Spot styling"));
    title->setFont(styleFont(TextStyle::Headline));
    row->addWidget(title);
    row->addStretch(1);
    auto *segments = new QWidget;
    segments->setObjectName(QStringLiteral("spots.ruleSet"));
    segments->setAccessibleName(QStringLiteral("Rule set"));
    segments->setFixedWidth(220);
    auto *segmentRow = new QHBoxLayout(segments);
    segmentRow->setContentsMargins(0, 0, 0, 0);
    segmentRow->setSpacing(0);
    auto *group = new QButtonGroup(segments);
    for (const SpotFeed feed : allSpotFeeds) {
        auto *button = new QPushButton(rawValue(feed));
        button->setObjectName(QStringLiteral("spots.ruleSet.") + rawValue(feed).toLower());
        button->setCheckable(true);
        button->setChecked(feed == m_selectedSpotFeed);
        group->addButton(button);
        segmentRow->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, feed] { selectSpotFeed(feed); });
        m_feedButtons.append(button);
    }
    row->addWidget(segments);
    return header;
}

QWidget *SpotsTab::makeStylingGrid()
{
    auto *box = new QGroupBox;
    box->setObjectName(QStringLiteral("spots.styling"));
    auto *grid = boxGrid(box, 16, 6);
    int column = 0;
    for (const char *heading : {"Category", "Priority", "Color", "Lifetime"})
        grid->addWidget(columnHeading(QString::fromLatin1(heading)), 0, column++);
    grid->addWidget(separatorLine(), 1, 0, 1, 4);
    int row = 2;
    for (const DXSpotCategory category : allDXSpotCategories) {
        const QString name = title(category);
        const QString key = QStringLiteral("spots.") + rawValue(category);
        auto *label = new QLabel(name);
        auto *priority = picker(116, name + QStringLiteral(" priority"), key + QStringLiteral(".priority"));
        fillNumberedChoices(priority, QStringLiteral("Priority "), 5);
        connect(priority, &QComboBox::activated, this, [this, category, priority](int index) {
            const int value = priority->itemData(index).toInt();
            editStyle(category, [value](SpotStyle &style) { style.priority = value; });
        });
        auto *swatch = new ColorSwatch;
        swatch->setObjectName(key + QStringLiteral(".color"));
        swatch->setAccessibleName(name + QStringLiteral(" color"));
        connect(swatch, &ColorSwatch::colorPicked, this, [this, category](const QColor &picked) {
            const QString text = hex(picked);
            editStyle(category, [text](SpotStyle &style) { style.colorHex = text; });
        });
        auto *lifetime = picker(110, name + QStringLiteral(" lifetime"), key + QStringLiteral(".lifetime"));
        for (const LifetimeChoice &choice : lifetimeChoices())
            lifetime->addItem(choice.label, choice.seconds);
        connect(lifetime, &QComboBox::activated, this, [this, category, lifetime](int index) {
            const int value = lifetime->itemData(index).toInt();
            editStyle(category, [value](SpotStyle &style) { style.lifetimeSeconds = value; });
        });
        grid->addWidget(label, row, 0);
        grid->addWidget(priority, row, 1);
        grid->addWidget(swatch, row, 2);
        grid->addWidget(lifetime, row, 3);
        m_rows.insert(category, {{label, priority, swatch, lifetime}, priority, swatch, lifetime});
        ++row;
    }
    grid->setColumnStretch(0, 1);
    return box;
}

void SpotsTab::editStyle(DXSpotCategory category, const std::function<void(SpotStyle &)> &change)
{
    // The other two fields stay exactly as stored, unclamped.
    AppConfiguration configuration = m_model.configuration();
    SpotStyle style = configuration.spotBridge.style(category);
    change(style);
    configuration.spotBridge.setStyle(style, category);
    m_model.setConfiguration(configuration);
}

void SpotsTab::selectSpotFeed(SpotFeed feed)
{
    m_selectedSpotFeed = feed;
    for (int index = 0; index < m_feedButtons.size(); ++index)
        m_feedButtons[index]->setChecked(allSpotFeeds[index] == feed);
    showFeedRows();
}

void SpotsTab::showFeedRows()
{
    const QList<DXSpotCategory> shown = categories(m_selectedSpotFeed);
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        for (QWidget *cell : it->cells)
            cell->setVisible(shown.contains(it.key()));
    }
}

void SpotsTab::restart()
{
    commitFocusedField();
    // The restart saves the settings first.
    m_model.restartSpotBridge(m_settingsCheck ? m_settingsCheck() : invalidNumberProblem(this));
}

void SpotsTab::refresh()
{
    const SpotBridgeConfiguration spots = m_model.configuration().spotBridge;
    m_enabled->setChecked(spots.enabled);
    showFullText(m_status, statusUnderSaveFailure(m_model.spotBridgeSaveFailure(), m_model.spotBridgeStatus()));
    m_logbookPort->setValue(spots.logbookPort);
    m_contestPort->setValue(spots.contestPort);
    m_received->setText(counterText(m_model.spotsReceived()));
    m_forwarded->setText(counterText(m_model.spotsForwarded()));
    m_rejected->setText(counterText(m_model.spotsRejected()));
    showFullText(m_summary, m_model.lastSpotSummary());
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        const SpotStyle style = spots.style(it.key());
        showChoice(it->priority, style.priority);
        showChoice(it->lifetime, style.lifetimeSeconds);
        it->color->showColor(color(style.colorHex));
    }
    // "&" would mark a mnemonic.
    m_restart->setText(spotButtonTitle(m_model.isRunning()).replace(u'&', QStringLiteral("&&")));
}

} // namespace kivo
