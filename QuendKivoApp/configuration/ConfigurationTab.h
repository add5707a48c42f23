#pragma once

// The Configuration tab: the backend and what it needs, the loopback ports,
// transmit control and automatic start, and Save Settings. Every control
// writes straight into the model; nothing is stored until save().

#include "QuendKivoApp/model/AppConfiguration.h"

#include <QHash>
#include <QStringList>
#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kivo {

class AppModel;
class LineLimitedLabel;
class NumberField;

// The Connection box's row titles after "Radio connection", for a kind.
QStringList connectionRowTitles(AppConfiguration::ConnectionKind kind);

class ConfigurationTab : public QWidget {
    Q_OBJECT
public:
    explicit ConfigurationTab(AppModel &model, QWidget *parent = nullptr);

    // Where a save looks for fields holding no number in range: the page
    // itself unless the window hands over its settings pages' check.
    void setSettingsCheck(std::function<QString()> check) { m_settingsCheck = std::move(check); }

private:
    using TextField = QString AppConfiguration::*;
    using PortField = quint16 AppConfiguration::*;
    using Switch = bool AppConfiguration::*;

    QWidget *makeConnectionBox();
    QWidget *makeLocalServicesBox();
    void addRow(QGridLayout *grid, const QString &title, QWidget *content, bool fixedTitle = true);
    // A caption line under a row, shown and hidden with it.
    void addHelp(QGridLayout *grid, const QString &rowTitle, const QString &text);
    QLineEdit *textField(const QString &name, const QString &placeholder, TextField field);
    QLineEdit *secretField(const QString &name, const QString &placeholder,
                           std::function<void(const QString &)> set, std::function<QString()> get);
    NumberField *portField(const QString &name, const QString &title, PortField field);
    QCheckBox *toggle(const QString &name, const QString &label, Switch field);
    QPushButton *button(const QString &name, const QString &title, std::function<void()> operation);
    void edit(const std::function<void(AppConfiguration &)> &change);
    void refresh();
    void save();

    AppModel &m_model;
    QComboBox *m_kindPicker = nullptr;
    LineLimitedLabel *m_guidance = nullptr;
    QHash<QString, QList<QWidget *>> m_rows;
    QList<std::function<void()>> m_refreshers;
    std::function<QString()> m_settingsCheck;
};

} // namespace kivo
