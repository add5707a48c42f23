#include "QuendKivoApp/configuration/ConfigurationTab.h"

#include "KivoCore/support/Async.h"
#include "QuendKivoApp/kit/PageControls.h"
#include "QuendKivoApp/kit/EntryField.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"
#include "QuendKivoApp/kit/NumberField.h"
#include "QuendKivoApp/model/AppModel.h"
#include "QuendKivoApp/model/ConnectionKindDescriptor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace kivo {

using Kind = AppConfiguration::ConnectionKind;

namespace {

// Also the key under which the tab shows and hides the row.
QString connectionRowTitle(ConnectionRow row)
{
    switch (row) {
    case ConnectionRow::SmartLinkEmail: return QStringLiteral("SmartLink email");
    case ConnectionRow::SmartLinkPassword: return QStringLiteral("Password");
    case ConnectionRow::SmartLinkRadioSerial: return QStringLiteral("Radio serial");
    case ConnectionRow::RemoteAgentURL: return QStringLiteral("Agent HTTPS URL");
    case ConnectionRow::RemoteAgentToken: return QStringLiteral("Bearer token");
    case ConnectionRow::RadioHost: return QStringLiteral("Radio host");
    case ConnectionRow::Station: return QStringLiteral("Station");
    case ConnectionRow::LegacyKIVOHost: return QStringLiteral("KIVO host");
    case ConnectionRow::LegacyKIVOPort: return QStringLiteral("KIVO CAT port");
    case ConnectionRow::LegacyKIVOSupervision: return QStringLiteral("Supervision");
    case ConnectionRow::LegacyKIVOLaunchCommand: return QStringLiteral("Launch command");
    case ConnectionRow::LegacyKIVOProcessName: return QStringLiteral("Process name");
    }
    return {};
}

} // namespace

QStringList connectionRowTitles(Kind kind)
{
    QStringList titles;
    for (const ConnectionRow row : descriptorOf(kind).rows)
        titles << connectionRowTitle(row);
    return titles;
}

namespace {

// The button does not wait for the save; its outcome is a line of the log.
QCoro::Task<void> withoutResult(QCoro::Task<bool> task) { co_await task; }

QGridLayout *settingsGrid(QWidget *parent)
{
    auto *grid = new QGridLayout(parent);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(8);
    grid->setColumnStretch(1, 1);
    return grid;
}

QWidget *hbox(std::initializer_list<QWidget *> widgets)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    // Text fields of no fixed width share the room; buttons keep their size.
    for (QWidget *widget : widgets)
        layout->addWidget(widget, qobject_cast<QLineEdit *>(widget) && widget->maximumWidth() == QWIDGETSIZE_MAX ? 1 : 0);
    return row;
}

} // namespace

ConfigurationTab::ConfigurationTab(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    // The boxes scroll; the guidance and Save stay in view below them.
    auto *boxes = new QWidget;
    auto *stack = new QVBoxLayout(boxes);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(16);
    stack->addWidget(makeConnectionBox());
    stack->addWidget(makeLocalServicesBox());
    stack->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    layout->addWidget(scrollingPart(boxes), 1);

    auto *footer = new QHBoxLayout;
    m_guidance = new LineLimitedLabel(2);
    m_guidance->setObjectName(QStringLiteral("configuration.guidance"));
    m_guidance->setFont(styleFont(TextStyle::Caption));
    setSecondaryStyle(m_guidance);
    footer->addWidget(m_guidance, 1);
    auto *save = new QPushButton(QStringLiteral("Save Settings"));
    save->setObjectName(QStringLiteral("configuration.save"));
    connect(save, &QPushButton::clicked, this, &ConfigurationTab::save);
    // A page's shortcut fires only while the page is shown and enabled: on
    // this tab, while the bridge is stopped.
    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), this);
    connect(shortcut, &QShortcut::activated, this, &ConfigurationTab::save);
    footer->addWidget(save);
    layout->addLayout(footer);

    connect(&model, &AppModel::configurationChanged, this, &ConfigurationTab::refresh);
    connect(&model, &AppModel::smartLinkPasswordChanged, this, &ConfigurationTab::refresh);
    connect(&model, &AppModel::remoteAgentTokenChanged, this, &ConfigurationTab::refresh);
    refresh();
}

