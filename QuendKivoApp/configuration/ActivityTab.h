#pragma once

// The Activity tab: the tail of the events log, newest last.

#include <QStringList>
#include <QWidget>

class QLabel;
class QStackedLayout;

namespace kivo {

class AppModel;
class LineLimitedLabel;

inline constexpr int activityShownEvents = 18;

// The lines the block shows: the last 18, oldest of them first.
QStringList shownEvents(const QStringList &events);
QString eventsTotalText(qsizetype count);

class ActivityTab : public QWidget {
    Q_OBJECT
public:
    explicit ActivityTab(AppModel &model, QWidget *parent = nullptr);

private:
    void refresh();

    AppModel &m_model;
    QLabel *m_total = nullptr;
    QStackedLayout *m_body = nullptr;
    LineLimitedLabel *m_block = nullptr;
};

} // namespace kivo
