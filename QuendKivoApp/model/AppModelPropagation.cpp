// Propagation refresh and the current band of the application model.

#include "QuendKivoApp/model/AppModel.h"

#include "KivoCore/support/Async.h"
#include "QuendKivoApp/model/BandPlan.h"
#include "QuendKivoApp/model/StationStatusTexts.h"

#include <QTimer>

namespace kivo {

void AppModel::startPropagationUpdates()
{
    if (m_propagationTimer)
        return;
    // The loop's next fetch is due one interval after its previous one finished.
    m_propagationTimer = new QTimer(this);
    m_propagationTimer->setSingleShot(true);
    m_propagationTimer->setInterval(m_dependencies.propagationInterval);
    connect(m_propagationTimer, &QTimer::timeout, this, [this] { launch(periodicPropagationLoad()); });

    // Timers stand still while the computer sleeps; a wall clock that ran
    // ahead of them means it woke up, and the report is refreshed at once.
    m_propagationWakeCheck = new QTimer(this);
    m_propagationWakeCheck->setInterval(m_dependencies.propagationWakeCheckInterval);
    m_lastWakeCheckWall = m_dependencies.now();
    m_lastWakeCheckMonotonic.start();
    connect(m_propagationWakeCheck, &QTimer::timeout, this, [this] {
        const qint64 wall = m_lastWakeCheckWall.msecsTo(m_dependencies.now());
        const qint64 monotonic = m_lastWakeCheckMonotonic.restart();
        m_lastWakeCheckWall = m_dependencies.now();
        if (wall - monotonic > m_dependencies.propagationWakeCheckInterval.count())
            refreshPropagationConditions();
    });
    m_propagationWakeCheck->start();
    launch(periodicPropagationLoad());
}

QCoro::Task<void> AppModel::periodicPropagationLoad()
{
    QPointer<AppModel> self(this);
    co_await loadPropagationConditions();
    if (self)
        m_propagationTimer->start();
}

void AppModel::refreshPropagationConditions()
{
    if (m_propagationIsRefreshing)
        return;
    QMetaObject::invokeMethod(
        this, [this] { launch(loadPropagationConditions()); }, Qt::QueuedConnection);
}

QCoro::Task<void> AppModel::loadPropagationConditions()
{
    if (m_propagationIsRefreshing)
        co_return;
    QPointer<AppModel> self(this);
    assign(m_propagationIsRefreshing, true, &AppModel::propagationIsRefreshingChanged);
    if (!m_propagationConditions)
        assign(m_propagationStatus, QStringLiteral("Loading solar conditions"), &AppModel::propagationStatusChanged);
    std::optional<PropagationConditionsSnapshot> fetched;
    try {
        if (m_dependencies.propagationFetcher)
            fetched = co_await m_dependencies.propagationFetcher();
        else
            fetched = co_await m_propagationClient->fetch();
    } catch (...) {
        // A failed fetch only changes the freshness status.
    }
    if (!self)
        co_return;
    const QString status = propagationStatusAfterFetch(fetched, m_propagationConditions.has_value(),
                                                       m_dependencies.now());
    if (fetched)
        assign(m_propagationConditions, fetched, &AppModel::propagationConditionsChanged);
    assign(m_propagationStatus, status, &AppModel::propagationStatusChanged);
    assign(m_propagationIsRefreshing, false, &AppModel::propagationIsRefreshingChanged);
}

QString AppModel::currentBand() const
{
    return kivo::currentBand(m_remoteStationStatus, m_radioSnapshot);
}

} // namespace kivo
