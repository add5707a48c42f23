#include "QuendKivoApp/configuration/StationTab.h"

#include "QuendKivoApp/kit/PageControls.h"
#include "QuendKivoApp/model/StationRules.h"
#include "QuendKivoApp/kit/DecimalField.h"
#include "QuendKivoApp/kit/EntryField.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"
#include "QuendKivoApp/kit/NumberField.h"
#include "QuendKivoApp/kit/NumberedChoices.h"
#include "QuendKivoApp/model/AppModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace kivo {

using Configuration = RemoteStationConfiguration;

namespace {

// A binding onto one plain field of the configuration.
template <typename T, typename Access> ConfigurationBinding<T> fieldOf(Access access)
{
    return {[access](const Configuration &c) { return T(access(c)); },
            [access](Configuration &c, T value) { access(c) = value; }};
}

QGroupBox *titledBox(const QString &title, const QString &name)
{
    auto *box = new QGroupBox(title);
    box->setObjectName(name);
    box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return box;
}

QMap<QString, qint64> RemoteStationPolicy::*powerTable(StationTab::RemotePowerKind kind)
{
    switch (kind) {
    case StationTab::RemotePowerKind::Amplifier:
        return &RemoteStationPolicy::amplifierDriveW;
    case StationTab::RemotePowerKind::Barefoot:
        return &RemoteStationPolicy::barefootDriveW;
    case StationTab::RemotePowerKind::Digital:
        break;
    }
    return &RemoteStationPolicy::digitalAmplifierDriveW;
}

// Boxes side by side while they fit, else wrapped onto as many rows as
// needed, in columns of equal share.
class BoxFlow : public QWidget {
public:
    BoxFlow(const QList<QWidget *> &boxes, int spacing) : m_boxes(boxes), m_grid(new QGridLayout(this))
    {
        m_grid->setContentsMargins(0, 0, 0, 0);
        m_grid->setSpacing(spacing);
        m_grid->setSizeConstraint(QLayout::SetNoConstraint);
        place(int(boxes.size()));
    }

    QSize minimumSizeHint() const override
    {
        // One box to a row at the least, so the boxes never hold the window wide.
        const QList<int> widths = minimumWidths();
        return {*std::max_element(widths.begin(), widths.end()), m_grid->minimumSize().height()};
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        place(boxesPerRow(minimumWidths(), m_grid->horizontalSpacing(), event->size().width()));
        QWidget::resizeEvent(event);
    }

private:
    QList<int> minimumWidths() const
    {
        QList<int> widths;
        for (const QWidget *box : m_boxes)
            widths.append(box->minimumSizeHint().width());
        return widths;
    }

    void place(int columns)
    {
        if (columns == m_columns)
            return;
        for (QWidget *box : m_boxes)
            m_grid->removeWidget(box);
        for (int index = 0; index < m_boxes.size(); ++index)
            m_grid->addWidget(m_boxes[index], index / columns, index % columns, Qt::AlignTop);
        for (int column = 0; column < m_grid->columnCount(); ++column)
            m_grid->setColumnStretch(column, column < columns ? 1 : 0);
        m_columns = columns;
        updateGeometry();
    }

    QList<QWidget *> m_boxes;
    QGridLayout *m_grid;
    int m_columns = 0;
};

// A field whose number names something: a port, a slice, a baud rate.
NumberField *identifier(NumberField *field, const QString &title)
{
    field->setIdentifier(true);
    field->setAccessibleName(title);
    return field;
}

// Keeps a box's grid at its leading edge however wide the box is made.
void holdLeading(QGridLayout *grid)
{
    grid->setColumnStretch(grid->columnCount(), 1);
}

} // namespace

StationTab::StationTab(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    auto *editor = new QWidget;
    editor->setObjectName(QStringLiteral("station.editor"));
    auto *stack = new QVBoxLayout(editor);
    // A little air between the fields and the scroll bar.
    stack->setContentsMargins(0, 0, 6, 0);
    stack->setSpacing(8);
    // The three boxes need more than the narrowest window's width side by side.
    auto *hardware = new BoxFlow({makeFlexBox(), makeHardwareBox(), makeTuneBox()}, 16);
    hardware->setObjectName(QStringLiteral("station.hardware"));
    m_sections = {hardware, makeBandHeader(), makeBandGrid()};
    for (QWidget *section : m_sections)
        stack->addWidget(section);
    stack->addStretch(1);

    // Only the editor scrolls: the status line and the two requests stay in view.
    QScrollArea *scroll = scrollingPart(editor);
    scroll->setObjectName(QStringLiteral("station.editorScroll"));
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(scroll, 1);
    layout->addWidget(makeFooter());

    for (auto signal : {&AppModel::remoteConfigurationChanged, &AppModel::remoteConfigurationLoadedChanged,
                        &AppModel::remoteConfigurationBusyChanged, &AppModel::remoteConfigurationStatusChanged,
                        &AppModel::isRunningChanged})
        connect(&model, signal, this, &StationTab::refresh);
    refresh();
}