void ConfigurationTab::save()
{
    commitFocusedField();
    if (const QString problem = m_settingsCheck ? m_settingsCheck() : invalidNumberProblem(this); !problem.isEmpty()) {
        m_model.record(QStringLiteral("Could not save settings: ") + problem);
        return;
    }
    launch(withoutResult(m_model.save()));
}

void ConfigurationTab::edit(const std::function<void(AppConfiguration &)> &change)
{
    AppConfiguration configuration = m_model.configuration();
    change(configuration);
    m_model.setConfiguration(configuration);
}

void ConfigurationTab::addRow(QGridLayout *grid, const QString &title, QWidget *content, bool fixedTitle)
{
    const int row = grid->rowCount();
    QLabel *label = rowLabel(title);
    if (fixedTitle)
        label->setFixedWidth(154);
    grid->addWidget(label, row, 0);
    grid->addWidget(content, row, 1);
    m_rows[title] = {label, content};
}

void ConfigurationTab::addHelp(QGridLayout *grid, const QString &rowTitle, const QString &text)
{
    auto *help = new LineLimitedLabel(2);
    help->setFont(styleFont(TextStyle::Caption));
    setSecondaryStyle(help);
    showFullText(help, text);
    // Close under the row it explains.
    grid->addWidget(help, grid->rowCount(), 1, Qt::AlignTop);
    m_rows[rowTitle].append(help);
}

QLineEdit *ConfigurationTab::textField(const QString &name, const QString &placeholder, TextField field)
{
    auto *lineEdit = new QLineEdit;
    lineEdit->setObjectName(name);
    lineEdit->setPlaceholderText(placeholder);
    setPlaceholderStyle(lineEdit);
    connect(lineEdit, &QLineEdit::textEdited, this,
            [this, field](const QString &text) { edit([&](AppConfiguration &c) { c.*field = text; }); });
    m_refreshers.append([this, lineEdit, field] {
        const QString value = m_model.configuration().*field;
        if (!lineEdit->hasFocus() && lineEdit->text() != value) {
            const QSignalBlocker blocker(lineEdit);
            lineEdit->setText(value);
        }
    });
    return lineEdit;
}

QLineEdit *ConfigurationTab::secretField(const QString &name, const QString &placeholder,
                                         std::function<void(const QString &)> set, std::function<QString()> get)
{
    auto *lineEdit = new QLineEdit;
    lineEdit->setObjectName(name);
    lineEdit->setPlaceholderText(placeholder);
    setPlaceholderStyle(lineEdit);
    lineEdit->setEchoMode(QLineEdit::Password);
    connect(lineEdit, &QLineEdit::textEdited, this, std::move(set));
    m_refreshers.append([lineEdit, get = std::move(get)] {
        const QString value = get();
        // The model empties a saved token: show the placeholder again even
        // while the field still has focus from typing it.
        if ((!lineEdit->hasFocus() || value.isEmpty()) && lineEdit->text() != value) {
            const QSignalBlocker blocker(lineEdit);
            lineEdit->setText(value);
        }
    });
    return lineEdit;
}

NumberField *ConfigurationTab::portField(const QString &name, const QString &title, PortField field)
{
    auto *number = new NumberField({.minimum = AppConfiguration::lowestPort, .maximum = 65535});
    number->setObjectName(name);
    number->setPlaceholderText(QStringLiteral("Port"));
    number->setAccessibleName(title);
    number->setIdentifier(true);
    connect(number, &NumberField::valueCommitted, this,
            [this, field](qint64 value) { edit([&](AppConfiguration &c) { c.*field = quint16(value); }); });
    m_refreshers.append([this, number, field] {
        const QSignalBlocker blocker(number);
        number->setValue(m_model.configuration().*field);
    });
    return number;
}

