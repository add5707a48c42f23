#pragma once

// The remote control panel of the Status tab: RIT, XIT and RF power for the
// radio and the station actions, through the agent. It holds no state: the
// entries are the model's and every button is one model operation.

#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace kivo {

class AppModel;
class LineLimitedLabel;
class NumberField;
class SymbolLabel;

class RemoteControlPanel : public QWidget {
    Q_OBJECT
public:
    explicit RemoteControlPanel(AppModel &model, QWidget *parent = nullptr);

private:
    QWidget *offsetControl(const QString &label, const QString &name, QCheckBox *&toggle, NumberField *&offset,
                           const QString &actionLabel, std::function<void()> action);
    void refresh();

    AppModel &m_model;
    SymbolLabel *m_fullControlSymbol = nullptr;
    QLabel *m_fullControl = nullptr;
    LineLimitedLabel *m_advisory = nullptr;
    QWidget *m_offsets = nullptr;
    QCheckBox *m_rit = nullptr;
    NumberField *m_ritOffset = nullptr;
    QCheckBox *m_xit = nullptr;
    NumberField *m_xitOffset = nullptr;
    NumberField *m_power = nullptr;
    QPushButton *m_applyPower = nullptr;
    QPushButton *m_amplifier = nullptr;
    QPushButton *m_tune = nullptr;
    QPushButton *m_cancel = nullptr;
};

} // namespace kivo
