#include "QuendKivoApp/rotator/RotatorSettingsView.h"

#include "QuendKivoApp/kit/PageControls.h"
#include "QuendKivoApp/kit/AdaptiveRow.h"
#include "QuendKivoApp/kit/EntryField.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"
#include "QuendKivoApp/kit/NumberField.h"
#include "QuendKivoApp/kit/Palette.h"
#include "QuendKivoApp/kit/ProminentButton.h"
#include "QuendKivoApp/kit/TextColor.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/rotator/RotatorFormRules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace kivo {

namespace {

using RotatorFormRules::Range;

QLabel *caption(const QString &text)
{
    auto *label = new QLabel(text);
    label->setFont(styleFont(TextStyle::Caption));
    setSecondaryStyle(label);
    return label;
}

// Wide enough that the hint shows whole.
void fitPlaceholder(QLineEdit *field)
{
    const int frame = 16;
    field->setMinimumWidth(field->fontMetrics().horizontalAdvance(field->placeholderText()) + frame);
    field->setMaximumWidth(QWIDGETSIZE_MAX);
}

// Titles are shown as written: an "&" is not a shortcut marker.
QString literal(QString title)
{
    return title.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

QGroupBox *groupBox(const QString &title, const QString &name)
{
    auto *box = new QGroupBox(literal(title));
    box->setObjectName(name);
    return box;
}

} // namespace

RotatorSettingsView::RotatorSettingsView(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("rotator.settings"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->setSpacing(12);
    // The header's buttons stay in view; the boxes below scroll.
    layout->addWidget(makeHeader());
    auto *left = new QWidget;
    auto *leftStack = new QVBoxLayout(left);
    leftStack->setContentsMargins(0, 0, 0, 0);
    leftStack->setSpacing(12);
    leftStack->addWidget(makeControllerBox());
    leftStack->addWidget(makeTargetBox());
    leftStack->addStretch(1);
    auto *right = new QWidget;
    auto *rightStack = new QVBoxLayout(right);
    rightStack->setContentsMargins(0, 0, 0, 0);
    rightStack->setSpacing(12);
    rightStack->addWidget(makeLocationBox());
    rightStack->addWidget(makeBandsBox());
    rightStack->addStretch(1);
    // Two columns while both fit, else one under the other.
    auto *columns = new AdaptiveRow(16);
    columns->setObjectName(QStringLiteral("rotator.columns"));
    columns->addWidget(left);
    columns->addWidget(right);
    auto *content = new QWidget;
    auto *stack = new QVBoxLayout(content);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(columns);
    stack->addStretch(1);
    QScrollArea *scroll = scrollingPart(content);
    scroll->setObjectName(QStringLiteral("rotator.scroll"));
    layout->addWidget(scroll, 1);

    for (auto signal : {&AppModel::configurationChanged, &AppModel::rotatorConnectionStateChanged,
                        &AppModel::rotatorStatusChanged, &AppModel::rotatorFeedStatusChanged,
                        &AppModel::rotatorSaveFailureChanged,
                        &AppModel::rotatorTargetInputChanged, &AppModel::rotatorTargetLabelChanged,
                        &AppModel::rotatorTargetBearingChanged, &AppModel::rotatorTargetSourceChanged})
        connect(&model, signal, this, &RotatorSettingsView::refresh);
    refresh();
}

void RotatorSettingsView::edit(const std::function<void(RotatorConfiguration &)> &change)
{
    AppConfiguration configuration = m_model.configuration();
    change(configuration.rotator);
    m_model.setConfiguration(configuration);
}

QWidget *RotatorSettingsView::makeHeader()
{
    auto *header = new QWidget;
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    m_dot = new QLabel;
    m_dot->setObjectName(QStringLiteral("rotator.connectionDot"));
    m_dot->setFixedSize(9, 9);
    row->addWidget(m_dot);
    auto *lines = new QVBoxLayout;
    lines->setSpacing(1);
    // Lines enough for the reason a save failed and the status after it.
    m_status = new LineLimitedLabel(4);
    m_status->setObjectName(QStringLiteral("rotator.status"));
    m_status->setFont(styleFont(TextStyle::Headline));
    m_feedStatus = oneLineLabel(QStringLiteral("rotator.feedStatus"), styleFont(TextStyle::Caption));
    setSecondaryStyle(m_feedStatus);
    lines->addWidget(m_status);
    lines->addWidget(m_feedStatus);
    row->addLayout(lines, 1);
    m_connect = new QPushButton;
    m_connect->setObjectName(QStringLiteral("rotator.connect"));
    m_connect->setAutoDefault(false);
    connect(m_connect, &QPushButton::clicked, this, [this] {
        if (RotatorFormRules::offersConnect(m_model.rotatorConnectionState()))
            m_model.startRotator();
        else
            m_model.stopRotator();
    });
    auto *saveAndReconnectButton = new ProminentButton(literal(QStringLiteral("Save & Reconnect")));
    saveAndReconnectButton->setObjectName(QStringLiteral("rotator.saveAndReconnect"));
    connect(saveAndReconnectButton, &QPushButton::clicked, this, [this] {
        commitFocusedField();
        m_model.saveAndReconnectRotator(m_settingsCheck ? m_settingsCheck() : invalidNumberProblem(this));
    });
    row->addWidget(m_connect);
    row->addWidget(saveAndReconnectButton);
    return header;
}

NumberField *RotatorSettingsView::numberField(const QString &name, const QString &placeholder, int width,
                                              Range range,
                                              const std::function<void(RotatorConfiguration &, qint64)> &write)
{
    auto *field = new NumberField({.minimum = range.minimum, .maximum = range.maximum});
    field->setObjectName(name);
    field->setPlaceholderText(placeholder);
    field->setFixedWidth(width);
    field->setClamping(range.clamped);
    connect(field, &NumberField::valueCommitted, this,
            [this, write](qint64 value) { edit([&](RotatorConfiguration &rotator) { write(rotator, value); }); });
    return field;
}

QCheckBox *RotatorSettingsView::checkBox(const QString &name, const QString &accessibleName,
                                         const std::function<void(RotatorConfiguration &, bool)> &write)
{
    auto *box = new QCheckBox;
    box->setObjectName(name);
    box->setAccessibleName(accessibleName);
    connect(box, &QCheckBox::clicked, this,
            [this, write](bool on) { edit([&](RotatorConfiguration &rotator) { write(rotator, on); }); });
    return box;
}

QWidget *RotatorSettingsView::makeControllerBox()
{
    auto *box = groupBox(QStringLiteral("Controller"), QStringLiteral("rotator.controller"));
    auto *grid = boxGrid(box, 10, 8);
    m_enabled = checkBox(QStringLiteral("rotator.enabled"), QStringLiteral("Enabled"),
                         [](RotatorConfiguration &r, bool on) { r.enabled = on; });
    m_connectAtLaunch = checkBox(QStringLiteral("rotator.connectAtLaunch"), QStringLiteral("Connect at launch"),
                                 [](RotatorConfiguration &r, bool on) { r.connectAtLaunch = on; });
    m_name = textField(QStringLiteral("ARCO"), 140, QStringLiteral("rotator.name"));
    connect(m_name, &QLineEdit::textEdited, this,
            [this](const QString &text) { edit([&](RotatorConfiguration &r) { r.name = text; }); });
    auto *protocol = new QLabel(QStringLiteral("DCU-1"));
    protocol->setObjectName(QStringLiteral("rotator.protocol"));
    setForegroundColor(protocol, MonitorPalette::cyan());
    m_host = textField(QStringLiteral("Rotator host or IP"), 160, QStringLiteral("rotator.host"));
    connect(m_host, &QLineEdit::textEdited, this,
            [this](const QString &text) { edit([&](RotatorConfiguration &r) { r.host = text; }); });
    const Range ports = RotatorFormRules::portRange;
    m_port = numberField(QStringLiteral("rotator.port"), QStringLiteral("4001"), 76, ports,
                         [](RotatorConfiguration &r, qint64 value) { r.port = quint16(value); });
    m_pollRate = picker(100, QStringLiteral("Poll rate"), QStringLiteral("rotator.pollRate"));
    for (const auto &[title, milliseconds] :
         {std::pair{"100 ms", 100}, std::pair{"250 ms", 250}, std::pair{"500 ms", 500}, std::pair{"1 s", 1000}})
        m_pollRate->addItem(QString::fromLatin1(title), milliseconds);
    connect(m_pollRate, &QComboBox::activated, this, [this](int index) {
        const int milliseconds = m_pollRate->itemData(index).toInt();
        edit([&](RotatorConfiguration &r) { r.pollIntervalMilliseconds = milliseconds; });
    });
    m_rumlogPort = numberField(QStringLiteral("rotator.rumlogPort"), QStringLiteral("12064"), 76, ports,
                               [](RotatorConfiguration &r, qint64 value) { r.rumlogPort = quint16(value); });
    for (NumberField *port : {m_port, m_rumlogPort})
        port->setIdentifier(true);
    m_port->setAccessibleName(QStringLiteral("Port"));
    m_rumlogPort->setAccessibleName(QStringLiteral("RUMlog UDP"));

    const QList<std::array<QWidget *, 4>> rows = {
        {rowLabel(QStringLiteral("Enabled")), m_enabled, rowLabel(QStringLiteral("Connect at launch")),
         m_connectAtLaunch},
        {rowLabel(QStringLiteral("Name")), m_name, rowLabel(QStringLiteral("Protocol")), protocol},
        {rowLabel(QStringLiteral("TCP host")), m_host, rowLabel(QStringLiteral("Port")), m_port},
        {rowLabel(QStringLiteral("Poll rate")), m_pollRate, rowLabel(QStringLiteral("RUMlog UDP")), m_rumlogPort},
    };
    for (int row = 0; row < rows.size(); ++row)
        for (int column = 0; column < 4; ++column)
            grid->addWidget(rows[row][column], row, column, Qt::AlignLeft | Qt::AlignVCenter);
    grid->setColumnStretch(3, 1);
    return box;
}

QWidget *RotatorSettingsView::makeTargetBox()
{
    auto *box = groupBox(QStringLiteral("Target & manual control"), QStringLiteral("rotator.targetBox"));
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(9);

    // The field takes the row's spare width; the buttons go under it when
    // the row is too narrow for both.
    auto *entry = new AdaptiveRow(6);
    m_target = textField(QStringLiteral("Bearing, Maidenhead grid, or callsign"), 220, QStringLiteral("rotator.target"));
    fitPlaceholder(m_target);
    connect(m_target, &QLineEdit::textEdited, this, [this](const QString &text) { m_model.setRotatorTargetInput(text); });
    connect(m_target, &QLineEdit::returnPressed, this, [this] { m_model.resolveRotatorTarget(); });
    entry->addWidget(m_target);
    auto *buttons = new QWidget;
    buttons->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto *buttonRow = new QHBoxLayout(buttons);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    const auto button = [&](const QString &title, const QString &name, std::function<void()> action,
                            bool prominent = false) {
        QPushButton *press = prominent ? new ProminentButton(title) : new QPushButton(title);
        press->setObjectName(name);
        press->setAutoDefault(false);
        connect(press, &QPushButton::clicked, this, std::move(action));
        buttonRow->addWidget(press);
        return press;
    };
    button(QStringLiteral("Resolve"), QStringLiteral("rotator.resolve"), [this] { m_model.resolveRotatorTarget(); });
    // The prominent button, drawn like "Save & Reconnect".
    m_turn = button(QStringLiteral("Turn"), QStringLiteral("rotator.turn"), [this] { m_model.turnRotatorToTarget(); },
                    true);
    m_longPath = button(QStringLiteral("Long path"), QStringLiteral("rotator.longPath"),
                        [this] { m_model.toggleRotatorPath(); });
    m_stop = button(QStringLiteral("Stop"), QStringLiteral("rotator.stop"), [this] { m_model.stopRotatorMotion(); });
    setButtonTitleColor(m_stop, PlatformColor::Red);
    entry->addWidget(buttons);
    column->addWidget(entry);

    auto *targetLine = new QHBoxLayout;
    m_targetLabel = new QLabel;
    m_targetLabel->setObjectName(QStringLiteral("rotator.targetLabel"));
    m_targetLabel->setFont(styleFont(TextStyle::Headline));
    m_targetBearing = new QLabel;
    m_targetBearing->setObjectName(QStringLiteral("rotator.targetBearing"));
    QFont bearingFont = monospacedFont(stylePixelSize(TextStyle::Headline), QFont::Bold);
    m_targetBearing->setFont(bearingFont);
    setForegroundColor(m_targetBearing, MonitorPalette::cyan());
    m_targetSource = oneLineLabel(QStringLiteral("rotator.targetSource"), styleFont(TextStyle::Caption));
    setSecondaryStyle(m_targetSource);
    targetLine->addWidget(m_targetLabel);
    targetLine->addWidget(m_targetBearing);
    targetLine->addWidget(m_targetSource, 1);
    column->addLayout(targetLine);

    m_callsignDatabase = textField(QStringLiteral("Optional callsign,grid CSV path"), 220,
                                   QStringLiteral("rotator.callsignDatabasePath"));
    m_callsignDatabase->setFont(styleFont(TextStyle::Caption));
    fitPlaceholder(m_callsignDatabase);
    connect(m_callsignDatabase, &QLineEdit::textEdited, this,
            [this](const QString &text) { edit([&](RotatorConfiguration &r) { r.callsignDatabasePath = text; }); });
    column->addWidget(m_callsignDatabase);
    return box;
}

QWidget *RotatorSettingsView::makeLocationBox()
{
    auto *box = groupBox(QStringLiteral("Location & automatic turning"), QStringLiteral("rotator.location"));
    auto *grid = boxGrid(box, 10, 8);
    // Worded as an example, so an empty field beside "Invalid" does not
    // read as a stored grid.
    m_homeGrid = textField(QStringLiteral("e.g. JO62QM"), 110, QStringLiteral("rotator.homeGrid"));
    // Upper case on screen only: what is typed is stored as it stands. The
    // hint keeps its own case.
    connect(m_homeGrid, &QLineEdit::textChanged, this, [this](const QString &text) {
        QFont font = m_homeGrid->font();
        font.setCapitalization(text.isEmpty() ? QFont::MixedCase : QFont::AllUppercase);
        m_homeGrid->setFont(font);
    });
    connect(m_homeGrid, &QLineEdit::textEdited, this,
            [this](const QString &text) { edit([&](RotatorConfiguration &r) { r.homeGrid = text; }); });
    m_homeGridMark = new QLabel;
    m_homeGridMark->setObjectName(QStringLiteral("rotator.homeGridMark"));
    grid->addWidget(rowLabel(QStringLiteral("Home grid")), 0, 0);
    grid->addWidget(m_homeGrid, 0, 1, Qt::AlignLeft);
    grid->addWidget(m_homeGridMark, 0, 2, Qt::AlignLeft);

    m_automatic = checkBox(QStringLiteral("rotator.automaticTurning"), QStringLiteral("Auto turn"),
                           [](RotatorConfiguration &r, bool on) { r.automaticTurningEnabled = on; });
    m_automaticSource = picker(110, QStringLiteral("Auto turn source"), QStringLiteral("rotator.automaticSource"));
    for (RotatorAutomaticSource source : allRotatorAutomaticSources)
        m_automaticSource->addItem(rawValue(source), int(source));
    connect(m_automaticSource, &QComboBox::activated, this, [this](int index) {
        const auto source = RotatorAutomaticSource(m_automaticSource->itemData(index).toInt());
        edit([&](RotatorConfiguration &r) { r.automaticSource = source; });
    });
    grid->addWidget(rowLabel(QStringLiteral("Auto turn")), 1, 0);
    grid->addWidget(m_automatic, 1, 1, Qt::AlignLeft);
    grid->addWidget(m_automaticSource, 1, 2, Qt::AlignLeft);

    m_minimumChange = numberField(QStringLiteral("rotator.minimumChange"), QStringLiteral("0"), 64,
                                  RotatorFormRules::minimumChangeRange,
                                  [](RotatorConfiguration &r, qint64 value) { r.minimumAutomaticTurnDegrees = int(value); });
    m_beamWidth = numberField(QStringLiteral("rotator.beamWidth"), QStringLiteral("5"), 64,
                              RotatorFormRules::beamWidthRange,
                              [](RotatorConfiguration &r, qint64 value) { r.beamWidthDegrees = int(value); });
    m_minimumChange->setAccessibleName(QStringLiteral("Minimum change"));
    m_beamWidth->setAccessibleName(QStringLiteral("Beam width"));
    grid->addWidget(rowLabel(QStringLiteral("Minimum change")), 2, 0);
    grid->addWidget(m_minimumChange, 2, 1, Qt::AlignLeft);
    grid->addWidget(caption(QStringLiteral("degrees (0 = always)")), 2, 2, Qt::AlignLeft);
    grid->addWidget(rowLabel(QStringLiteral("Beam width")), 3, 0);
    grid->addWidget(m_beamWidth, 3, 1, Qt::AlignLeft);
    grid->addWidget(caption(QStringLiteral("degrees")), 3, 2, Qt::AlignLeft);
    grid->setColumnStretch(2, 1);
    return box;
}

QWidget *RotatorSettingsView::makeBandsBox()
{
    auto *box = groupBox(QStringLiteral("Bands, offsets & bidirectional antennas"), QStringLiteral("rotator.bands"));
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(6, 6, 6, 6);
    row->setSpacing(16);
    const QList<QStringList> columns = RotatorFormRules::bandColumns();
    for (qsizetype i = 0; i < columns.size(); ++i) {
        if (i > 0)
            row->addWidget(separatorLine(Qt::Vertical));
        // The halves share the spare width, so a wide box has no empty end.
        row->addWidget(makeBandColumn(columns[i]), 1, Qt::AlignTop);
    }
    return box;
}

QWidget *RotatorSettingsView::makeBandColumn(const QStringList &bands)
{
    auto *column = new QWidget;
    auto *grid = new QGridLayout(column);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    QFont heading = kitFont(10, QFont::Bold);
    const QStringList titles = {QStringLiteral("Band"), QStringLiteral("Use"), QStringLiteral("Offset"),
                                QStringLiteral("Bi-dir")};
    for (int i = 0; i < titles.size(); ++i) {
        auto *title = new QLabel(titles[i]);
        title->setFont(heading);
        grid->addWidget(title, 0, i, Qt::AlignLeft);
    }
    const auto setWriter = [](const QString &band, QSet<QString> RotatorConfiguration::*set) {
        return [band, set](RotatorConfiguration &r, bool on) {
            if (on)
                (r.*set).insert(band);
            else
                (r.*set).remove(band);
        };
    };
    const QString prefix = QStringLiteral("rotator.band.");
    for (int i = 0; i < bands.size(); ++i) {
        const QString &band = bands[i];
        auto *name = new QLabel(band);
        name->setFont(monospacedFont(stylePixelSize(TextStyle::Caption)));
        name->setFixedWidth(34);
        BandRow row;
        row.use = checkBox(prefix + band + QStringLiteral(".use"), QStringLiteral("Use ") + band,
                           setWriter(band, &RotatorConfiguration::enabledBands));
        row.offset = numberField(prefix + band + QStringLiteral(".offset"), QStringLiteral("0"), 44,
                                 RotatorFormRules::offsetRange,
                                 [band](RotatorConfiguration &r, qint64 value) { r.bandOffsets[band] = int(value); });
        row.offset->setAccessibleName(QStringLiteral("Offset ") + band);
        row.offset->setCommitsUnchanged(true);
        row.bidirectional = checkBox(prefix + band + QStringLiteral(".bidirectional"),
                                     QStringLiteral("Bidirectional ") + band,
                                     setWriter(band, &RotatorConfiguration::bidirectionalBands));
        grid->addWidget(name, i + 1, 0);
        grid->addWidget(row.use, i + 1, 1);
        grid->addWidget(row.offset, i + 1, 2);
        grid->addWidget(row.bidirectional, i + 1, 3);
        m_bands.insert(band, row);
    }
    for (int i = 0; i < titles.size(); ++i)
        grid->setColumnStretch(i, 1);
    return column;
}

void RotatorSettingsView::refresh()
{
    const RotatorConfiguration rotator = m_model.configuration().rotator;
    const DCU1RotatorClient::State state = m_model.rotatorConnectionState();
    const QColor green = MonitorPalette::green();
    const QColor orange = platformColor(PlatformColor::Orange);
    QPixmap dot(9, 9);
    dot.fill(Qt::transparent);
    {
        QPainter painter(&dot);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(state == DCU1RotatorClient::State::Connected ? green : orange);
        painter.drawEllipse(QRectF(0, 0, 9, 9));
    }
    m_dot->setPixmap(dot);
    showFullText(m_status, statusUnderSaveFailure(m_model.rotatorSaveFailure(), m_model.rotatorStatus()));
    showFullText(m_feedStatus, m_model.rotatorFeedStatus());
    m_connect->setText(RotatorFormRules::offersConnect(state) ? QStringLiteral("Connect")
                                                              : QStringLiteral("Disconnect"));

    m_enabled->setChecked(rotator.enabled);
    m_connectAtLaunch->setChecked(rotator.connectAtLaunch);
    showText(m_name, rotator.name);
    showText(m_host, rotator.host);
    m_port->setValue(rotator.port);
    {
        const QSignalBlocker blocker(m_pollRate);
        showChoice(m_pollRate, rotator.pollIntervalMilliseconds);
    }
    m_rumlogPort->setValue(rotator.rumlogPort);

    showText(m_target, m_model.rotatorTargetInput());
    const std::optional<double> bearing = m_model.rotatorTargetBearing();
    const RotatorFormRules::EntryRowEnables enables = RotatorFormRules::entryRowEnables(bearing, state);
    m_turn->setEnabled(enables.turn);
    m_longPath->setEnabled(enables.longPath);
    m_stop->setEnabled(enables.stop);
    m_targetLabel->setText(m_model.rotatorTargetLabel());
    m_targetBearing->setVisible(bearing.has_value());
    m_targetBearing->setText(bearing ? RotatorFormRules::wholeDegrees(*bearing) : QString());
    showFullText(m_targetSource, m_model.rotatorTargetSource());
    showText(m_callsignDatabase, rotator.callsignDatabasePath);

    showText(m_homeGrid, rotator.homeGrid);
    const bool valid = RotatorFormRules::homeGridIsValid(rotator.homeGrid);
    m_homeGridMark->setText(valid ? QStringLiteral("Valid") : QStringLiteral("Invalid"));
    // Orange as each palette it is shown in has it, not as at this refresh.
    if (valid)
        setForegroundColor(m_homeGridMark, green);
    else
        setForegroundColor(m_homeGridMark, PlatformColor::Orange);
    m_automatic->setChecked(rotator.automaticTurningEnabled);
    {
        const QSignalBlocker blocker(m_automaticSource);
        showChoice(m_automaticSource, int(rotator.automaticSource));
    }
    m_minimumChange->setValue(rotator.minimumAutomaticTurnDegrees);
    m_beamWidth->setValue(rotator.beamWidthDegrees);
    for (auto it = m_bands.cbegin(); it != m_bands.cend(); ++it) {
        it->use->setChecked(rotator.enabledBands.contains(it.key()));
        it->offset->setValue(rotator.bandOffsets.value(it.key(), 0));
        it->bidirectional->setChecked(rotator.bidirectionalBands.contains(it.key()));
    }
}

} // namespace kivo