QCheckBox *ConfigurationTab::toggle(const QString &name, const QString &label, Switch field)
{
    auto *box = new QCheckBox(label);
    box->setObjectName(name);
    connect(box, &QCheckBox::toggled, this,
            [this, field](bool on) { edit([&](AppConfiguration &c) { c.*field = on; }); });
    m_refreshers.append([this, box, field] {
        const QSignalBlocker blocker(box);
        box->setChecked(m_model.configuration().*field);
    });
    return box;
}

QPushButton *ConfigurationTab::button(const QString &name, const QString &title, std::function<void()> operation)
{
    auto *push = new QPushButton(title);
    push->setObjectName(name);
    connect(push, &QPushButton::clicked, this, std::move(operation));
    return push;
}

QWidget *ConfigurationTab::makeConnectionBox()
{
    auto *box = new QGroupBox(QStringLiteral("Connection"));
    box->setObjectName(QStringLiteral("configuration.connection"));
    auto *grid = settingsGrid(box);

    m_kindPicker = new QComboBox;
    m_kindPicker->setObjectName(QStringLiteral("configuration.connectionKind"));
    m_kindPicker->setAccessibleName(QStringLiteral("Radio connection"));
    for (const ConnectionKindDescriptor &descriptor : connectionKindDescriptors())
        m_kindPicker->addItem(descriptor.name, int(descriptor.kind));
    connect(m_kindPicker, &QComboBox::currentIndexChanged, this, [this](int index) {
        const Kind kind = Kind(m_kindPicker->itemData(index).toInt());
        edit([&](AppConfiguration &c) { c.connectionKind = kind; });
    });
    m_refreshers.append([this] {
        const QSignalBlocker blocker(m_kindPicker);
        m_kindPicker->setCurrentIndex(m_kindPicker->findData(int(m_model.configuration().connectionKind)));
    });
    addRow(grid, QStringLiteral("Radio connection"), m_kindPicker);

    using C = AppConfiguration;
    const auto title = connectionRowTitle;
    addRow(grid, title(ConnectionRow::SmartLinkEmail),
           textField(QStringLiteral("configuration.smartLinkEmail"), QStringLiteral("Email"), &C::smartLinkEmail));
    addRow(grid, title(ConnectionRow::SmartLinkPassword),
           secretField(QStringLiteral("configuration.smartLinkPassword"), QStringLiteral("Needed once"),
                       [this](const QString &text) { m_model.setSmartLinkPassword(text); },
                       [this] { return m_model.smartLinkPassword(); }));
    addRow(grid, title(ConnectionRow::SmartLinkRadioSerial),
           hbox({textField(QStringLiteral("configuration.smartLinkRadioSerial"),
                           QStringLiteral("Optional preferred serial"), &C::smartLinkRadioSerial),
                 button(QStringLiteral("configuration.forgetSession"), QStringLiteral("Forget session"),
                        [this] { m_model.forgetSmartLinkSession(); }),
                 button(QStringLiteral("configuration.resetPin"), QStringLiteral("Reset pin"),
                        [this] { m_model.resetSmartLinkCertificatePin(); })}));
    addRow(grid, title(ConnectionRow::RemoteAgentURL),
           textField(QStringLiteral("configuration.remoteAgentBaseURL"),
                     QStringLiteral("https://station-pc.local:8443"), &C::remoteAgentBaseURL));
    addRow(grid, title(ConnectionRow::RemoteAgentToken),
           hbox({secretField(QStringLiteral("configuration.remoteAgentToken"),
                             QStringLiteral("Stored securely in the keyring"),
                             [this](const QString &text) { m_model.setRemoteAgentToken(text); },
                             [this] { return m_model.remoteAgentToken(); }),
                 button(QStringLiteral("configuration.forgetToken"), QStringLiteral("Forget saved token"),
                        [this] { m_model.forgetRemoteAgentToken(); })}));
    addRow(grid, title(ConnectionRow::RadioHost),
           textField(QStringLiteral("configuration.radioHost"), QStringLiteral("IP address or hostname"), &C::radioHost));

    QLineEdit *slice = textField(QStringLiteral("configuration.sliceLetter"), QStringLiteral("A"), &C::sliceLetter);
    slice->setFixedWidth(64);
    addRow(grid, title(ConnectionRow::Station),
           hbox({textField(QStringLiteral("configuration.stationName"), QStringLiteral("Station name"), &C::stationName),
                 rowLabel(QStringLiteral("Slice")), slice}));
    addRow(grid, title(ConnectionRow::LegacyKIVOHost),
           textField(QStringLiteral("configuration.legacyKIVOHost"), QStringLiteral("Host"), &C::legacyKIVOHost));
    addRow(grid, title(ConnectionRow::LegacyKIVOPort),
           portField(QStringLiteral("configuration.legacyKIVOPort"), title(ConnectionRow::LegacyKIVOPort),
                     &C::legacyKIVOPort));
    addRow(grid, title(ConnectionRow::LegacyKIVOSupervision),
           toggle(QStringLiteral("configuration.superviseLegacyKIVO"),
                  QStringLiteral("Restart KIVO automatically if it crashes"), &C::superviseLegacyKIVO),
           false);
    addRow(grid, title(ConnectionRow::LegacyKIVOLaunchCommand),
           textField(QStringLiteral("configuration.legacyKIVOLaunchCommand"), QStringLiteral("Program and arguments"),
                     &C::legacyKIVOLaunchCommand));
    addRow(grid, title(ConnectionRow::LegacyKIVOProcessName),
           textField(QStringLiteral("configuration.legacyKIVOProcessName"),
                     QStringLiteral("Empty: the command's program"), &C::legacyKIVOProcessName));
    addHelp(grid, title(ConnectionRow::LegacyKIVOProcessName),
            QStringLiteral("Supervision runs the command when no process of this name is running."));
    return box;
}