QWidget *StationTab::makeFlexBox()
{
    auto *box = titledBox(QStringLiteral("FLEX-8400"), QStringLiteral("station.flex"));
    auto *grid = boxGrid(box, 8, 6);
    grid->addWidget(rowLabel(QStringLiteral("Station")), 0, 0);
    grid->addWidget(textControl(QStringLiteral("Maestro"), 118, QStringLiteral("station.flex.stationName"),
                                fieldOf<QString>([](auto &c) -> auto & { return c.flex.stationName; })), 0, 1);
    grid->addWidget(rowLabel(QStringLiteral("Host")), 1, 0);
    grid->addWidget(textControl(QStringLiteral("Radio IP"), 118, QStringLiteral("station.flex.host"),
                                fieldOf<QString>([](auto &c) -> auto & { return c.flex.host; })), 1, 1);
    grid->addWidget(rowLabel(QStringLiteral("TCP / slice")), 2, 0);
    auto *pair = new QHBoxLayout;
    pair->setSpacing(4);
    pair->addWidget(identifier(numberControl(QStringLiteral("Port"), 70, QStringLiteral("station.flex.port"),
                                             fieldOf<qint64>([](auto &c) -> auto & { return c.flex.port; })),
                               QStringLiteral("FLEX TCP port")));
    pair->addWidget(identifier(numberControl(QStringLiteral("Slice"), 44, QStringLiteral("station.flex.slice"),
                                             fieldOf<qint64>([](auto &c) -> auto & { return c.flex.sliceID; })),
                               QStringLiteral("FLEX slice")));
    pair->addStretch(1);
    grid->addLayout(pair, 2, 1);
    grid->addWidget(toggleControl(QStringLiteral("Enforce antenna policy"), QStringLiteral("station.flex.antennaPolicy"),
                                  fieldOf<bool>([](auto &c) -> auto & { return c.policy.flexAntenna.enabled; })), 3, 0, 1, 2);
    holdLeading(grid);
    return box;
}

void StationTab::deviceRow(QGridLayout *grid, int row, const QString &title, const QString &name,
                           RemoteSerialDeviceConfiguration Configuration::*device)
{
    const QString key = QStringLiteral("station.") + name;
    grid->addWidget(toggleControl(title, key + QStringLiteral(".enabled"),
                                  {[device](const Configuration &c) { return (c.*device).enabled; },
                                   [device](Configuration &c, bool on) { (c.*device).enabled = on; }}), row, 0);
    grid->addWidget(textControl(QStringLiteral("COM port"), 84, key + QStringLiteral(".port"),
                                {[device](const Configuration &c) { return (c.*device).port; },
                                 [device](Configuration &c, QString port) { (c.*device).port = port; }}), row, 1);
    grid->addWidget(identifier(numberControl(QStringLiteral("Baud"), 78, key + QStringLiteral(".baud"),
                                             {[device](const Configuration &c) { return (c.*device).baudrate; },
                                              [device](Configuration &c, qint64 baud) { (c.*device).baudrate = baud; }}),
                               title + QStringLiteral(" baud rate")), row, 2);
}

QWidget *StationTab::makeHardwareBox()
{
    auto *box = titledBox(QStringLiteral("Hardware"), QStringLiteral("station.devices"));
    auto *grid = boxGrid(box, 8, 6);
    deviceRow(grid, 0, QStringLiteral("KPA500"), QStringLiteral("kpa500"), &Configuration::kpa500);
    deviceRow(grid, 1, QStringLiteral("KAT500"), QStringLiteral("kat500"), &Configuration::kat500);
    grid->addWidget(toggleControl(QStringLiteral("Follow FLEX"), QStringLiteral("station.followRadio"),
                                  fieldOf<bool>([](auto &c) -> auto & { return c.policy.followRadio; })), 2, 0);
    grid->addWidget(toggleControl(QStringLiteral("Commissioned"), QStringLiteral("station.commissioned"),
                                  fieldOf<bool>([](auto &c) -> auto & { return c.commissioned; })), 2, 1, 1, 2);
    holdLeading(grid);
    return box;
}

