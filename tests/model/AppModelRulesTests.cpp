#include "QuendKivoApp/model/AppModelRules.h"
#include "QuendKivoApp/model/ConnectionKindDescriptor.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace kivo;
using namespace std::chrono_literals;

TEST(AppModelRules, RadioStatusTextHasOneLinePerVFO)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr); // Qt applies the desktop's, here German
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
    RadioSnapshot snapshot(
        {.frequencyHz = 14074000, .mode = "DIGU", .isConnected = true, .slice = "A", .station = "Maestro"});
    EXPECT_EQ(radioStatusText(snapshot).section('\n', 1), "VFO B · inactive");
    snapshot.vfos = {
        RadioVFO({.letter = "A", .frequencyHz = 14074000, .mode = "DIGU", .isReceive = true, .isTransmit = true}),
        RadioVFO({.letter = "B", .frequencyHz = 7000000, .mode = "CW", .isTransmit = true})};
    EXPECT_EQ(radioStatusText(snapshot), "VFO A · RX+TX · 14.074 MHz DIGU\nVFO B · TX · 7.000 MHz CW");
    snapshot.vfos = {RadioVFO({.letter = "B", .frequencyHz = 7000000, .mode = "LSB"})};
    EXPECT_EQ(radioStatusText(snapshot), "VFO A · inactive\nVFO B · standby · 7.000 MHz LSB");
    std::setlocale(LC_ALL, previous.c_str());
}

TEST(AppModelRules, LatencySummaryNamesThisComputerApp)
{
    const QDateTime t0 = QDateTime::fromMSecsSinceEpoch(1'000'000, Qt::UTC);
    TelemetryTiming timing{14074000, t0, std::nullopt, {}};
    EXPECT_EQ(latencySummary(timing), "Agent→App --");
    timing.transportMilliseconds = 42;
    timing.renderMilliseconds = {{"Status", 80}, {"Monitor", 120}};
    EXPECT_EQ(latencySummary(timing), "Agent→App 42 ms · App→Monitor 120 ms · App→Status 80 ms");
    // A clock ahead gives 0, an absurd stamp no figure.
    EXPECT_EQ(elapsedMilliseconds(t0, t0.addMSecs(-5)), 0);
    EXPECT_EQ(elapsedMilliseconds(t0, t0.addMSecs(1234)), 1234);
    EXPECT_EQ(elapsedMilliseconds(t0, t0.addYears(5)), std::nullopt);
}

TEST(AppModelRules, StationActionPermissions)
{
    RemoteStationStatus all;
    all.supportedCommands = {"station_standby", "station_operate", "station_tune", "station_cancel"};
    RemoteStationStatus noTune = all;
    noTune.supportedCommands.remove("station_tune");
    using A = RemoteStationAction;
    struct Row {
        A action;
        bool running, connected;
        std::optional<RemoteStationStatus> status;
        bool transmit, allowed;
    } rows[] = {
        {A::Standby, true, true, all, false, true},   {A::Cancel, true, true, all, false, true},
        {A::Operate, true, true, all, false, false},  {A::Tune, true, true, all, false, false},
        {A::Operate, true, true, all, true, true},    {A::Tune, true, true, noTune, true, false},
        {A::Standby, false, true, all, true, false},  {A::Standby, true, false, all, true, false},
        {A::Standby, true, true, std::nullopt, true, false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(remoteActionPermitted(row.action, row.running, row.connected, row.status, row.transmit),
                  row.allowed)
            << rawValue(row.action).toStdString() << row.running << row.connected << row.transmit;
}

TEST(AppModelRules, LegacySupervisionThrottleAndProcessNames)
{
    EXPECT_TRUE(legacyLaunchDue(std::nullopt, 0ms));
    EXPECT_FALSE(legacyLaunchDue(10'000ms, 14'999ms));
    EXPECT_TRUE(legacyLaunchDue(10'000ms, 15'000ms));

    EXPECT_EQ(legacyLaunchArguments(R"(/opt/kivo/bin/kivo "--port 5002")"),
              QStringList({"/opt/kivo/bin/kivo", "--port 5002"}));
    EXPECT_EQ(legacyProcessName("/opt/kivo/bin/kivo --serve", ""), "kivo");
    EXPECT_EQ(legacyProcessName("wine KIVO.exe", " KIVO.exe "), "KIVO.exe");
    EXPECT_EQ(legacyProcessName("", ""), "");
    const auto bytes = [](const auto &text) { return QByteArray(text, sizeof text - 1); };
    const std::tuple<QString, QByteArray, QByteArray, bool> recorded[] = { // /proc comm and cmdline
        {"kivo", "kivo\n", bytes("/usr/bin/python3\0x"), true}, {"kivo", "python3", bytes("/opt/kivo/bin/kivo\0--serve"), true},
        {"kivo-legacy-launcher", "kivo-legacy-lau\n", {}, true}, {"", "", {}, false},
        {"kivo-legacy-launcher", "sh\n", bytes("/bin/sh\0/opt/kivo/kivo-legacy-launcher\0"), true},
        {"KIVO.exe", "wine64-preloade\n", bytes("wine\0/opt/KIVO/KIVO.exe\0"), true},
        {"kivo-legacy", "kivo-legacy-lau\n", bytes("/bin/sh\0/opt/kivo/kivo-legacy-launcher\0"), false}};
    for (const auto &[name, comm, cmdline, matches] : recorded)
        EXPECT_EQ(processMatches(name, comm, cmdline), matches) << name.toStdString() << " " << comm.toStdString();
}

TEST(AppModelRules, LegacyKIVOMustNotBeOurOwnPort)
{
    AppConfiguration c; // a saved record without catPort: CAT and KIVO both on 5002
    c.connectionKind = AppConfiguration::ConnectionKind::LegacyKIVO;
    const QString own = "The KIVO port %1 is this bridge's own %2 port; choose the port KIVO listens on.";
    const std::tuple<QString, quint16, QString> rows[] = {{"127.0.1.1", 5002, own.arg(5002).arg("CAT")},
        {" LOCALHOST ", 4532, own.arg(4532).arg("rigctld")}, {"::1", 5002, own.arg(5002).arg("CAT")}, {"192.168.1.20", 5002, ""},
        // The unspecified address reaches this computer too, in every spelling.
        {"0.0.0.0", 5002, own.arg(5002).arg("CAT")}, {"0", 5002, own.arg(5002).arg("CAT")}, {"::", 4532, own.arg(4532).arg("rigctld")},
        {"[::]", 5002, own.arg(5002).arg("CAT")}, {"::ffff:0.0.0.0", 5002, own.arg(5002).arg("CAT")},
        {"::ffff:127.0.0.1", 5002, own.arg(5002).arg("CAT")}, {"0.0.0.1", 5002, ""}};
    for (const auto &[host, port, problem] : rows) {
        c.legacyKIVOHost = host;
        c.legacyKIVOPort = port;
        EXPECT_EQ(descriptorOf(c.connectionKind).settingsProblem(c), problem) << host.toStdString() << ":" << port;
    }
}
