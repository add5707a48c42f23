#include "KivoCore/station/DCU1RotatorClient.h"
#include "KivoCore/support/KivoError.h"
#include "fakes/FakeDCU1Controller.h"
#include "support/RunTask.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

using namespace kivo;
using namespace kivo::test;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using State = DCU1RotatorClient::State;

namespace {

QByteArray turn(double bearing)
{
    return DCU1Protocol::turnCommand(bearing).value_or("<none>");
}

struct Report {
    State state;
    QString status;
    bool operator==(const Report &) const = default;
    friend void PrintTo(const Report &r, std::ostream *os)
    {
        *os << rawValue(r.state).toStdString() << " \"" << r.status.toStdString() << '"';
    }
};

// Retries in milliseconds instead of seconds.
constexpr DCU1RotatorTiming quickRetries{2ms, 15ms};
// Retries that never come within a test.
constexpr DCU1RotatorTiming noRetries{1h, 1h};

struct Harness {
    FakeDCU1Controller controller;
    QList<Report> reports;
    QList<double> azimuths;
    std::unique_ptr<DCU1RotatorClient> client;

    explicit Harness(DCU1RotatorTiming timing = quickRetries, int pollMilliseconds = 5000)
    {
        EXPECT_TRUE(controller.listen());
        make(QStringLiteral("127.0.0.1"), controller.port(), timing, pollMilliseconds);
    }

    void make(const QString &host, quint16 port, DCU1RotatorTiming timing, int pollMilliseconds)
    {
        client = std::make_unique<DCU1RotatorClient>(
            DCU1RotatorClient::Options{
                .host = host, .port = port, .pollMilliseconds = pollMilliseconds, .timing = timing},
            [this](State s, const QString &text) { reports.append({s, text}); },
            [this](double degrees) { azimuths.append(degrees); });
    }

    QString endpoint() const { return QStringLiteral("127.0.0.1:") + QString::number(controller.port()); }

    bool waitForState(State state, const QString &status)
    {
        return waitUntil([&] { return reports.contains(Report{state, status}); });
    }

    bool connect()
    {
        client->start();
        return waitForState(State::Connected, QStringLiteral("Connected to ") + endpoint());
    }
};

QString failureOf(QCoro::Task<void> task)
{
    try {
        runTask(std::move(task), 2s);
    } catch (const KivoError &error) {
        return error.message();
    }
    return QStringLiteral("<no error>");
}

} // namespace

TEST(DCU1Protocol, TurnCommandFoldsAndRoundsTheBearing)
{
    EXPECT_EQ(turn(0), "AP1000;AM1;");
    EXPECT_EQ(turn(7.4), "AP1007;AM1;");
    EXPECT_EQ(turn(123.5), "AP1124;AM1;");
    EXPECT_EQ(turn(359.6), "AP1000;AM1;");
    EXPECT_EQ(turn(-90), "AP1270;AM1;");
    EXPECT_EQ(turn(720 + 45), "AP1045;AM1;");
    // Any finite number folds into range before it becomes an integer.
    EXPECT_EQ(turn(1e300).size(), 11);
    EXPECT_EQ(turn(-1e300).size(), 11);
}