QWidget *StationTab::makeTuneBox()
{
    auto *box = titledBox(QStringLiteral("Tune and digital"), QStringLiteral("station.tune"));
    auto *grid = boxGrid(box, 8, 6);
    grid->addWidget(rowLabel(QStringLiteral("Tune W")), 0, 0);
    NumberField *tunePower = numberControl(QStringLiteral("W"), 58, QStringLiteral("station.tunePower"),
                                           fieldOf<qint64>([](auto &c) -> auto & { return c.policy.tunePowerW; }));
    tunePower->setAccessibleName(QStringLiteral("Tune W"));
    grid->addWidget(tunePower, 0, 1);
    grid->addWidget(rowLabel(QStringLiteral("Target SWR")), 0, 2);
    grid->addWidget(decimalControl(QStringLiteral("SWR"), QStringLiteral("station.targetSWR"),
                                   fieldOf<double>([](auto &c) -> auto & { return c.policy.tuneTargetSWR; })), 0, 3);
    grid->addWidget(rowLabel(QStringLiteral("Abort SWR")), 1, 0);
    grid->addWidget(decimalControl(QStringLiteral("SWR"), QStringLiteral("station.abortSWR"),
                                   fieldOf<double>([](auto &c) -> auto & { return c.policy.tuneAbortSWR; })), 1, 1);
    grid->addWidget(rowLabel(QStringLiteral("Timeout s")), 1, 2);
    grid->addWidget(decimalControl(QStringLiteral("Seconds"), QStringLiteral("station.tuneTimeout"),
                                   fieldOf<double>([](auto &c) -> auto & { return c.policy.tuneTimeoutSeconds; })), 1, 3);
    grid->addWidget(rowLabel(QStringLiteral("Digital PA")), 2, 0);
    auto *policy = picker(120, QStringLiteral("Digital PA policy"), QStringLiteral("station.digitalPolicy"));
    policy->addItem(QStringLiteral("Operate"), QStringLiteral("operate"));
    policy->addItem(QStringLiteral("Standby"), QStringLiteral("standby"));
    grid->addWidget(pickerControl(policy, {[](const Configuration &c) { return QVariant(c.policy.digitalKPAPolicy); },
                                           [](Configuration &c, QVariant v) { c.policy.digitalKPAPolicy = v.toString(); }}),
                    2, 1, 1, 3);
    holdLeading(grid);
    return box;
}

QWidget *StationTab::makeBandHeader()
{
    auto *header = new QWidget;
    header->setObjectName(QStringLiteral("station.bandHeader"));
    auto *row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    auto *title = new LineLimitedLabel(1);
    title->setFullText(QStringLiteral("Band routing and drive"));
    title->setFont(styleFont(TextStyle::Headline));
    title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    row->addWidget(title, 1);
    for (int output = 1; output <= 3; ++output) {
        const QString key = QString::number(output);
        row->addWidget(textControl(QStringLiteral("ANT") + key + QStringLiteral(" name"), 108,
                                   QStringLiteral("station.antennaName.") + key,
                                   {[output](const Configuration &c) { return katAntennaName(c.policy.katAntennaNames, output); },
                                    [key](Configuration &c, QString name) { c.policy.katAntennaNames[key] = name; }}));
    }
    return header;
}

ConfigurationBinding<qint64> StationTab::remotePowerBinding(const QString &band, RemotePowerKind kind)
{
    const auto table = powerTable(kind);
    return {[band, table](const Configuration &c) { return (c.policy.*table).value(band, 25); },
            [band, table](Configuration &c, qint64 watts) { (c.policy.*table)[band] = watts; }};
}

ConfigurationBinding<bool> StationTab::remoteBandMembershipBinding(const QString &band, bool digital)
{
    const auto list = digital ? &RemoteStationPolicy::digitalAmplifierAllowedBands
                              : &RemoteStationPolicy::amplifierAllowedBands;
    return {[band, list](const Configuration &c) { return (c.policy.*list).contains(band); },
            [band, list](Configuration &c, bool on) { c.policy.*list = withBandMembership(c.policy.*list, band, on); }};
}

