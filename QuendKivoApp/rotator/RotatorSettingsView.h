#pragma once

// The rotator settings form (the configuration window's Rotator tab): the
// DCU-1 connection, the target entry with manual turn and stop, the home
// grid and automatic turning, and the per-band table. Every control edits
// AppModel's configuration in place; every button calls one operation.

#include "KivoCore/station/Rotator.h"
#include "QuendKivoApp/rotator/RotatorFormRules.h"

#include <QHash>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kivo {

class AppModel;
class LineLimitedLabel;
class NumberField;

class RotatorSettingsView : public QWidget {
    Q_OBJECT
public:
    explicit RotatorSettingsView(AppModel &model, QWidget *parent = nullptr);

    // Where a save looks for fields holding no number in range: the page
    // itself unless the window hands over its settings pages' check.
    void setSettingsCheck(std::function<QString()> check) { m_settingsCheck = std::move(check); }

private:
    struct BandRow {
        QCheckBox *use;
        NumberField *offset;
        QCheckBox *bidirectional;
    };

    QWidget *makeHeader();
    QWidget *makeControllerBox();
    QWidget *makeTargetBox();
    QWidget *makeLocationBox();
    QWidget *makeBandsBox();
    QWidget *makeBandColumn(const QStringList &bands);
    NumberField *numberField(const QString &name, const QString &placeholder, int width, RotatorFormRules::Range range,
                             const std::function<void(RotatorConfiguration &, qint64)> &write);
    QCheckBox *checkBox(const QString &name, const QString &accessibleName,
                        const std::function<void(RotatorConfiguration &, bool)> &write);
    void edit(const std::function<void(RotatorConfiguration &)> &change);
    void refresh();

    AppModel &m_model;
    std::function<QString()> m_settingsCheck;
    QLabel *m_dot = nullptr;
    LineLimitedLabel *m_status = nullptr;
    LineLimitedLabel *m_feedStatus = nullptr;
    QPushButton *m_connect = nullptr;
    QCheckBox *m_enabled = nullptr;
    QCheckBox *m_connectAtLaunch = nullptr;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_host = nullptr;
    NumberField *m_port = nullptr;
    QComboBox *m_pollRate = nullptr;
    NumberField *m_rumlogPort = nullptr;
    QLineEdit *m_target = nullptr;
    QPushButton *m_turn = nullptr;
    QPushButton *m_longPath = nullptr;
    QPushButton *m_stop = nullptr;
    QLabel *m_targetLabel = nullptr;
    QLabel *m_targetBearing = nullptr;
    LineLimitedLabel *m_targetSource = nullptr;
    QLineEdit *m_callsignDatabase = nullptr;
    QLineEdit *m_homeGrid = nullptr;
    QLabel *m_homeGridMark = nullptr;
    QCheckBox *m_automatic = nullptr;
    QComboBox *m_automaticSource = nullptr;
    NumberField *m_minimumChange = nullptr;
    NumberField *m_beamWidth = nullptr;
    QHash<QString, BandRow> m_bands;
};

} // namespace kivo