TEST(DCU1Protocol, TurnCommandRefusesBearingsThatAreNotNumbers)
{
    EXPECT_FALSE(DCU1Protocol::turnCommand(std::nan("")));
    EXPECT_FALSE(DCU1Protocol::turnCommand(std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(DCU1Protocol::turnCommand(-std::numeric_limits<double>::infinity()));
}

TEST(DCU1Protocol, ReadsAzimuthRepliesOnly)
{
    EXPECT_THAT(DCU1Protocol::azimuths(QStringLiteral("123;")), ElementsAre(123.0));
    EXPECT_THAT(DCU1Protocol::azimuths(QStringLiteral(";090;")), ElementsAre(90.0));
    EXPECT_THAT(DCU1Protocol::azimuths(QStringLiteral(" 45.5 ;")), ElementsAre(45.5));
    EXPECT_THAT(DCU1Protocol::azimuths(QStringLiteral("400;")), ElementsAre(40.0));
    EXPECT_THAT(DCU1Protocol::azimuths(QStringLiteral("450;")), ElementsAre(90.0));
    EXPECT_THAT(DCU1Protocol::azimuths(QStringLiteral("451;")), IsEmpty());
    EXPECT_THAT(DCU1Protocol::azimuths(QStringLiteral("1234;")), IsEmpty());
    EXPECT_THAT(DCU1Protocol::azimuths(QStringLiteral("12.34;")), IsEmpty());
    EXPECT_THAT(DCU1Protocol::azimuths(QStringLiteral("12")), IsEmpty());
    // The second value has no ";" of its own before it: the first took it.
    EXPECT_THAT(DCU1Protocol::azimuths(QStringLiteral("123;124;")), ElementsAre(123.0));
    EXPECT_THAT(DCU1Protocol::azimuths(QStringLiteral("123;;124;")), ElementsAre(123.0, 124.0));
    EXPECT_THAT(DCU1Protocol::azimuths(QStringLiteral("AP1123;AM1;")), IsEmpty());
}

TEST(DCU1ReplyBuffer, JoinsSplitRepliesAndConsumesThem)
{
    DCU1ReplyBuffer buffer;
    EXPECT_THAT(buffer.append("12"), IsEmpty());
    EXPECT_THAT(buffer.append("3;"), ElementsAre(123.0));
    EXPECT_TRUE(buffer.text().isEmpty());

    EXPECT_THAT(buffer.append("090;;27"), ElementsAre(90.0));
    EXPECT_EQ(buffer.text(), QStringLiteral("27"));
}

TEST(DCU1ReplyBuffer, DropsBytesThatAreNotASCII)
{
    DCU1ReplyBuffer buffer;
    EXPECT_THAT(buffer.append("\xff" "123;"), IsEmpty());
    EXPECT_TRUE(buffer.text().isEmpty());
    EXPECT_THAT(buffer.append("045;"), ElementsAre(45.0));
}

TEST(DCU1ReplyBuffer, CutsToTheLast1024CharactersOnlyBeyond4096)
{
    // Whole at exactly 4096: the reply inside is not at the start, so unread.
    DCU1ReplyBuffer whole;
    EXPECT_THAT(whole.append(QByteArray(3072, 'x')), IsEmpty());
    EXPECT_THAT(whole.append("123;" + QByteArray(1020, 'y')), IsEmpty());
    EXPECT_EQ(whole.text().size(), 4096);

    // One more character: the last 1024 remain and begin with the reply.
    DCU1ReplyBuffer cut;
    EXPECT_THAT(cut.append(QByteArray(3073, 'x')), IsEmpty());
    EXPECT_THAT(cut.append("123;" + QByteArray(1020, 'y')), ElementsAre(123.0));
    EXPECT_EQ(cut.text(), QString(1020, QLatin1Char('y')));
}

TEST(DCU1RotatorClient, ConnectsPollsAndReportsAzimuths)
{
    Harness h(quickRetries, 50);
    EXPECT_EQ(h.client->pollMilliseconds(), 100);
    h.controller.setAzimuth(217);
    ASSERT_TRUE(h.connect());

    ASSERT_TRUE(waitUntil([&] { return h.controller.pollCount() >= 3 && h.azimuths.size() >= 3; }));
    EXPECT_EQ(h.azimuths.first(), 217.0);
    EXPECT_TRUE(h.controller.commands().isEmpty());
    EXPECT_EQ(h.reports.first(), (Report{State::Connecting, "Connecting to " + h.endpoint()}));
    EXPECT_EQ(h.reports.at(1), (Report{State::Connected, "Connected to " + h.endpoint()}));
}

TEST(DCU1RotatorClient, SendsTurnStopAndRotateAsExactBytes)
{
    Harness h;
    ASSERT_TRUE(h.connect());

    runTask(h.client->turn(7.4));
    runTask(h.client->stopRotation());
    runTask(h.client->rotate(true));
    runTask(h.client->rotate(false));
    runTask(h.client->turn(-90));

    const QByteArray expected = "AP1007;AM1;;UDAP1270;AM1;";
    ASSERT_TRUE(waitUntil([&] { return h.controller.commands() == expected; }))
        << h.controller.commands().toStdString();
}

TEST(DCU1RotatorClient, SendsNothingForABearingThatIsNotANumber)
{
    Harness h;
    ASSERT_TRUE(h.connect());
    EXPECT_EQ(failureOf(h.client->turn(std::nan(""))), QStringLiteral("The rotator bearing is invalid."));
    EXPECT_EQ(failureOf(h.client->turn(std::numeric_limits<double>::infinity())),
              QStringLiteral("The rotator bearing is invalid."));
    runTask(h.client->stopRotation());
    ASSERT_TRUE(waitUntil([&] { return !h.controller.commands().isEmpty(); }));
    EXPECT_EQ(h.controller.commands(), ";");
}

TEST(DCU1RotatorClient, ReadsARepliesSplitAcrossPackets)
{
    Harness h;
    h.controller.setAzimuth(std::nullopt);
    ASSERT_TRUE(h.connect());

    h.controller.sendRaw("12");
    settle();
    EXPECT_THAT(h.azimuths, IsEmpty());
    h.controller.sendRaw("3;");
    ASSERT_TRUE(waitUntil([&] { return !h.azimuths.isEmpty(); }));
    h.controller.sendRaw("04");
    h.controller.sendRaw("5.5;");
    ASSERT_TRUE(waitUntil([&] { return h.azimuths.size() == 2; }));
    settle();
    EXPECT_THAT(h.azimuths, ElementsAre(123.0, 45.5));
}

TEST(DCU1RotatorClient, RefusesCommandsWhileNotConnected)
{
    Harness h(noRetries);
    EXPECT_EQ(failureOf(h.client->turn(90)), QStringLiteral("Rotator is not connected."));

    ASSERT_TRUE(h.connect());
    h.controller.dropClients();
    ASSERT_TRUE(h.waitForState(State::Reconnecting, QStringLiteral("Connection closed \u2014 retrying")));
    EXPECT_EQ(failureOf(h.client->turn(90)), QStringLiteral("Rotator is not connected."));
    EXPECT_EQ(failureOf(h.client->stopRotation()), QStringLiteral("Rotator is not connected."));
    EXPECT_EQ(failureOf(h.client->rotate(true)), QStringLiteral("Rotator is not connected."));
    // Refusing a command leaves the connection state alone.
    settle();
    EXPECT_EQ(h.reports.last(), (Report{State::Reconnecting, QStringLiteral("Connection closed \u2014 retrying")}));
}

TEST(DCU1RotatorClient, ReconnectsAfterADropAndStartsTheDelaysAgain)
{
    Harness h;
    ASSERT_TRUE(h.connect());
    h.reports.clear();

    h.controller.dropClients();
    ASSERT_TRUE(waitUntil([&] { return h.controller.connectionCount() == 2 && h.reports.size() >= 3; }));
    ASSERT_TRUE(h.waitForState(State::Connected, "Connected to " + h.endpoint()));
    EXPECT_THAT(h.reports, ElementsAre(Report{State::Reconnecting, QStringLiteral("Connection closed \u2014 retrying")},
                                       Report{State::Reconnecting, "Reconnecting to " + h.endpoint()},
                                       Report{State::Connected, "Connected to " + h.endpoint()}));
    EXPECT_EQ(h.client->reconnectAttempt(), 0);

    runTask(h.client->turn(180));
    ASSERT_TRUE(waitUntil([&] { return h.controller.commands() == "AP1180;AM1;"; }));
}

TEST(DCU1RotatorClient, KeepsRetryingARefusedControllerUntilItListens)
{
    Harness h;
    const quint16 port = h.controller.port();
    h.controller.stopListening();
    h.client->start();

    ASSERT_TRUE(waitUntil([&] { return h.client->reconnectAttempt() >= 5; }));
    const Report firstFailure = h.reports.at(1);
    EXPECT_EQ(firstFailure.state, State::Reconnecting);
    EXPECT_TRUE(firstFailure.status.startsWith(QStringLiteral("Connection failed: ")));
    EXPECT_TRUE(firstFailure.status.endsWith(QStringLiteral(" \u2014 retrying")));

    ASSERT_TRUE(h.controller.listen(port));
    ASSERT_TRUE(h.waitForState(State::Connected, "Connected to " + h.endpoint()));
    EXPECT_EQ(h.client->reconnectAttempt(), 0);
}

TEST(DCU1RotatorClient, WaitsTwoFourEightThenFifteenSeconds)
{
    const DCU1RotatorTiming timing;
    std::vector<long long> seconds;
    for (int failures = 1; failures <= 7; ++failures)
        seconds.push_back(std::chrono::duration_cast<std::chrono::seconds>(
                              DCU1RotatorClient::retryDelay(failures, timing))
                              .count());
    EXPECT_THAT(seconds, ElementsAre(2, 4, 8, 15, 15, 15, 15));
}

TEST(DCU1RotatorClient, StopDuringAPendingReconnectionEndsAtDisconnected)
{
    Harness h(DCU1RotatorTiming{50ms, 50ms});
    ASSERT_TRUE(h.connect());
    h.controller.dropClients();
    ASSERT_TRUE(h.waitForState(State::Reconnecting, QStringLiteral("Connection closed \u2014 retrying")));

    h.client->stop();
    settle(150ms);
    EXPECT_EQ(h.reports.last(), (Report{State::Stopped, QStringLiteral("Disconnected")}));
    EXPECT_EQ(h.controller.connectionCount(), 1);
}

TEST(DCU1RotatorClient, IgnoresTheConnectionItNoLongerHolds)
{
    Harness h;
    ASSERT_TRUE(h.connect());
    h.client->stop();
    h.client->start();
    ASSERT_TRUE(waitUntil([&] { return h.reports.size() >= 5; }));
    settle();
    const QString endpoint = h.endpoint();
    EXPECT_THAT(h.reports, ElementsAre(Report{State::Connecting, "Connecting to " + endpoint},
                                       Report{State::Connected, "Connected to " + endpoint},
                                       Report{State::Stopped, QStringLiteral("Disconnected")},
                                       Report{State::Connecting, "Connecting to " + endpoint},
                                       Report{State::Connected, "Connected to " + endpoint}));
}

TEST(DCU1RotatorClient, FailsWithoutRetryOnAnEmptyHostOrPort)
{
    for (const auto &[host, port] : {std::pair{QStringLiteral("  \n"), quint16(4001)},
                                     std::pair{QStringLiteral("127.0.0.1"), quint16(0)}}) {
        Harness h;
        h.make(host, port, quickRetries, 100);
        h.client->start();
        settle();
        EXPECT_THAT(h.reports, ElementsAre(Report{State::Failed, QStringLiteral("Enter the rotator TCP host and port")}));
    }
}

TEST(DCU1RotatorClient, StopsOnlyAContinuousRotationItBeganBeforeTheLinkCloses)
{
    for (const auto &[sent, atClose] :
         {std::pair<QByteArray, QByteArray>{"", ""}, {"U", "U;"}, {"D;", "D;"}, {"UT", "UAP1090;AM1;"}}) {
        Harness h;
        ASSERT_TRUE(h.connect());
        for (const char c : sent)
            runTask(c == 'T' ? h.client->turn(90) : c == ';' ? h.client->stopRotation() : h.client->rotate(c == 'U'));
        h.client->stop();
        const QList expected{atClose};
        EXPECT_TRUE(waitUntil([&] { return h.controller.commandsAtClose() == expected; })) << sent.toStdString();
    }
}