QWidget *StationTab::makeBandGrid()
{
    auto *box = new QGroupBox;
    box->setObjectName(QStringLiteral("station.bands"));
    auto *grid = boxGrid(box, 10, 4);
    // Spare width widens the pickers and watt fields; the band names and the
    // toggles keep their own width, so no column trails an empty gap.
    const struct {
        const char *heading;
        bool grows;
    } columns[] = {{"Band", false},   {"FLEX TX", true}, {"KAT out", true},    {"PA", false},
                   {"PA W", true},    {"Bare W", true},  {"Digital PA", false}, {"Digital W", true}};
    for (int column = 0; column < 8; ++column) {
        auto *label = rowLabel(QString::fromLatin1(columns[column].heading));
        label->setFont(styleFont(TextStyle::Caption));
        grid->addWidget(label, 0, column);
        grid->setColumnStretch(column, columns[column].grows ? 1 : 0);
    }
    grid->addWidget(separatorLine(), 1, 0, 1, 8);
    int row = 2;
    for (const QString &band : Configuration::bands()) {
        const QString key = QStringLiteral("station.band.") + band + QLatin1Char('.');
        auto *name = new QLabel(band);
        name->setFont(monospacedFont(stylePixelSize(TextStyle::Body)));
        grid->addWidget(name, row, 0);
        auto *flex = picker(82, band + QStringLiteral(" FLEX TX antenna"), key + QStringLiteral("flex"));
        for (const char *antenna : {"ANT1", "ANT2", "XVTR"})
            flex->addItem(QString::fromLatin1(antenna), QString::fromLatin1(antenna));
        grid->addWidget(pickerControl(flex, {[band](const Configuration &c) {
                                                 return QVariant(c.policy.flexAntenna.bands.value(band, QStringLiteral("ANT1")));
                                             },
                                             [band](Configuration &c, QVariant v) { c.policy.flexAntenna.bands[band] = v.toString(); }}),
                        row, 1);
        auto *kat = picker(76, band + QStringLiteral(" KAT output"), key + QStringLiteral("kat"));
        fillNumberedChoices(kat, QStringLiteral("ANT"), 3);
        grid->addWidget(pickerControl(kat, {[band](const Configuration &c) { return QVariant(int(c.policy.katAntenna.value(band, 1))); },
                                            [band](Configuration &c, QVariant v) { c.policy.katAntenna[band] = v.toInt(); }}),
                        row, 2);
        auto *pa = toggleControl(QString(), key + QStringLiteral("pa"), remoteBandMembershipBinding(band, false));
        pa->setAccessibleName(band + QStringLiteral(" amplifier allowed"));
        grid->addWidget(pa, row, 3);
        grid->addWidget(numberControl(QStringLiteral("PA W"), 58, key + QStringLiteral("paW"),
                                      remotePowerBinding(band, RemotePowerKind::Amplifier)), row, 4);
        grid->addWidget(numberControl(QStringLiteral("Barefoot W"), 58, key + QStringLiteral("bareW"),
                                      remotePowerBinding(band, RemotePowerKind::Barefoot)), row, 5);
        auto *digital = toggleControl(QString(), key + QStringLiteral("digitalPA"), remoteBandMembershipBinding(band, true));
        digital->setAccessibleName(band + QStringLiteral(" digital amplifier allowed"));
        grid->addWidget(digital, row, 6);
        grid->addWidget(numberControl(QStringLiteral("Digital W"), 64, key + QStringLiteral("digitalW"),
                                      remotePowerBinding(band, RemotePowerKind::Digital)), row, 7);
        for (int column = 1; column < 8; ++column) {
            QWidget *control = grid->itemAtPosition(row, column)->widget();
            if (auto *field = qobject_cast<NumberField *>(control))
                field->setAccessibleName(band + QLatin1Char(' ') + field->placeholderText());
            QSizePolicy policy = control->sizePolicy();
            if (columns[column].grows) {
                // The fixed width becomes the least; the column's stretch gives the rest.
                control->setMaximumWidth(QWIDGETSIZE_MAX);
                policy.setHorizontalPolicy(QSizePolicy::Ignored);
            } else {
                policy.setHorizontalPolicy(QSizePolicy::Fixed);
            }
            control->setSizePolicy(policy);
        }
        ++row;
    }
    return box;
}

