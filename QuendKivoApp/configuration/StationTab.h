#pragma once

// The Station tab's editor of the agent's station configuration: radio,
// serial devices, tuning and policy, the band routing and drive grid, which
// scroll, and below them, always in view, the footer with the status line
// and the two agent requests. Every control edits AppModel's remoteConfiguration in place; nothing reaches
// the agent before "Save to Windows".

#include "KivoCore/agent/RemoteStationConfiguration.h"

#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QPushButton;

namespace kivo {

class AppModel;
class DecimalField;
class LineLimitedLabel;
class NumberField;

// One control's reading and writing of the station configuration.
template <typename T> struct ConfigurationBinding {
    std::function<T(const RemoteStationConfiguration &)> get;
    std::function<void(RemoteStationConfiguration &, T)> set;
};

class StationTab : public QWidget {
    Q_OBJECT
public:
    enum class RemotePowerKind { Amplifier, Barefoot, Digital };

    explicit StationTab(AppModel &model, QWidget *parent = nullptr);

private:
    QWidget *makeFlexBox();
    QWidget *makeHardwareBox();
    QWidget *makeTuneBox();
    QWidget *makeBandHeader();
    QWidget *makeBandGrid();
    QWidget *makeFooter();
    void deviceRow(QGridLayout *grid, int row, const QString &title, const QString &name,
                   RemoteSerialDeviceConfiguration RemoteStationConfiguration::*device);

    QLineEdit *textControl(const QString &placeholder, int width, const QString &name, ConfigurationBinding<QString> binding);
    NumberField *numberControl(const QString &placeholder, int width, const QString &name, ConfigurationBinding<qint64> binding);
    DecimalField *decimalControl(const QString &placeholder, const QString &name, ConfigurationBinding<double> binding);
    QCheckBox *toggleControl(const QString &title, const QString &name, ConfigurationBinding<bool> binding);
    QComboBox *pickerControl(QComboBox *picker, ConfigurationBinding<QVariant> binding);

    static ConfigurationBinding<qint64> remotePowerBinding(const QString &band, RemotePowerKind kind);
    static ConfigurationBinding<bool> remoteBandMembershipBinding(const QString &band, bool digital);

    void edit(const std::function<void(RemoteStationConfiguration &)> &change);
    void refresh();

    AppModel &m_model;
    QList<std::function<void(const RemoteStationConfiguration &)>> m_shows;
    QList<QWidget *> m_sections;
    LineLimitedLabel *m_status = nullptr;
    QPushButton *m_reload = nullptr;
    QPushButton *m_save = nullptr;
};

} // namespace kivo
