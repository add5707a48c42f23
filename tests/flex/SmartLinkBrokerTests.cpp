#include "KivoCore/flex/SmartLinkBroker.h"
#include "fakes/FakeSmartLinkBroker.h"
#include "support/RunTask.h"
#include "support/ThrownMessage.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using namespace std::chrono_literals;

namespace {

using Pairs = QList<QPair<QString, QString>>;

QString entry(const QString &serial, const QString &status, const Pairs &extra = {})
{
    Pairs pairs{{"serial", serial},     {"radio_name", "Radio" + serial}, {"model", "FLEX-6600"},
                {"status", status},     {"public_ip", "127.0.0.1"},       {"public_tls_port", "4994"}};
    pairs.append(extra);
    return FakeSmartLinkBroker::radioEntry(pairs);
}

SmartLinkRadio radio(const QString &line)
{
    const auto radios = SmartLinkBrokerParser::radios(line);
    EXPECT_EQ(radios.size(), 1) << line.toStdString();
    return radios.value(0);
}

} // namespace

TEST(SmartLinkBrokerParser, ReadsACompleteRadioEntry)
{
    const QString line = QStringLiteral("radio list serial=1234-5678-9012 radio_name=Shack\x7FRadio model=FLEX-6600 "
                                        "status=Available public_ip=203.0.113.5 public_tls_port=4994 "
                                        "public_udp_port=4993 upnp_supported=0 callsign=DL1ABC");
    SmartLinkRadio expected;
    expected.serial = "1234-5678-9012";
    expected.nickname = "Shack Radio";
    expected.model = "FLEX-6600";
    expected.status = "Available";
    expected.publicIP = "203.0.113.5";
    expected.tlsPort = 4994;
    expected.udpPort = 4993;
    EXPECT_EQ(radio(line), expected);
}

TEST(SmartLinkBrokerParser, ChoosesPortsFromPublicOrUPnPValues)
{
    const QString base = QStringLiteral("radio list serial=S public_ip=198.51.100.7 ");
    EXPECT_EQ(radio(base + "public_tls_port=0 upnp_supported=1 public_upnp_tls_port=5000").tlsPort, 5000);
    EXPECT_TRUE(SmartLinkBrokerParser::radios(base + "public_tls_port=0 upnp_supported=0 public_upnp_tls_port=5000")
                    .isEmpty());
    EXPECT_TRUE(SmartLinkBrokerParser::radios(base + "public_tls_port=70000").isEmpty());
    EXPECT_TRUE(SmartLinkBrokerParser::radios(base + "public_tls_port=x4994").isEmpty());

    EXPECT_EQ(radio(base + "public_tls_port=4994 public_udp_port=70000").udpPort, std::nullopt);
    EXPECT_EQ(radio(base + "public_tls_port=4994 upnp_supported=1 public_upnp_udp_port=4993").udpPort, 4993);
    EXPECT_EQ(radio(base + "public_tls_port=4994 upnp_supported=0 public_upnp_udp_port=4993").udpPort, std::nullopt);
    EXPECT_EQ(radio(base + "public_tls_port=4994 upnp_supported=1").udpPort, std::nullopt);
    EXPECT_EQ(radio(base + "public_tls_port=+4994").tlsPort, 4994);
}

TEST(SmartLinkBrokerParser, FillsMissingNamesAndSkipsUnusableEntries)
{
    const SmartLinkRadio named = radio("radio list serial=S name=Old\x7FName public_ip=1.2.3.4 public_tls_port=1");
    EXPECT_EQ(named.nickname, "Old Name");
    const SmartLinkRadio bare = radio("radio list serial=S public_ip=1.2.3.4 public_tls_port=1");
    EXPECT_EQ(bare.nickname, "FlexRadio");
    EXPECT_EQ(bare.model, "FlexRadio");
    EXPECT_EQ(bare.status, "Unknown");

    const auto radios = SmartLinkBrokerParser::radios(
        "radio list serial=A public_ip=1.2.3.4 public_tls_port=1||public_ip=1.2.3.4 public_tls_port=1|"
        "serial=B public_tls_port=1|serial=C public_ip=5.6.7.8 public_tls_port=2");
    ASSERT_EQ(radios.size(), 2);
    EXPECT_EQ(radios[0].serial, "A");
    EXPECT_EQ(radios[1].serial, "C");

    EXPECT_TRUE(SmartLinkBrokerParser::radios("radio listing serial=A public_ip=1 public_tls_port=1").isEmpty());
    EXPECT_TRUE(SmartLinkBrokerParser::radios("radio list ").isEmpty());
}

