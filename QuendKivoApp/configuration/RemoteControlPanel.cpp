#include "QuendKivoApp/configuration/RemoteControlPanel.h"

#include "QuendKivoApp/model/StationRules.h"
#include "QuendKivoApp/kit/AdaptiveRow.h"
#include "QuendKivoApp/kit/EntryField.h"
#include "QuendKivoApp/kit/Fonts.h"
#include "QuendKivoApp/kit/SymbolLabel.h"
#include "QuendKivoApp/kit/LineLimitedLabel.h"
#include "QuendKivoApp/kit/NumberField.h"
#include "QuendKivoApp/kit/Palette.h"
#include "QuendKivoApp/model/AppModel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <climits>

namespace kivo {

RemoteControlPanel::RemoteControlPanel(AppModel &model, QWidget *parent) : QWidget(parent), m_model(model)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(16);

    // The advisory has a line of its own below the control state: beside
    // it, the stretch would leave a cut-to-fit label no width at all.
    auto *header = new QVBoxLayout;
    header->setSpacing(4);
    auto *state = new QHBoxLayout;
    state->setSpacing(8);
    m_fullControlSymbol = new SymbolLabel(14);
    m_fullControl = new QLabel;
    m_fullControl->setObjectName(QStringLiteral("remote.fullControl"));
    state->addWidget(m_fullControlSymbol);
    state->addWidget(m_fullControl);
    state->addStretch(1);
    m_advisory = new LineLimitedLabel(1);
    m_advisory->setObjectName(QStringLiteral("remote.advisory"));
    m_advisory->setFont(styleFont(TextStyle::Caption));
    setSecondaryStyle(m_advisory);
    header->addLayout(state);
    header->addWidget(m_advisory);
    layout->addLayout(header);

    auto *offsets = new AdaptiveRow(16);
    offsets->setObjectName(QStringLiteral("remote.offsets"));
    offsets->addWidget(offsetControl(QStringLiteral("RIT"), QStringLiteral("rit"), m_rit, m_ritOffset,
                                     QStringLiteral("Apply RIT"), [this] { m_model.applyRemoteRIT(); }));
    offsets->addWidget(offsetControl(QStringLiteral("XIT"), QStringLiteral("xit"), m_xit, m_xitOffset,
                                     QStringLiteral("Apply XIT"), [this] { m_model.applyRemoteXIT(); }));
    m_offsets = offsets;
    layout->addWidget(offsets);
    connect(m_rit, &QCheckBox::toggled, &model, &AppModel::setRemoteRITEnabled);
    connect(m_xit, &QCheckBox::toggled, &model, &AppModel::setRemoteXITEnabled);
    connect(m_ritOffset, &NumberField::valueCommitted, this, [this](qint64 v) { m_model.setRemoteRITOffsetHz(int(v)); });
    connect(m_xitOffset, &NumberField::valueCommitted, this, [this](qint64 v) { m_model.setRemoteXITOffsetHz(int(v)); });

    auto *station = new QHBoxLayout;
    station->setSpacing(8);
    m_power = new NumberField({.minimum = INT_MIN, .maximum = INT_MAX});
    m_power->setObjectName(QStringLiteral("remote.rfPower"));
    m_power->setPlaceholderText(QStringLiteral("RF power W"));
    m_power->setFixedWidth(118);
    connect(m_power, &NumberField::valueCommitted, this, [this](qint64 v) { m_model.setRemoteRFPowerWatts(int(v)); });
    m_applyPower = new QPushButton(QStringLiteral("Apply power"));
    m_applyPower->setObjectName(QStringLiteral("remote.applyPower"));
    connect(m_applyPower, &QPushButton::clicked, this, [this] {
        commitFocusedField();
        m_model.applyRemoteRFPower();
    });
    station->addWidget(m_power);
    station->addWidget(m_applyPower);
    station->addStretch(1);
    m_amplifier = new QPushButton;
    m_amplifier->setObjectName(QStringLiteral("remote.amplifier"));
    connect(m_amplifier, &QPushButton::clicked, this, [this] {
        commitFocusedField();
        if (const auto action = m_model.amplifierToggleAction())
            m_model.performRemoteStationAction(*action);
    });
    station->addWidget(m_amplifier);
    for (const auto action : {RemoteStationAction::Tune, RemoteStationAction::Cancel}) {
        auto *button = new QPushButton(actionTitle(action));
        button->setObjectName(QStringLiteral("remote.") + rawValue(action));
        connect(button, &QPushButton::clicked, this, [this, action] {
            commitFocusedField();
            m_model.performRemoteStationAction(action);
        });
        station->addWidget(button);
        (action == RemoteStationAction::Tune ? m_tune : m_cancel) = button;
    }
    layout->addLayout(station);

