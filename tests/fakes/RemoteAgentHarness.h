#pragma once

// A RemoteAgentClient wired to a FakeRemoteAgent, with every reported
// connection state, snapshot and event recorded.

#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/support/KivoError.h"
#include "QuendKivoApp/model/AppBackendFactory.h"
#include "fakes/FakeRemoteAgent.h"
#include "support/RunTask.h"

#include <QList>
#include <QPair>
#include <chrono>
#include <memory>

namespace kivo::test {

class RemoteAgentHarness {
public:
    // Short pauses for the retry and the back-off (one "second" lasts 10 ms,
    // no jitter); everything else keeps its real length unless a test says.
    static RemoteAgentTiming quickTiming();
    // The application's backend for the agent kind, trusting the test CA and
    // with quickTiming(); the real factory for every other kind.
    static AppBackend backendTrustingTestCA(const AppBackendRequest &request);

    explicit RemoteAgentHarness(const QString &basePath = {}, RemoteAgentTiming timing = quickTiming());

    FakeRemoteAgent agent;
    QList<QPair<RadioConnectionState, QString>> states;
    QList<RadioSnapshot> snapshots;
    QStringList events;
    std::shared_ptr<RemoteAgentClient> client;

    // Starts the client and waits until its stream is open and greeted.
    bool startAndWaitForStream();
    bool waitForStatus(RadioConnectionState state, const QString &status,
                       std::chrono::milliseconds timeout = patience);
    bool waitForStatusStartingWith(RadioConnectionState state, const QString &prefix,
                                   std::chrono::milliseconds timeout = patience);
    int countStatus(RadioConnectionState state) const;
    RadioSnapshot lastSnapshot() const { return snapshots.isEmpty() ? RadioSnapshot() : snapshots.last(); }
};

// Runs the task and gives the sentence of its failure, or "succeeded".
template <typename T>
QString failureOf(QCoro::Task<T> task)
{
    try {
        runTask(std::move(task));
        return QStringLiteral("succeeded");
    } catch (...) {
        return describeException(std::current_exception());
    }
}

// Starts the task without waiting; its outcome ("succeeded" or the failure)
// is appended to `outcomes` when it ends.
void startRecording(QCoro::Task<void> task, QStringList *outcomes);

} // namespace kivo::test