TEST(SmartLinkBrokerParser, SplitsEachPairAtItsFirstUsefulEqualsSign)
{
    const SmartLinkRadio odd =
        radio("radio list =serial=A=1 public_ip==9.9.9.9 public_tls_port=1 model= =x status status=Busy");
    EXPECT_EQ(odd.serial, "A=1");
    EXPECT_EQ(odd.publicIP, "=9.9.9.9");
    EXPECT_EQ(odd.model, "FlexRadio");
    EXPECT_EQ(odd.status, "Busy");
    // A later pair replaces an earlier one.
    EXPECT_EQ(radio("radio list serial=A public_ip=1.1.1.1 public_tls_port=1 serial=B").serial, "B");
}

TEST(SmartLinkBrokerParser, ReadsConnectReadyLines)
{
    using SmartLinkBrokerParser::ConnectReady;
    EXPECT_EQ(SmartLinkBrokerParser::connectReady("radio connect_ready handle=7A3F serial=1234-5678"),
              (ConnectReady{"7A3F", "1234-5678"}));
    EXPECT_EQ(SmartLinkBrokerParser::connectReady("radio connect_ready serial=1234-5678"), std::nullopt);
    EXPECT_EQ(SmartLinkBrokerParser::connectReady("radio connect_ready handle= serial=1234-5678"), std::nullopt);
    EXPECT_EQ(SmartLinkBrokerParser::connectReady("radio connected handle=7A3F serial=1"), std::nullopt);
}

namespace {

class SmartLinkBrokerDialogue : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fake.listen()); }

    SmartLinkBrokerEndpoint endpoint() const
    {
        return {.host = QStringLiteral("127.0.0.1"),
                .port = fake.port(),
                .sslConfiguration = clientConfigurationTrustingTestCA(),
                .responseTimeout = test::patience,
                .pingInterval = 1h};
    }

    std::unique_ptr<SmartLinkBroker> makeBroker(const QString &preferredSerial = {},
                                                std::optional<SmartLinkBrokerEndpoint> where = std::nullopt)
    {
        return std::make_unique<SmartLinkBroker>(
            SmartLinkBroker::Options{.idToken = QStringLiteral("id-token-xyz"),
                                     .preferredSerial = preferredSerial,
                                     .endpoint = where.value_or(endpoint())},
            [this](const QString &message) { disconnects << message; });
    }

    // The serial the broker asked for, or the error that ended connect().
    QString outcome(const QStringList &entries, const QString &preferredSerial)
    {
        fake.radioListLine = FakeSmartLinkBroker::radioList(entries);
        auto broker = makeBroker(preferredSerial);
        try {
            return runTask(broker->connect()).radio.serial;
        } catch (const SmartLinkBrokerError &error) {
            return error.message();
        }
    }

    FakeSmartLinkBroker fake;
    QStringList disconnects;
};

} // namespace

TEST_F(SmartLinkBrokerDialogue, RegistersChoosesARadioAndReturnsItsSession)
{
    fake.radioListLine = FakeSmartLinkBroker::radioList(
        {entry("A", "Available", {{"public_udp_port", "4993"}}), entry("B", "In_Use")});
    auto broker = makeBroker();

    const SmartLinkWANSession session = runTask(broker->connect());

    EXPECT_EQ(session.validationHandle, "wan-handle-1");
    EXPECT_EQ(session.radio.serial, "A");
    EXPECT_EQ(session.radio.nickname, "RadioA");
    EXPECT_EQ(session.radio.publicIP, "127.0.0.1");
    EXPECT_EQ(session.radio.tlsPort, 4994);
    EXPECT_EQ(session.radio.udpPort, 4993);
    EXPECT_EQ(fake.receivedLines(),
              (QStringList{"application register name=Quend-Kivo platform=macOS token=id-token-xyz",
                           "application connect serial=A hole_punch_port=0"}));
    settle();
    EXPECT_TRUE(disconnects.isEmpty());
}

TEST_F(SmartLinkBrokerDialogue, ChoosesTheConfiguredRadioOrTheFirstAvailableOne)
{
    const QString noRadio = QStringLiteral("No remotely reachable FlexRadio is available in this SmartLink account.");
    const QStringList aAndB{entry("A", "Available"), entry("B", "In_Use")};
    EXPECT_EQ(outcome(aAndB, {}), "A");
    EXPECT_EQ(outcome(aAndB, "B"), "B");
    // A configured serial that is not listed is not replaced by another radio.
    EXPECT_EQ(outcome(aAndB, "C"), noRadio);
    EXPECT_EQ(outcome(aAndB, "a"), noRadio);
    // "Unavailable" is not available, whatever its case.
    EXPECT_EQ(outcome({entry("U", "Unavailable"), entry("V", "UNAVAILABLE"), entry("A", "available")}, {}), "A");
    EXPECT_EQ(outcome({entry("U", "Unavailable"), entry("B", "In_Use")}, {}), "U");
    EXPECT_EQ(outcome({"serial=X public_tls_port=1", "public_ip=1.2.3.4 public_tls_port=1"}, {}), noRadio);

    // No radio ends the dialogue quietly: no connect request, no loss report.
    EXPECT_TRUE(fake.receivedLinesStartingWith("application connect serial=C").isEmpty());
    settle();
    EXPECT_TRUE(disconnects.isEmpty());
}