QWidget *StationTab::makeFooter()
{
    auto *footer = new QWidget;
    auto *row = new QHBoxLayout(footer);
    row->setContentsMargins(0, 0, 0, 0);
    m_status = new LineLimitedLabel(2);
    m_status->setObjectName(QStringLiteral("station.status"));
    m_status->setFont(styleFont(TextStyle::Caption));
    setSecondaryStyle(m_status);
    row->addWidget(m_status, 1);
    m_reload = new QPushButton(QStringLiteral("Reload from Windows"));
    m_reload->setObjectName(QStringLiteral("station.reload"));
    connect(m_reload, &QPushButton::clicked, this, [this] { m_model.reloadRemoteConfiguration(); });
    m_save = new QPushButton(QStringLiteral("Save to Windows"));
    m_save->setObjectName(QStringLiteral("station.save"));
    connect(m_save, &QPushButton::clicked, this, [this] {
        commitFocusedField();
        if (const QString problem = invalidNumberProblem(this); !problem.isEmpty())
            m_model.record(QStringLiteral("Station settings not saved: ") + problem);
        else
            m_model.saveRemoteConfiguration();
    });
    row->addWidget(m_reload);
    row->addWidget(m_save);
    return footer;
}

QLineEdit *StationTab::textControl(const QString &placeholder, int width, const QString &name, ConfigurationBinding<QString> binding)
{
    auto *control = textField(placeholder, width, name);
    connect(control, &QLineEdit::textEdited, this,
            [this, set = binding.set](const QString &text) { edit([&](Configuration &c) { set(c, text); }); });
    m_shows.append([control, get = binding.get](const Configuration &c) { showText(control, get(c)); });
    return control;
}

NumberField *StationTab::numberControl(const QString &placeholder, int width, const QString &name, ConfigurationBinding<qint64> binding)
{
    auto *control = new NumberField({.minimum = LLONG_MIN, .maximum = LLONG_MAX});
    control->setPlaceholderText(placeholder);
    control->setFixedWidth(width);
    control->setObjectName(name);
    connect(control, &NumberField::valueCommitted, this,
            [this, set = binding.set](qint64 value) { edit([&](Configuration &c) { set(c, value); }); });
    m_shows.append([control, get = binding.get](const Configuration &c) { control->setValue(get(c)); });
    return control;
}

DecimalField *StationTab::decimalControl(const QString &placeholder, const QString &name, ConfigurationBinding<double> binding)
{
    auto *control = new DecimalField;
    control->setPlaceholderText(placeholder);
    control->setFixedWidth(58);
    control->setObjectName(name);
    connect(control, &DecimalField::valueCommitted, this,
            [this, set = binding.set](double value) { edit([&](Configuration &c) { set(c, value); }); });
    m_shows.append([control, get = binding.get](const Configuration &c) { control->setValue(get(c)); });
    return control;
}

QCheckBox *StationTab::toggleControl(const QString &title, const QString &name, ConfigurationBinding<bool> binding)
{
    auto *control = new QCheckBox(title);
    control->setObjectName(name);
    connect(control, &QCheckBox::clicked, this,
            [this, set = binding.set](bool on) { edit([&](Configuration &c) { set(c, on); }); });
    m_shows.append([control, get = binding.get](const Configuration &c) { control->setChecked(get(c)); });
    return control;
}

QComboBox *StationTab::pickerControl(QComboBox *picker, ConfigurationBinding<QVariant> binding)
{
    // Only a pick writes: a stored value outside the choices shows no
    // selection and stays as stored.
    connect(picker, &QComboBox::activated, this, [this, picker, set = binding.set](int index) {
        const QVariant value = picker->itemData(index);
        edit([&](Configuration &c) { set(c, value); });
    });
    m_shows.append([picker, get = binding.get](const Configuration &c) { showChoice(picker, get(c)); });
    return picker;
}

void StationTab::edit(const std::function<void(Configuration &)> &change)
{
    Configuration configuration = m_model.remoteConfiguration();
    change(configuration);
    m_model.setRemoteConfiguration(configuration);
}

void StationTab::refresh()
{
    const Configuration configuration = m_model.remoteConfiguration();
    for (const auto &show : m_shows)
        show(configuration);
    const auto controls = stationControls(m_model.remoteConfigurationLoaded(), m_model.remoteConfigurationBusy(),
                                          m_model.isRunning());
    for (QWidget *section : m_sections)
        section->setEnabled(controls.editing);
    m_reload->setEnabled(controls.reload);
    m_save->setEnabled(controls.save);
    m_status->setFullText(m_model.remoteConfigurationStatus());
}

} // namespace kivo
