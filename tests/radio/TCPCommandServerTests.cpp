#include "KivoCore/support/Async.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/radio/TCPCommandServer.h"
#include "support/RawClient.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <QTcpServer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using ::testing::ElementsAre;

namespace {

// A server whose handler echoes "<request>!" and logs what it saw.
struct EchoServer {
    QStringList requests;
    QStringList events;
    QStringList order; // requests handled and disconnect steps, as they finish
    int disconnects = 0;
    TCPCommandServer::Timing timing{std::chrono::milliseconds(20)};
    std::chrono::milliseconds slowRequestDelay{0};
    QString silentRequest = QStringLiteral("quiet");
    // Far more than the socket buffers hold, so a client that does not read
    // leaves the answer half written.
    qsizetype bigReplyCharacters = 16 * 1024 * 1024;
    std::unique_ptr<TCPCommandServer> server;

    explicit EchoServer(TCPCommandServer::Framing framing = TCPCommandServer::Framing::Semicolon,
                        int maximumClients = TCPCommandServer::Timing().maximumClients)
    {
        timing.maximumClients = maximumClients;
        server = std::make_unique<TCPCommandServer>(TCPCommandServer::Options{
            .framing = framing,
            .handler = [this](QString request, std::shared_ptr<ClientActivity>) -> QCoro::Task<std::optional<QString>> {
                requests.append(request);
                if (request == QStringLiteral("SLOW") && slowRequestDelay.count() > 0)
                    co_await sleepFor(slowRequestDelay);
                order.append(request);
                if (request == silentRequest)
                    co_return std::nullopt;
                if (request == QStringLiteral("BIG"))
                    co_return QString(bigReplyCharacters, QLatin1Char('x'));
                co_return request + QStringLiteral("!");
            },
            .onDisconnect = [this](ClientActivity) -> QCoro::Task<void> {
                ++disconnects;
                order.append(QStringLiteral("disconnect"));
                co_return;
            },
            .onEvent = [this](const QString &event) { events.append(event); },
            .timing = timing});
    }

    quint16 start()
    {
        server->start(0);
        return server->serverPort();
    }
};

} // namespace

TEST(TCPCommandServerFraming, AnswersSeveralRequestsOfOneWriteInOrder)
{
    EchoServer echo;
    RawClient client(echo.start());
    client.send("FA;FB;");
    EXPECT_EQ(client.read(6), QByteArray("FA!FB!"));
    EXPECT_THAT(echo.requests, ElementsAre("FA", "FB"));
}

TEST(TCPCommandServerFraming, JoinsARequestSplitOverWrites)
{
    EchoServer echo;
    RawClient client(echo.start());
    client.send("F");
    settle(30ms);
    client.send("A;");
    EXPECT_EQ(client.read(3), QByteArray("FA!"));
    EXPECT_THAT(echo.requests, ElementsAre("FA"));
}

TEST(TCPCommandServerFraming, NewlineFramesKeepCarriageReturnAndSemicolons)
{
    EchoServer echo(TCPCommandServer::Framing::Newline);
    RawClient client(echo.start());
    client.send("f\r\nF;A\n");
    client.read(6);
    EXPECT_THAT(echo.requests, ElementsAre("f\r", "F;A"));
}

TEST(TCPCommandServerFraming, EmptyFramesReachTheHandler)
{
    EchoServer echo;
    RawClient client(echo.start());
    client.send(";;");
    EXPECT_EQ(client.read(2), QByteArray("!!"));
    EXPECT_THAT(echo.requests, ElementsAre("", ""));
}

TEST(TCPCommandServerFraming, SkipsAFrameThatIsNotUtf8)
{
    EchoServer echo;
    RawClient client(echo.start());
    client.send(QByteArray("A;\xff\xfe;B;"));
    EXPECT_EQ(client.read(4), QByteArray("A!B!"));
    EXPECT_THAT(echo.requests, ElementsAre("A", "B"));
}

TEST(TCPCommandServerFraming, WritesNothingForAMissingAnswer)
{
    EchoServer echo;
    RawClient client(echo.start());
    client.send("quiet;B;");
    EXPECT_EQ(client.read(2), QByteArray("B!"));
    EXPECT_EQ(client.drain(), QByteArray());
}