    for (auto signal : {&AppModel::configurationChanged, &AppModel::isRadioConnectedChanged,
                        &AppModel::isRunningChanged, &AppModel::remoteStationStatusChanged,
                        &AppModel::remoteRITEnabledChanged, &AppModel::remoteRITOffsetHzChanged,
                        &AppModel::remoteXITEnabledChanged, &AppModel::remoteXITOffsetHzChanged,
                        &AppModel::remoteRFPowerWattsChanged})
        connect(&model, signal, this, &RemoteControlPanel::refresh);
    refresh();
}

QWidget *RemoteControlPanel::offsetControl(const QString &label, const QString &name, QCheckBox *&toggle,
                                           NumberField *&offset, const QString &actionLabel,
                                           std::function<void()> action)
{
    auto *control = new QWidget;
    auto *row = new QHBoxLayout(control);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    toggle = new QCheckBox(label);
    toggle->setObjectName(QStringLiteral("remote.") + name);
    offset = new NumberField({.minimum = INT_MIN, .maximum = INT_MAX});
    offset->setObjectName(QStringLiteral("remote.") + name + QStringLiteral("Offset"));
    offset->setPlaceholderText(QStringLiteral("Hz"));
    offset->setFixedWidth(96);
    auto *button = new QPushButton(actionLabel);
    button->setObjectName(QStringLiteral("remote.apply") + label);
    connect(button, &QPushButton::clicked, this, [action] {
        commitFocusedField();
        action();
    });
    row->addWidget(toggle);
    row->addWidget(offset);
    row->addWidget(button);
    row->addStretch(1);
    return control;
}

void RemoteControlPanel::refresh()
{
    const bool fullControl = m_model.configuration().allowCATTransmit;
    m_fullControlSymbol->setSymbol(fullControl ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("pause.circle"),
                                   fullControl ? PlatformColor::Green : PlatformColor::Secondary);
    m_fullControl->setText(fullControl ? QStringLiteral("Full control enabled") : QStringLiteral("Full control disabled"));
    setForegroundColor(m_fullControl, fullControl ? PlatformColor::Green : PlatformColor::Secondary);

    const auto status = m_model.remoteStationStatus();
    const QString inhibitors = status ? status->inhibitors.join(QStringLiteral("; ")) : QString();
    const bool advisory = status && !status->inhibitors.isEmpty();
    m_advisory->setVisible(advisory);
    m_advisory->setFullText(advisory ? QStringLiteral("Agent advisory: ") + inhibitors : QString());
    m_advisory->setToolTip(advisory ? inhibitors : QString());

    m_rit->setChecked(m_model.remoteRITEnabled());
    m_ritOffset->setValue(m_model.remoteRITOffsetHz());
    m_xit->setChecked(m_model.remoteXITEnabled());
    m_xitOffset->setValue(m_model.remoteXITOffsetHz());
    m_power->setValue(m_model.remoteRFPowerWatts());

    const auto shown = remotePanelControls(m_model.isRadioConnected(), fullControl, m_model.amplifierToggleAction(),
                                           [this](RemoteStationAction a) { return m_model.remoteActionAllowed(a); });
    m_offsets->setEnabled(shown.offsets);
    m_applyPower->setEnabled(shown.applyPower);
    m_amplifier->setVisible(shown.amplifier.has_value());
    if (shown.amplifier)
        m_amplifier->setText(actionTitle(*shown.amplifier));
    m_amplifier->setEnabled(shown.amplifierEnabled);
    m_tune->setEnabled(shown.tune);
    m_cancel->setEnabled(shown.cancel);
}

} // namespace kivo
