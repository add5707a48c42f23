#pragma once

// The Spots tab: the spot bridge's switch, its two RUMlog ports, the style
// of every spot category, the live counters and the restart button. Every
// control edits AppModel's configuration in place; only the feed choice of
// the styling grid is the tab's own.

#include "KivoCore/station/DXSpot.h"

#include <QHash>
#include <functional>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace kivo {

class AppModel;
class ColorSwatch;
class LineLimitedLabel;
class NumberField;

class SpotsTab : public QWidget {
    Q_OBJECT
public:
    explicit SpotsTab(AppModel &model, QWidget *parent = nullptr);

    void selectSpotFeed(SpotFeed feed);

    // Where a save looks for fields holding no number in range: the page
    // itself unless the window hands over its settings pages' check.
    void setSettingsCheck(std::function<QString()> check) { m_settingsCheck = std::move(check); }

private:
    struct CategoryRow {
        QList<QWidget *> cells;
        QComboBox *priority;
        ColorSwatch *color;
        QComboBox *lifetime;
    };

    QWidget *makeInputsBox();
    QWidget *makeActivityBox();
    QWidget *makeStylingHeader();
    QWidget *makeStylingGrid();
    QWidget *spotMetric(const QString &title, QLabel *&value);
    void editStyle(DXSpotCategory category, const std::function<void(SpotStyle &)> &change);
    void refresh();
    void restart();
    void showFeedRows();

    AppModel &m_model;
    std::function<QString()> m_settingsCheck;
    SpotFeed m_selectedSpotFeed = SpotFeed::Logbook;
    QCheckBox *m_enabled = nullptr;
    LineLimitedLabel *m_status = nullptr;
    NumberField *m_logbookPort = nullptr;
    NumberField *m_contestPort = nullptr;
    QLabel *m_received = nullptr;
    QLabel *m_forwarded = nullptr;
    QLabel *m_rejected = nullptr;
    LineLimitedLabel *m_summary = nullptr;
    QList<QPushButton *> m_feedButtons;
    QHash<DXSpotCategory, CategoryRow> m_rows;
    QPushButton *m_restart = nullptr;
};

} // namespace kivo