TEST_F(SmartLinkBrokerDialogue, RefusesAConnectReadyForAnotherRadio)
{
    fake.radioListLine = FakeSmartLinkBroker::radioList({entry("A", "Available")});
    fake.answerConnect = false;
    auto broker = makeBroker();
    auto connecting = broker->connect();
    ASSERT_TRUE(waitUntil([&] { return !fake.receivedLinesStartingWith("application connect").isEmpty(); }));

    fake.sendLine("radio connect_ready handle=H serial=B");
    const auto error = errorOf<SmartLinkBrokerError>(std::move(connecting));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), SmartLinkBrokerError::Kind::MalformedResponse);
    EXPECT_EQ(error->message(), "SmartLink returned an invalid radio connection response.");
    settle();
    EXPECT_TRUE(disconnects.isEmpty());
}

TEST_F(SmartLinkBrokerDialogue, TimesOutWhenTheConnectReadyIsUnusable)
{
    fake.radioListLine = FakeSmartLinkBroker::radioList({entry("A", "Available")});
    fake.answerConnect = false;
    SmartLinkBrokerEndpoint quick = endpoint();
    // The deadline runs from the start: it has to outlast TLS and the
    // registration on a busy machine, and is waited for only once.
    quick.responseTimeout = 1s;
    auto broker = makeBroker({}, quick);
    auto connecting = broker->connect();
    ASSERT_TRUE(waitUntil([&] { return !fake.receivedLinesStartingWith("application connect").isEmpty(); }));

    fake.sendLine("radio connect_ready handle= serial=A");
    const QString timedOut = QStringLiteral("SmartLink broker timed out waiting for the radio.");
    EXPECT_EQ(errorOf<SmartLinkBrokerError>(std::move(connecting))->message(), timedOut);
    ASSERT_TRUE(waitUntil([&] { return !disconnects.isEmpty(); }));
    EXPECT_EQ(disconnects, QStringList{timedOut});
}

TEST_F(SmartLinkBrokerDialogue, ARefusedTokenEndsTheDialogue)
{
    auto broker = makeBroker();
    auto connecting = broker->connect();
    ASSERT_TRUE(waitUntil([&] { return !fake.receivedLines().isEmpty(); }));

    fake.sendLine("application registration_invalid reason=expired");
    const QString rejected = QStringLiteral("SmartLink rejected the login token.");
    EXPECT_EQ(errorOf<SmartLinkBrokerError>(std::move(connecting))->message(), rejected);
    ASSERT_TRUE(waitUntil([&] { return !disconnects.isEmpty(); }));
    EXPECT_EQ(disconnects, QStringList{rejected});
}

TEST_F(SmartLinkBrokerDialogue, PingsWhileOpenAndReportsTheLossOnce)
{
    fake.radioListLine = FakeSmartLinkBroker::radioList({entry("A", "Available")});
    SmartLinkBrokerEndpoint pinging = endpoint();
    pinging.pingInterval = 20ms;
    auto broker = makeBroker({}, pinging);
    runTask(broker->connect());

    ASSERT_TRUE(waitUntil([&] { return fake.receivedLinesStartingWith("ping").size() >= 3; }));
    EXPECT_EQ(fake.receivedLinesStartingWith("ping").constFirst(), "ping from client");

    // Lists and connect-ready lines after success change nothing.
    fake.sendLine(FakeSmartLinkBroker::radioList({entry("B", "Available")}));
    fake.closeClient();
    ASSERT_TRUE(waitUntil([&] { return !disconnects.isEmpty(); }));
    settle(100ms);
    EXPECT_EQ(disconnects, QStringList{"SmartLink broker closed."});
    EXPECT_TRUE(fake.receivedLinesStartingWith("application connect serial=B").isEmpty());
}

