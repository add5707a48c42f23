#include "KivoCore/support/KivoError.h"
#include "KivoCore/station/UDPSpotReceiver.h"
#include "KivoCore/support/LogCategories.h"
#include "support/RunTask.h"

#include <QHostAddress>
#include <QUdpSocket>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using namespace kivo;
using namespace kivo::test;
using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace {

struct Harness {
    QList<QByteArray> datagrams;
    QStringList events;
    std::unique_ptr<UDPSpotReceiver> receiver = std::make_unique<UDPSpotReceiver>(
        lcSpotsLogbook(),
        [this](const QByteArray &datagram) { datagrams.append(datagram); },
        [this](const QString &event) { events.append(event); });
};

void sendTo(QUdpSocket &sender, quint16 port, const QByteArray &bytes)
{
    ASSERT_EQ(sender.writeDatagram(bytes, QHostAddress::LocalHost, port), bytes.size());
}

QString messageOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const KivoError &error) {
        return error.message();
    }
    return QStringLiteral("<no error>");
}

} // namespace

TEST(UDPSpotReceiver, DeliversEachDatagramByteForByteAndReportsListening)
{
    Harness h;
    h.receiver->start(0);
    const quint16 port = h.receiver->port();
    ASSERT_NE(port, 0);

    static const char raw[] = "<spot>\r\n\0\x01\xff|\t</spot>";
    const QByteArray binary(raw, sizeof raw - 1);
    QUdpSocket sender;
    sendTo(sender, port, binary);
    sendTo(sender, port, QByteArray(8000, 'x'));

    ASSERT_TRUE(waitUntil([&] { return h.datagrams.size() == 2; }));
    EXPECT_EQ(h.datagrams[0], binary);
    EXPECT_EQ(h.datagrams[1], QByteArray(8000, 'x'));
    EXPECT_THAT(h.events, ElementsAre(QStringLiteral("Listening on 127.0.0.1:") + QString::number(port)));
}

TEST(UDPSpotReceiver, SkipsEmptyDatagramsAndKeepsReading)
{
    Harness h;
    h.receiver->start(0);
    QUdpSocket sender;
    sendTo(sender, h.receiver->port(), QByteArray());
    sendTo(sender, h.receiver->port(), "after");

    ASSERT_TRUE(waitUntil([&] { return !h.datagrams.isEmpty(); }));
    settle();
    EXPECT_THAT(h.datagrams, ElementsAre(QByteArray("after")));
}

TEST(UDPSpotReceiver, RefusesASecondStartAndKeepsTheFirstListener)
{
    Harness h;
    h.receiver->start(0);
    const quint16 port = h.receiver->port();

    EXPECT_EQ(messageOf([&] { h.receiver->start(port); }),
              QStringLiteral("The RUMlog UDP port is invalid or already running."));

    QUdpSocket sender;
    sendTo(sender, port, "still here");
    ASSERT_TRUE(waitUntil([&] { return !h.datagrams.isEmpty(); }));
    EXPECT_EQ(h.datagrams.first(), QByteArray("still here"));
}

TEST(UDPSpotReceiver, KeepsEachSendersOrder)
{
    Harness h;
    h.receiver->start(0);
    QUdpSocket first;
    QUdpSocket second;
    for (int i = 0; i < 5; ++i) {
        sendTo(first, h.receiver->port(), "a" + QByteArray::number(i));
        sendTo(second, h.receiver->port(), "b" + QByteArray::number(i));
    }
    ASSERT_TRUE(waitUntil([&] { return h.datagrams.size() == 10; }));

    QList<QByteArray> fromFirst;
    QList<QByteArray> fromSecond;
    for (const auto &d : h.datagrams)
        (d.startsWith('a') ? fromFirst : fromSecond).append(d);
    EXPECT_THAT(fromFirst, ElementsAre("a0", "a1", "a2", "a3", "a4"));
    EXPECT_THAT(fromSecond, ElementsAre("b0", "b1", "b2", "b3", "b4"));
}

TEST(UDPSpotReceiver, StopsDeliveringAndStartsAgainOnTheSamePort)
{
    Harness h;
    h.receiver->start(0);
    const quint16 port = h.receiver->port();
    h.receiver->stop();
    h.receiver->stop(); // harmless twice

    QUdpSocket sender;
    sendTo(sender, port, "while stopped");
    settle();
    EXPECT_TRUE(h.datagrams.isEmpty());

    h.receiver->start(port);
    EXPECT_EQ(h.receiver->port(), port);
    sendTo(sender, port, "again");
    ASSERT_TRUE(waitUntil([&] { return !h.datagrams.isEmpty(); }));
    EXPECT_THAT(h.datagrams, ElementsAre(QByteArray("again")));
    const QString listening = QStringLiteral("Listening on 127.0.0.1:") + QString::number(port);
    EXPECT_THAT(h.events, ElementsAre(listening, listening));
}

TEST(UDPSpotReceiver, CanBeStoppedFromInsideItsOwnCallback)
{
    std::unique_ptr<UDPSpotReceiver> receiver;
    int delivered = 0;
    receiver = std::make_unique<UDPSpotReceiver>(
        lcRotatorRumlog(),
        [&](const QByteArray &) {
            ++delivered;
            receiver->stop();
        },
        [](const QString &) {});
    receiver->start(0);
    QUdpSocket sender;
    sendTo(sender, receiver->port(), "one");
    sendTo(sender, receiver->port(), "two");
    ASSERT_TRUE(waitUntil([&] { return delivered > 0; }));
    settle();
    EXPECT_EQ(delivered, 1);
    EXPECT_FALSE(receiver->isRunning());
}

TEST(UDPSpotReceiver, ReportsAPortItCannotBind)
{
    QUdpSocket occupant;
    ASSERT_TRUE(occupant.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
    const quint16 port = occupant.localPort();

    Harness h;
    const QString message = messageOf([&] { h.receiver->start(port); });
    EXPECT_THAT(message.toStdString(),
                StartsWith("Could not listen on 127.0.0.1:" + std::to_string(port) + ": "));
    EXPECT_GT(message.size(), QStringLiteral("Could not listen on 127.0.0.1:%1: ").arg(port).size());
    EXPECT_FALSE(h.receiver->isRunning());
    ASSERT_TRUE(waitUntil([&] { return !h.events.isEmpty(); }));
    EXPECT_THAT(h.events.first().toStdString(), StartsWith("UDP listener failed: "));
}

// A second copy on the same port fails instead of taking the datagrams.
TEST(UDPSpotReceiver, ASecondReceiverCannotShareThePort)
{
    Harness first, second;
    first.receiver->start(0);
    EXPECT_THROW(second.receiver->start(first.receiver->port()), KivoError);
}