TEST(TCPCommandServerBuffer, KeepsExactlyTheCapAndDropsEverythingBeyondIt)
{
    EchoServer echo;
    RawClient client(echo.start());
    // Each write is read on its own: the server has it all before the next.
    client.send(QByteArray(TCPCommandServer::maximumBufferedBytes, 'x'));
    ASSERT_TRUE(client.waitUntilTaken());
    client.send("y"); // one byte past the cap empties the buffer
    ASSERT_TRUE(client.waitUntilTaken());
    client.send("z;");
    EXPECT_EQ(client.read(2), QByteArray("z!"));
    EXPECT_THAT(echo.requests, ElementsAre("z"));
}

TEST(TCPCommandServerBuffer, AChunkThatOverflowsYieldsNoFrames)
{
    EchoServer echo;
    RawClient client(echo.start());
    client.send(QByteArray(TCPCommandServer::maximumBufferedBytes - 2, 'x'));
    ASSERT_TRUE(client.waitUntilTaken());
    client.send("A;B;");
    ASSERT_TRUE(client.waitUntilTaken());
    client.send("C;");
    EXPECT_EQ(client.read(2), QByteArray("C!"));
    EXPECT_THAT(echo.requests, ElementsAre("C"));
}

TEST(TCPCommandServerClients, AnswersAClientThatClosedItsSendingSide)
{
    EchoServer echo;
    RawClient client(echo.start());
    client.send("FA;");
    client.shutdownWrite();
    EXPECT_EQ(client.read(3), QByteArray("FA!"));
    EXPECT_TRUE(client.waitForEnd());
    ASSERT_TRUE(waitUntil([&] { return echo.disconnects == 1; }));
    EXPECT_THAT(echo.events, ElementsAre(QStartsWith("Listening on 127.0.0.1:"), "Client connected",
                                         "Client disconnected"));
    settle();
    EXPECT_EQ(echo.disconnects, 1);
}

TEST(TCPCommandServerClients, RunsTheDisconnectStepOnlyAfterTheRequestInFlight)
{
    EchoServer echo;
    echo.slowRequestDelay = 80ms;
    RawClient client(echo.start());
    client.send("SLOW;");
    ASSERT_TRUE(waitUntil([&] { return echo.requests.size() == 1; }));
    client.close();
    ASSERT_TRUE(waitUntil([&] { return echo.disconnects == 1; }));
    EXPECT_THAT(echo.order, ElementsAre("SLOW", "disconnect"));
}

TEST(TCPCommandServerClients, StopWaitsForTheRequestInFlightBeforeTheDisconnectStep)
{
    EchoServer echo;
    echo.slowRequestDelay = 80ms;
    RawClient client(echo.start());
    client.send("SLOW;NEXT;");
    ASSERT_TRUE(waitUntil([&] { return echo.requests.size() == 1; }));
    echo.server->stop();
    ASSERT_TRUE(waitUntil([&] { return echo.disconnects == 1; }));
    // The request after the stop is never handled.
    EXPECT_THAT(echo.order, ElementsAre("SLOW", "disconnect"));
    EXPECT_TRUE(client.waitForEnd());
}

TEST(TCPCommandServerClients, StopRunsTheDisconnectStepOfAClientThatStoppedReading)
{
    EchoServer echo;
    RawClient client(echo.start());
    client.send("BIG;");
    ASSERT_TRUE(waitUntil([&] { return echo.order.size() == 1; }));
    settle(); // the answer now waits for the client to make room
    echo.server->stop();
    ASSERT_TRUE(waitUntil([&] { return echo.disconnects == 1; }));
    EXPECT_THAT(echo.events, ElementsAre(QStartsWith("Listening"), "Client connected", "Listener stopped on port 0",
                                         "Client disconnected"));
}

TEST(TCPCommandServerClients, AResetClientIsReportedAsFailedAndDisconnectedOnce)
{
    EchoServer echo;
    RawClient client(echo.start());
    client.send("A;");
    client.read(2);
    client.reset();
    ASSERT_TRUE(waitUntil([&] { return echo.disconnects == 1; }));
    settle();
    EXPECT_EQ(echo.disconnects, 1);
    EXPECT_THAT(echo.events, ElementsAre(QStartsWith("Listening"), "Client connected", QStartsWith("Client failed: "),
                                         "Client disconnected"));
}

