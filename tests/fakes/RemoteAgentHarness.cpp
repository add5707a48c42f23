#include "fakes/RemoteAgentHarness.h"

#include "fakes/TestTls.h"
#include "support/RunTask.h"

namespace kivo::test {

AppBackend RemoteAgentHarness::backendTrustingTestCA(const AppBackendRequest &r)
{
    if (r.configuration.connectionKind != AppConfiguration::ConnectionKind::RemoteAgent)
        return makeAppBackend(r);
    auto client = std::make_shared<RemoteAgentClient>(RemoteAgentClient::Options{.baseURL = r.remoteAgentBaseURL,
                                                                                 .token = r.remoteAgentToken,
                                                                                 .ssl = clientConfigurationTrustingTestCA(),
                                                                                 .timing = quickTiming()},
                                                      r.onState, r.onSnapshot);
    return AppBackend{client, client};
}

RemoteAgentTiming RemoteAgentHarness::quickTiming()
{
    RemoteAgentTiming timing;
    timing.commandRetryDelay = std::chrono::milliseconds(10);
    timing.backoffSecond = std::chrono::milliseconds(10);
    timing.jitter = [] { return 0.0; };
    return timing;
}

RemoteAgentHarness::RemoteAgentHarness(const QString &basePath, RemoteAgentTiming timing) : agent(basePath)
{
    if (!agent.listen())
        qFatal("the fake agent could not listen");
    client = std::make_shared<RemoteAgentClient>(
        RemoteAgentClient::Options{.baseURL = agent.baseURL(),
                                   .token = agent.token,
                                   .ssl = clientConfigurationTrustingTestCA(),
                                   .timing = std::move(timing)},
        [this](RadioConnectionState state, const QString &status) { states.append({state, status}); },
        [this](const RadioSnapshot &snapshot) { snapshots.append(snapshot); });
    client->setEventHandler([this](const QString &line) { events.append(line); });
}

bool RemoteAgentHarness::startAndWaitForStream()
{
    client->start();
    // The state request and then the stream's greeting are both applied, so
    // no greeting arrives late over what a test does next.
    const int expected = agent.greetStreams ? 2 : 1;
    return waitUntil([this] { return agent.streamCount() == 1; })
           && waitForStatus(RadioConnectionState::Ready, QStringLiteral("Remote Station Agent connected"))
           && waitUntil([&] { return snapshots.size() >= expected; });
}

bool RemoteAgentHarness::waitForStatus(RadioConnectionState state, const QString &status,
                                       std::chrono::milliseconds timeout)
{
    return waitUntil([&] { return states.contains(qMakePair(state, status)); }, timeout);
}

bool RemoteAgentHarness::waitForStatusStartingWith(RadioConnectionState state, const QString &prefix,
                                                   std::chrono::milliseconds timeout)
{
    return waitUntil(
        [&] {
            return std::any_of(states.begin(), states.end(), [&](const auto &entry) {
                return entry.first == state && entry.second.startsWith(prefix);
            });
        },
        timeout);
}

int RemoteAgentHarness::countStatus(RadioConnectionState state) const
{
    return int(std::count_if(states.begin(), states.end(),
                             [state](const auto &entry) { return entry.first == state; }));
}

namespace {
QCoro::Task<void> recordOutcome(QCoro::Task<void> task, QStringList *outcomes)
{
    QString outcome = QStringLiteral("succeeded");
    try {
        co_await std::move(task);
    } catch (...) {
        outcome = describeException(std::current_exception());
    }
    outcomes->append(outcome);
}
} // namespace

void startRecording(QCoro::Task<void> task, QStringList *outcomes)
{
    recordOutcome(std::move(task), outcomes);
}

} // namespace kivo::test