QWidget *ConfigurationTab::makeLocalServicesBox()
{
    using C = AppConfiguration;
    auto *box = new QGroupBox(QStringLiteral("Local services"));
    box->setObjectName(QStringLiteral("configuration.localServices"));
    auto *grid = settingsGrid(box);
    addRow(grid, QStringLiteral("CAT port"),
           portField(QStringLiteral("configuration.catPort"), QStringLiteral("CAT port"), &C::catPort));
    addRow(grid, QStringLiteral("RigCtlD port"),
           portField(QStringLiteral("configuration.rigCtlPort"), QStringLiteral("RigCtlD port"), &C::rigCtlPort));
    addRow(grid, QStringLiteral("Control"),
           toggle(QStringLiteral("configuration.allowCATTransmit"), QStringLiteral("Enable full CAT and station control"),
                  &C::allowCATTransmit),
           false);
    addRow(grid, QStringLiteral("Startup"),
           toggle(QStringLiteral("configuration.launchServersAutomatically"),
                  QStringLiteral("Start protocol servers automatically"), &C::launchServersAutomatically),
           false);
    return box;
}

void ConfigurationTab::refresh()
{
    for (const auto &refresher : m_refreshers)
        refresher();
    const Kind kind = m_model.configuration().connectionKind;
    static const QStringList alwaysShown{QStringLiteral("Radio connection"), QStringLiteral("CAT port"),
                                         QStringLiteral("RigCtlD port"), QStringLiteral("Control"),
                                         QStringLiteral("Startup")};
    const QStringList shown = connectionRowTitles(kind);
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        const bool visible = alwaysShown.contains(it.key()) || shown.contains(it.key());
        for (QWidget *widget : it.value())
            widget->setVisible(visible);
    }
    showFullText(m_guidance, descriptorOf(kind).guidance);
}

} // namespace kivo