TEST(TCPCommandServerClients, ClientsAreServedIndependently)
{
    EchoServer echo;
    const quint16 port = echo.start();
    RawClient first(port);
    RawClient second(port);
    first.send("ONE;");
    second.send("TWO;");
    EXPECT_EQ(second.read(4), QByteArray("TWO!"));
    EXPECT_EQ(first.read(4), QByteArray("ONE!"));
}

TEST(TCPCommandServerListener, APortInUseFailsWithTheListenError)
{
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::LocalHost, 0));
    const quint16 port = occupant.serverPort();
    EchoServer echo;
    try {
        echo.server->start(port);
        FAIL() << "start succeeded on a port in use";
    } catch (const KivoError &error) {
        EXPECT_THAT(error.message(), QStartsWith(QStringLiteral("Could not listen on 127.0.0.1:%1: ").arg(port)));
    }
    EXPECT_FALSE(echo.server->isListening());
    ASSERT_EQ(echo.events.size(), 1);
    EXPECT_THAT(echo.events.first(), QStartsWith(QStringLiteral("Listener failed on port %1: ").arg(port)));
}

TEST(TCPCommandServerListener, RestartingKeepsEarlierClientsServed)
{
    EchoServer echo;
    const quint16 firstPort = echo.start();
    RawClient client(firstPort);
    client.send("A;");
    client.read(2);
    echo.server->start(0);
    EXPECT_THAT(echo.events, ElementsAre("Listening on 127.0.0.1:0", "Client connected", "Listener stopped on port 0",
                                         "Listening on 127.0.0.1:0"));
    client.send("B;");
    EXPECT_EQ(client.read(2), QByteArray("B!"));
    RawClient newcomer(echo.server->serverPort());
    newcomer.send("C;");
    EXPECT_EQ(newcomer.read(2), QByteArray("C!"));
}

TEST(TCPCommandServerListener, StopClosesEverythingOnceAndAgainDoesNothing)
{
    EchoServer echo;
    const quint16 port = echo.start();
    RawClient a(port);
    RawClient b(port);
    a.send("A;");
    b.send("B;");
    a.read(2);
    b.read(2);
    echo.events.clear();
    echo.server->stop();
    echo.server->stop();
    ASSERT_TRUE(waitUntil([&] { return echo.disconnects == 2; }));
    EXPECT_THAT(echo.events, ElementsAre("Listener stopped on port 0", "Client disconnected", "Client disconnected"));
    EXPECT_TRUE(a.waitForEnd());
    EXPECT_TRUE(b.waitForEnd());
    EXPECT_FALSE(echo.server->isListening());
}

// Qt stops accepting after a failed accept (descriptor table full).
TEST(TCPCommandServerClients, AFailedAcceptIsReportedAndAcceptingResumes)
{
    EchoServer echo;
    RawClient later(echo.start());
    auto *listener = echo.server->findChild<QTcpServer *>();
    listener->pauseAccepting();
    emit listener->acceptError(QAbstractSocket::SocketResourceError);
    EXPECT_EQ(echo.events.filter(QStringLiteral("Listener failed on port 0: ")).size(), 1);
    later.send("B;");
    EXPECT_EQ(later.read(2), QByteArray("B!"));
}

TEST(TCPCommandServerClients, ClosesClientsBeyondTheCapAtOnceUntilOneLeaves)
{
    EchoServer echo(TCPCommandServer::Framing::Semicolon, 2);
    const quint16 port = echo.start();
    RawClient first(port), second(port), third(port), fourth(port);
    third.send("C;");
    EXPECT_TRUE(third.waitForEnd() && fourth.waitForEnd());
    first.send("A;");
    second.send("B;");
    EXPECT_EQ(first.read(2) + second.read(2), QByteArray("A!B!"));
    EXPECT_EQ(echo.events.filter(QStringLiteral("Refused a client on port 0: 2 clients")).size(), 1);
    first.close();
    ASSERT_TRUE(waitUntil([&] { return echo.disconnects == 1; }));
    RawClient fifth(port);
    fifth.send("E;");
    EXPECT_EQ(fifth.read(2), QByteArray("E!"));
    EXPECT_THAT(echo.requests, ElementsAre("A", "B", "E"));
}