TEST_F(SmartLinkBrokerDialogue, StopWhileConnectingEndsConnectQuietly)
{
    auto broker = makeBroker();
    auto connecting = broker->connect();
    ASSERT_TRUE(waitUntil([&] { return !fake.receivedLines().isEmpty(); }));

    broker->stop();
    broker->stop();
    EXPECT_EQ(errorOf<SmartLinkBrokerError>(std::move(connecting))->message(), "SmartLink broker stopped.");
    EXPECT_TRUE(waitUntil([&] { return !fake.hasClient(); }));
    settle();
    EXPECT_TRUE(disconnects.isEmpty());
}

TEST_F(SmartLinkBrokerDialogue, ReadsLinesSplitAcrossReadsAndEndedByCarriageReturns)
{
    fake.answerConnect = false;
    auto broker = makeBroker();
    auto connecting = broker->connect();
    ASSERT_TRUE(waitUntil([&] { return !fake.receivedLines().isEmpty(); }));

    const QByteArray list = FakeSmartLinkBroker::radioList({entry("A", "Available")}).toUtf8();
    fake.sendRaw(list.left(20));
    settle(30ms);
    fake.sendRaw(list.mid(20) + "\r\n");
    ASSERT_TRUE(waitUntil([&] { return !fake.receivedLinesStartingWith("application connect").isEmpty(); }));
    fake.sendRaw("\xff\xfe\n  \r\nradio connect_ready handle=H9 serial=A\r\n");
    EXPECT_EQ(runTask(std::move(connecting)).validationHandle, "H9");
    EXPECT_EQ(fake.receivedLinesStartingWith("application connect").size(), 1);
}

TEST_F(SmartLinkBrokerDialogue, AcceptsUpToOneMebibyteBuffered)
{
    // A list line padded to exactly 1,048,576 bytes with its line feed.
    fake.answerConnect = true;
    auto broker = makeBroker();
    auto connecting = broker->connect();
    ASSERT_TRUE(waitUntil([&] { return !fake.receivedLines().isEmpty(); }));

    QByteArray list = FakeSmartLinkBroker::radioList({entry("A", "Available")}).toUtf8();
    list += QByteArray(SmartLinkBroker::kMaximumBufferedBytes - list.size() - 1, ' ') + '\n';
    ASSERT_EQ(list.size(), 1048576);
    fake.sendRaw(list);
    EXPECT_EQ(runTask(std::move(connecting)).radio.serial, "A");
}

TEST_F(SmartLinkBrokerDialogue, MoreThanOneMebibyteFailsOnceAndStopsReading)
{
    auto broker = makeBroker();
    auto connecting = broker->connect();
    ASSERT_TRUE(waitUntil([&] { return !fake.receivedLines().isEmpty(); }));

    QByteArray list = FakeSmartLinkBroker::radioList({entry("A", "Available")}).toUtf8();
    list += QByteArray(SmartLinkBroker::kMaximumBufferedBytes - list.size(), ' ') + '\n';
    ASSERT_EQ(list.size(), 1048577);
    fake.sendRaw(list);
    const QString limit = QStringLiteral("SmartLink broker response exceeded the safety limit.");
    EXPECT_EQ(errorOf<SmartLinkBrokerError>(std::move(connecting))->message(), limit);
    EXPECT_TRUE(fake.receivedLinesStartingWith("application connect").isEmpty());

    // More of the same, then a line that would be acted on: neither is read.
    fake.sendRaw(QByteArray(2 * 1048576, 'x'));
    fake.sendLine("application registration_invalid");
    settle(200ms);
    EXPECT_EQ(disconnects, QStringList{limit});
}

TEST_F(SmartLinkBrokerDialogue, TransportFailuresEndTheDialogueAndAreReported)
{
    // Normal verification: without the test authority the certificate fails.
    SmartLinkBrokerEndpoint untrusted = endpoint();
    untrusted.sslConfiguration.reset();
    auto strict = makeBroker({}, untrusted);
    const auto refused = errorOf<SmartLinkBrokerError>(strict->connect());
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->message().startsWith("SmartLink broker failed: ")) << refused->message().toStdString();
    ASSERT_TRUE(waitUntil([&] { return disconnects.size() == 1; }));
    EXPECT_EQ(disconnects.constFirst(), refused->message());
    EXPECT_TRUE(fake.receivedLines().isEmpty());

    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    SmartLinkBrokerEndpoint closed = endpoint();
    closed.port = probe.serverPort();
    probe.close();
    auto unreachable = makeBroker({}, closed);
    EXPECT_EQ(errorOf<SmartLinkBrokerError>(unreachable->connect())->message(), "SmartLink broker waiting: Connection refused");
    ASSERT_TRUE(waitUntil([&] { return disconnects.size() == 2; }));
    settle();
    EXPECT_EQ(disconnects.size(), 2);
}
