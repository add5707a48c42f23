#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/radio/SimulatedRadio.h"
#include "KivoCore/support/SecretStore.h"
#include "QuendKivoApp/model/AppModel.h"
#include "fakes/FakeFlexRadio.h"
#include "fakes/FakeKIVOCompanion.h"
#include "fakes/RemoteAgentHarness.h"
#include "fakes/TestTls.h"
#include "support/QtPrinters.h"
#include "support/RawClient.h"
#include "support/ReadOnlyPath.h"
#include "support/RunTask.h"

#include <QDir>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <csignal>

#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace kivo;
using namespace kivo::test;
using Kind = AppConfiguration::ConnectionKind;

namespace {

// A simulator that counts the connects it was asked for.
class CountingRadio : public SimulatedRadio {
public:
    using SimulatedRadio::SimulatedRadio;
    int starts = 0;

protected:
    void openTransport(qint64 attempt) override
    {
        ++starts;
        SimulatedRadio::openTransport(attempt);
    }
};

struct Fixture {
    QTemporaryDir dir;
    std::shared_ptr<InMemorySecretStore> secrets = std::make_shared<InMemorySecretStore>();
    std::unique_ptr<AppModel> model;
    QList<QStringList> launches;
    bool launchSucceeds = true;
    bool launchedAlive = false;
    std::chrono::milliseconds clock{0};
    AppBackendFactory factory = makeAppBackend;

    QString settingsPath() const { return dir.filePath("settings.conf"); }
    void make(const std::optional<AppConfiguration> &configuration = std::nullopt, QString path = {})
    {
        AppModelDependencies d;
        d.settingsPath = path.isEmpty() ? settingsPath() : path;
        d.secrets = secrets;
        d.backendFactory = factory;
        d.monotonic = [this] { return clock; };
        d.launchProcess = [this](const QString &program, const QStringList &arguments) {
            launches.append(QStringList{program} + arguments);
            return launchSucceeds ? LaunchedProcess([this] { return launchedAlive; }) : LaunchedProcess();
        };
        d.isProcessRunning = [](const QString &) { return false; };
        d.homeDirectory = dir.path();
        d.startPropagation = false;
        model = std::make_unique<AppModel>(std::move(d));
        if (configuration)
            model->setConfiguration(*configuration);
    }
    // The events without their time stamps.
    QStringList messages() const
    {
        QStringList result;
        for (const QString &line : model->events())
            result << line.mid(10);
        return result;
    }
    // Without the servers' own lines, which arrive queued.
    QStringList ownMessages() const
    {
        return messages().filter(QRegularExpression("^(?!CAT: |RigCtlD: )"));
    }
    void stopAndSettle()
    {
        model->stop();
        runTask(model->waitForStop());
        QCoreApplication::processEvents();
    }
};

AppConfiguration quiet(Kind kind)
{
    AppConfiguration c = AppConfiguration::firstRun();
    c.connectionKind = kind;
    c.catPort = 0;
    c.rigCtlPort = 0;
    c.spotBridge.enabled = false;
    c.rotator.enabled = false;
    return c;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

TEST(AppModel, SimulatorServesCATAndStaysStoppedAfterStop)
{
    Fixture f;
    f.make(quiet(Kind::Simulator));
    f.model->start();
    f.model->start();
    ASSERT_TRUE(f.model->isRunning());
    EXPECT_TRUE(f.model->isRadioConnected());
    EXPECT_EQ(f.model->status(), radioStatusText(initialSimulatorSnapshot(f.model->configuration())));
    EXPECT_EQ(f.messages().count("Quend-Kivo started"), 1);

    RawClient client(f.model->catServerPort());
    client.send("FA;");
    EXPECT_EQ(client.read(14), "FA00014074000;");

    // The simulator's unkey during stop must not bring a VFO status back.
    f.stopAndSettle();
    EXPECT_EQ(f.model->status(), "Stopped");
    EXPECT_FALSE(f.model->radioSnapshot().has_value());
    EXPECT_TRUE(f.messages().filter(QRegularExpression("^Station configuration unavailable")).isEmpty());
}

// The simulator's ledger runs like any radio's: a client that keyed and
// left is unkeyed.
TEST(AppModel, SimulatorUnkeysAClientThatKeyedAndLeft)
{
    Fixture f;
    AppConfiguration configuration = quiet(Kind::Simulator);
    configuration.allowCATTransmit = true;
    f.make(configuration);
    f.model->start();
    const auto keyed = [&f] { return f.model->radioSnapshot() && f.model->radioSnapshot()->isTransmitting; };
    {
        RawClient client(f.model->catServerPort());
        client.send("TX;");
        ASSERT_TRUE(waitUntil(keyed));
    }
    EXPECT_TRUE(waitUntil([&] { return !keyed(); }));
    f.stopAndSettle();
}

TEST(AppModel, LocalRadioKindConnectsAndServesCAT)
{
    FakeFlexRadio radio;
    ASSERT_TRUE(radio.listen());
    Fixture f;
    AppConfiguration c = quiet(Kind::Local);
    c.radioHost = "127.0.0.1";
    c.radioPort = radio.port();
    f.make(c);
    f.model->start();
    EXPECT_EQ(f.model->status(), "Connecting to radio");
    ASSERT_TRUE(waitUntil([&] { return radio.connectionCount() == 1 && f.messages().contains("Radio: Connected; waiting for Maestro slice A"); }))
        << f.messages().join('\n').toStdString();
    radio.sendLine(FakeFlexRadio::clientLine("0x40A1", "CID", "Maestro"));
    radio.sendLine(FakeFlexRadio::sliceLine(2, "0x40A1", "A", "14.074000", "DIGU", true, true));
    ASSERT_TRUE(waitUntil([&] { return f.model->isRadioConnected(); }));
    EXPECT_EQ(f.model->status(), "VFO A · RX+TX · 14.074 MHz DIGU\nVFO B · inactive");
    RawClient client(f.model->catServerPort());
    client.send("FA;");
    EXPECT_EQ(client.read(14), "FA00014074000;");
    f.stopAndSettle();
}

TEST(AppModel, LegacyKindServesCATAndUnkeysOnStop)
{
    FakeKIVOCompanion companion;
    ASSERT_TRUE(companion.listen());
    Fixture f;
    AppConfiguration c = quiet(Kind::LegacyKIVO);
    c.legacyKIVOPort = companion.port();
    c.superviseLegacyKIVO = false;
    c.allowCATTransmit = true;
    f.make(c);
    f.model->start();
    ASSERT_TRUE(waitUntil([&] { return f.model->isRadioConnected(); }));
    RawClient client(f.model->catServerPort());
    client.send("FA;");
    EXPECT_EQ(client.read(14), "FA00014074000;");
    // A client's key is the bridge's to undo at stop.
    client.send("TX;");
    ASSERT_TRUE(waitUntil([&] { return companion.transmitting; }));
    companion.clearReceived();
    f.stopAndSettle();
    EXPECT_TRUE(companion.received().contains("RX;")) << companion.received().toStdString();
    EXPECT_TRUE(f.launches.isEmpty());
}

TEST(AppModel, LegacyKindRefusesToPollItselfWhateverTheHostIsCalled)
{
    Fixture f;
    AppConfiguration c = quiet(Kind::LegacyKIVO);
    // Name lookup folds these full-width letters to "localhost"; the settings
    // check does not know the name for this computer.
    c.legacyKIVOHost = QString::fromUtf8("\uFF4C\uFF4F\uFF43\uFF41\uFF4C\uFF48\uFF4F\uFF53\uFF54");
    c.legacyKIVOPort = c.catPort = freePort();
    c.superviseLegacyKIVO = false;
    f.make(c);
    f.model->start();
    const QString refusal = QStringLiteral("The KIVO port %1 is this bridge's own CAT port; choose the port KIVO "
                                           "listens on.").arg(c.catPort);
    ASSERT_TRUE(waitUntil([&] { return f.model->status() == refusal; })) << f.model->status().toStdString();
    EXPECT_TRUE(f.model->isRunning());
    EXPECT_FALSE(f.model->isRadioConnected());
    EXPECT_FALSE(f.messages().contains("Radio: Remote Flex connected through supervised KIVO"));
    f.stopAndSettle();
}

TEST(AppModel, FailedStartReportsFreesItsPortsAndNeverConnects)
{
    Fixture f;
    std::shared_ptr<CountingRadio> built;
    f.factory = [&built](const AppBackendRequest &request) {
        auto radio = std::make_shared<CountingRadio>(initialSimulatorSnapshot(request.configuration),
                                                     request.onSnapshot);
        built = radio;
        return AppBackend{radio, nullptr};
    };
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    AppConfiguration c = quiet(Kind::Local);
    c.radioHost = "127.0.0.1";
    c.catPort = freePort();
    c.rigCtlPort = taken.serverPort();
    f.make(c);
    f.model->start();
    QCoreApplication::processEvents();

    EXPECT_FALSE(f.model->isRunning());
    const QString cat = QString::number(c.catPort), rigCtl = QString::number(c.rigCtlPort);
    const QString refusal = "Could not listen on 127.0.0.1:" + rigCtl + ": ";
    ASSERT_TRUE(f.model->status().startsWith(refusal)) << f.model->status().toStdString();
    // In the order it happened, and nothing listening after the failure.
    EXPECT_EQ(f.messages(), QStringList({"CAT: Listening on 127.0.0.1:" + cat,
                                         "RigCtlD: Listener failed on port " + rigCtl + ": " +
                                             f.model->status().mid(refusal.size()),
                                         "CAT: Listener stopped on port " + cat,
                                         "Start failed: " + f.model->status(), "Quend-Kivo stopped"}));
    QTcpServer again;
    EXPECT_TRUE(again.listen(QHostAddress::LocalHost, c.catPort));
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(built->starts, 0);
}

TEST(AppModel, ASpotPortThatCannotListenFailsTheStartBeforeItIsSaidAndStoppedIsSaidOnlyAfterIt)
{
    QUdpSocket taken;
    ASSERT_TRUE(taken.bind(QHostAddress::LocalHost, 0));
    Fixture f;
    AppConfiguration c = quiet(Kind::Simulator);
    c.spotBridge.enabled = true;
    c.spotBridge.logbookPort = taken.localPort();
    f.make(c);
    f.stopAndSettle(); // quitting before a start
    f.model->start();
    f.stopAndSettle(); // quitting after the failure
    const QString failure = "Start failed: The Logbook spot receiver could not start: Could not listen on "
                            "127.0.0.1:%1: The bound address is already in use";
    EXPECT_EQ(f.messages(), QStringList({"CAT: Listening on 127.0.0.1:0", "RigCtlD: Listening on 127.0.0.1:0",
                                         "CAT: Listener stopped on port 0", "RigCtlD: Listener stopped on port 0",
                                         failure.arg(taken.localPort()), "Quend-Kivo stopped"}));
}

TEST(AppModel, MissingSettingsOfAKindFailTheStart)
{
    const struct {
        Kind kind;
        QString status;
    } rows[] = {
        {Kind::SmartLink, "Enter the SmartLink email address."},
        {Kind::RemoteAgent, "Enter the Remote Agent HTTPS URL."},
        {Kind::Local, "Enter the local radio host or IP address."},
    };
    for (const auto &row : rows) {
        Fixture f;
        AppConfiguration c = quiet(row.kind);
        c.smartLinkEmail = c.remoteAgentBaseURL = c.radioHost = "  ";
        f.make(c);
        f.model->start();
        EXPECT_EQ(f.model->status(), row.status);
        EXPECT_EQ(f.ownMessages().mid(f.ownMessages().size() - 2),
                  QStringList({"Start failed: " + row.status, "Quend-Kivo stopped"}));
    }
}

TEST(AppModel, ConfigurationStoreKeepsUnreadableTextAndReportsSaveFailures)
{
    Fixture f;
    {
        QSettings settings(f.settingsPath(), QSettings::IniFormat);
        settings.setValue("configuration", "{not json");
    }
    f.make();
    EXPECT_EQ(f.model->configuration(), AppConfiguration::firstRun());
    EXPECT_EQ(QSettings(f.settingsPath(), QSettings::IniFormat).value("configuration.unreadable"), "{not json");
    EXPECT_EQ(f.messages().size(), 1);

    {
        QSettings settings(f.settingsPath(), QSettings::IniFormat);
        settings.setValue("configuration", R"({"connectionKind": "Local network", "radioHost": "flex.lan"})");
    }
    f.make();
    EXPECT_EQ(f.model->configuration().radioHost, "flex.lan");
    EXPECT_EQ(f.model->configuration().catPort, 5002);
    EXPECT_EQ(f.model->configuration().legacyKIVOLaunchCommand, "");
    AppConfiguration edited = f.model->configuration();
    edited.legacyKIVOLaunchCommand = "kivo --serve";
    f.model->setConfiguration(edited);
    EXPECT_TRUE(runTask(f.model->save()));
    f.make();
    EXPECT_EQ(f.model->configuration(), edited);

    // A typed agent token without an address saves nothing.
    edited.connectionKind = Kind::RemoteAgent;
    f.model->setConfiguration(edited);
    f.model->setRemoteAgentToken("secret");
    EXPECT_FALSE(runTask(f.model->save()));
    EXPECT_EQ(f.messages().last(), "Could not save settings: Enter the Remote Agent HTTPS URL first.");
    EXPECT_EQ(f.model->remoteAgentToken(), "secret");
    f.secrets->setFailure("locked");
    f.model->forgetRemoteAgentToken();
    EXPECT_EQ(f.messages().last(), "Could not forget Remote Agent token: The desktop keyring returned an error: locked. Check that a desktop "
              "session runs with a Secret Service (such as GNOME Keyring or KWallet) and that the keyring is unlocked.");
    EXPECT_EQ(f.model->remoteAgentToken(), "secret");

    // A settings file that cannot be written is reported, not claimed saved, until it can be.
    QFile blocker(f.dir.filePath("folder")); // a file where the settings folder belongs
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    f.make(std::nullopt, blocker.fileName() + "/settings.conf");
    EXPECT_FALSE(runTask(f.model->save()));
    EXPECT_TRUE(f.messages().last().startsWith("Could not save settings: "));
    ASSERT_TRUE(blocker.remove() && QDir(f.dir.path()).mkdir("folder"));
    EXPECT_TRUE(runTask(f.model->save()));

    // Stored settings that cannot be read (a link loop, even for root) stay untouched, also once repaired.
    const QString kept = f.dir.filePath("kept.conf"), loop = f.dir.filePath("loop.conf");
    const QVariant stored = QSettings(f.settingsPath(), QSettings::IniFormat).value("configuration");
    ASSERT_TRUE(QFile::rename(f.settingsPath(), kept) && QFile::link(f.settingsPath(), loop) && QFile::link(loop, f.settingsPath()));
    f.make();
    EXPECT_TRUE(f.messages().value(0).startsWith("Stored settings could not be read: " + f.settingsPath() + ": "));
    ASSERT_TRUE(QFile::remove(f.settingsPath()) && QFile::rename(kept, f.settingsPath()));
    EXPECT_FALSE(runTask(f.model->save()));
    EXPECT_EQ(f.messages().last(), "Could not save settings: " + f.model->settingsWriteRefusal());
    EXPECT_EQ(QSettings(f.settingsPath(), QSettings::IniFormat).value("configuration"), stored);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

TEST(AppModel, ADamagedSettingsFileIsReportedCopiedAsideAndNeverWritten)
{
    QRandomGenerator random(7);
    const auto randomBytes = [&](qsizetype size) {
        QByteArray bytes(size, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
        return bytes;
    };
    const QByteArray record = R"(configuration="{\"connectionKind\": \"Local network\", \"radioHost\": \"flex.lan\"}")";
    const QString nul = "it holds NUL bytes, which no settings file does";
    const std::tuple<QByteArray, QString> damaged[] = {
        {randomBytes(4096), nul}, {QByteArray(4096, '\0'), nul}, {randomBytes(10'000'000), nul},
        {"[General\n" + record + "\n", "line 1 opens a section that is never closed"},
        {"[General]\n" + record + "\nradioHost flex.lan\n", "line 3 is neither a section, a setting nor a comment"},
        {"[General]\nstationName=Zo\xEB\n" + record, "it is not UTF-8 text"}};
    for (const auto &[bytes, reason] : damaged) {
        Fixture f;
        ASSERT_TRUE(writeBytes(f.settingsPath(), bytes));
        f.make();
        f.make(); // a second start finds the copy the first kept
        const QStringList copies = QDir(f.dir.path()).entryList({"settings.conf.damaged-*"});
        ASSERT_EQ(copies.size(), 1) << reason.toStdString();
        EXPECT_EQ(fileBytes(f.dir.filePath(copies[0])), bytes);
        EXPECT_EQ(f.messages().value(0), "Stored settings could not be read: " + f.settingsPath() + ": " + reason
                                             + ". A copy was kept as " + f.dir.filePath(copies[0])
                                             + ". The first-run settings are used and the file is left untouched "
                                               "until the next start.");
        EXPECT_EQ(f.model->configuration(), AppConfiguration::firstRun());
        QString failure;
        EXPECT_FALSE(runTask(f.model->save()) || f.model->storeValues({{"window", QByteArray("\1\2")}}, &failure));
        EXPECT_EQ(fileBytes(f.settingsPath()), bytes);
    }

    // What QSettings writes, or reads as written, is never taken for damage.
    Fixture f;
    {
        QSettings settings(f.settingsPath(), QSettings::IniFormat);
        QByteArray everyByte;
        for (int b = 0; b < 256; ++b)
            everyByte += char(b);
        settings.setValue("window", everyByte);
        settings.setValue("notes", "a;b=c \"q\"\n\tZoë ✓ [x");
        settings.setValue("Group/key with space", QStringList{"a", "b,c"});
    }
    const QByteArray written = fileBytes(f.settingsPath());
    const QByteArray handWritten = "\xEF\xBB\xBF; note\r\n\r\n[General]\r\n" + record + "\r\nkey = \"two\nlines\" ; note\n";
    for (const QByteArray &valid : {QByteArray(), handWritten, written + "[%General]\n" + record + "\n"}) {
        ASSERT_TRUE(writeBytes(f.settingsPath(), valid));
        f.make();
        EXPECT_EQ(f.messages(), QStringList()) << valid.toStdString();
        EXPECT_TRUE(runTask(f.model->save()));
    }
}

TEST(AppModel, EveryFailedSaveNamesItsCause)
{
    Fixture f;
    f.make();
    ASSERT_TRUE(runTask(f.model->save()));
    const QByteArray saved = fileBytes(f.settingsPath());
    AppConfiguration edited = f.model->configuration();
    edited.stationName = QString(200, 'x');
    f.model->setConfiguration(edited);
    // A file-size limit fails every longer write as a full disk does, also for root.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    rlimit limited = unlimited;
    limited.rlim_cur = rlim_t(saved.size());
    // A put-back never writes in place; a copy aside (below and above QSaveFile's buffer) is whole or none.
    Fixture small, large;
    ASSERT_TRUE(writeBytes(small.settingsPath(), QByteArray(4096, 0))
                && writeBytes(large.settingsPath(), QByteArray(20'000, 0)));
    const int watch = ::inotify_init1(IN_NONBLOCK);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(f.dir.path()).constData(), IN_MODIFY), 0);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool first = runTask(f.model->save());
    const bool second = runTask(f.model->save());
    small.make();
    large.make();
    ::setrlimit(RLIMIT_FSIZE, &unlimited);
    EXPECT_FALSE(first || second);
    QByteArray events(1 << 16, '\0');
    events.resize(std::max<qsizetype>(0, ::read(watch, events.data(), events.size())));
    ::close(watch);
    EXPECT_FALSE(events.contains(QByteArrayView("settings.conf\0", 14)));
    for (const Fixture *d : {&small, &large})
        EXPECT_TRUE(d->messages().value(0).contains(". It could not be copied aside: File too large. The first-run")
                    && QDir(d->dir.path()).entryList({"settings.conf.damaged-*"}).isEmpty());
    const QString why = "Could not save settings: " + f.settingsPath() + " could not be written: File too large.";
    EXPECT_EQ(f.messages().mid(f.messages().size() - 2), QStringList({why, why}));
    EXPECT_EQ(fileBytes(f.settingsPath()), saved);
    ASSERT_TRUE(setReadOnly(f.settingsPath(), true)); // a read-only file, in a folder that takes the trial write
    EXPECT_FALSE(runTask(f.model->save()));
    EXPECT_TRUE(f.messages().last().startsWith("Could not save settings: " + f.settingsPath() + " could not be written: "));
    ASSERT_TRUE(setReadOnly(f.settingsPath(), false));
    EXPECT_TRUE(runTask(f.model->save()));
    f.make();
    EXPECT_EQ(f.model->configuration(), edited);
}

TEST(AppModel, ASaveThatFailsStopsTheRestartThatAskedAndTheTabSaysWhy)
{
    Fixture f;
    const QString locked = f.dir.filePath("locked"), file = locked + "/Quend-Kivo/settings.conf";
    ASSERT_TRUE(QDir(f.dir.path()).mkdir("locked") && setReadOnly(locked, true)); // its folder cannot be made
    f.make(std::nullopt, file);
    const QString why = "Could not save settings: " + file + " could not be written: " + (::geteuid() ? "Permission denied." : "Operation not permitted.");
    f.model->restartSpotBridge();
    f.model->saveAndReconnectRotator();
    EXPECT_TRUE(waitUntil([&] { return f.model->spotBridgeStatus() == why && f.model->rotatorStatus() == why; }));
    ASSERT_TRUE(setReadOnly(locked, false));
}

struct SlowSecretStore : InMemorySecretStore { // answers on a later turn of the event loop, as a keyring does
    QCoro::Task<std::optional<QString>> read(QString service, QString account) override
    {
        co_await sleepFor(std::chrono::milliseconds(1));
        co_return co_await InMemorySecretStore::read(service, account);
    }
};

TEST(AppModel, AStartUsesTheSettingsItBeganWith)
{
    Fixture f;
    f.secrets = std::make_shared<SlowSecretStore>();
    f.factory = [](const AppBackendRequest &r) {
        return AppBackend{std::make_shared<SimulatedRadio>(initialSimulatorSnapshot(r.configuration), r.onSnapshot)};
    };
    AppConfiguration c = quiet(Kind::RemoteAgent);
    c.remoteAgentBaseURL = "https://agent.invalid";
    f.make(c);
    f.model->start();
    c.catPort = freePort(); // edited while the keyring answers
    f.model->setConfiguration(c);
    ASSERT_TRUE(waitUntil([&] { return f.model->isRunning(); }));
    EXPECT_NE(f.model->catServerPort(), c.catPort);
    f.stopAndSettle();
}

TEST(AppModel, SupervisionCountsTheCompanionItStartedWhileItLives)
{
    Fixture f;
    AppConfiguration c = quiet(Kind::LegacyKIVO);
    c.legacyKIVOPort = freePort();
    c.legacyKIVOLaunchCommand = "kivo-legacy";
    f.make(c);
    for (bool alive : {true, true, false}) {
        f.launchedAlive = alive;
        f.model->start();
        f.stopAndSettle();
        f.clock += std::chrono::seconds(6);
    }
    EXPECT_EQ(f.launches.size(), 2);
}

TEST(AppModel, LegacySupervisionLaunchesTheConfiguredCommand)
{
    const struct {
        QString command;
        bool succeeds;
        QString message;
        int launches;
    } rows[] = {
        {"kivo-legacy --serve", true, "Started legacy KIVO for SmartLink transport", 1},
        {"kivo-legacy --serve", false, "Could not start kivo-legacy --serve", 1},
        {" ", true, "Could not start legacy KIVO: no launch command is configured.", 0},
    };
    for (const auto &row : rows) {
        Fixture f;
        f.launchSucceeds = row.succeeds;
        AppConfiguration c = quiet(Kind::LegacyKIVO);
        c.legacyKIVOPort = freePort();
        c.legacyKIVOLaunchCommand = row.command;
        f.make(c);
        f.model->start();
        EXPECT_EQ(f.messages().count(row.message), 1) << row.message.toStdString();
        ASSERT_EQ(f.launches.size(), row.launches);
        if (row.launches) {
            EXPECT_EQ(f.launches.first(), QStringList({"kivo-legacy", "--serve"}));
        }
        f.stopAndSettle();
    }
}

TEST(AppModel, StationActionsAndNewestConfigurationResultWin)
{
    FakeRemoteAgent agent;
    ASSERT_TRUE(agent.listen());
    Fixture f;
    std::weak_ptr<RemoteAgentClient> client;
    f.factory = [&client](const AppBackendRequest &request) {
        AppBackend backend = RemoteAgentHarness::backendTrustingTestCA(request);
        client = backend.remoteAgent;
        return backend;
    };
    RemoteStationConfiguration loaded = RemoteStationConfiguration::placeholder();
    loaded.schemaVersion = 7;
    agent.configuration = loaded.toJson();
    AppConfiguration c = quiet(Kind::RemoteAgent);
    c.remoteAgentBaseURL = agent.baseURL();
    f.make(c);
    f.model->setRemoteAgentToken(agent.token);
    f.model->start();
    ASSERT_TRUE(waitUntil([&] { return f.model->remoteStationStatus() && f.model->remoteConfigurationLoaded(); }));
    EXPECT_EQ(f.model->remoteAgentToken(), "");
    EXPECT_EQ(f.secrets->items().size(), 1);
    EXPECT_EQ(f.model->remoteConfiguration().schemaVersion, 7);
    f.model->noteTelemetryRendered("Status");
    f.model->noteTelemetryRendered("Status");
    EXPECT_EQ(f.messages().filter(QRegularExpression("^Latency Status: Agent→App .+ · App→Status \\d+ ms$")).size(), 1);

    EXPECT_TRUE(f.model->remoteActionAllowed(RemoteStationAction::Standby));
    EXPECT_FALSE(f.model->remoteActionAllowed(RemoteStationAction::Tune));
    f.model->performRemoteStationAction(RemoteStationAction::Tune);
    EXPECT_EQ(f.messages().last(), "Station tune rejected: Transmit actions are not allowed in the settings.");

    // A slow load started first must not overwrite the newer save.
    const QJsonObject old = loaded.toJson();
    agent.setConfigHandler([old](const FakeRemoteAgent::Request &request) {
        if (request.method == "GET") {
            auto reply = FakeRemoteAgent::Reply::json({{"success", true}, {"config", old}});
            reply.delayMs = 150;
            return reply;
        }
        QJsonObject stored = request.json().value("config").toObject();
        stored.insert("schema_version", 9);
        return FakeRemoteAgent::Reply::json({{"success", true}, {"config", stored}});
    });
    f.model->reloadRemoteConfiguration();
    f.model->saveRemoteConfiguration();
    ASSERT_TRUE(waitUntil([&] { return !f.model->remoteConfigurationBusy(); }));
    runTask(sleepFor(std::chrono::milliseconds(400)));
    EXPECT_EQ(f.model->remoteConfigurationStatus(), "Saved — restart the Windows agent to apply");
    EXPECT_EQ(f.model->remoteConfiguration().schemaVersion, 9);
    agent.setConfigHandler([old](const FakeRemoteAgent::Request &request) { // now a reload overtakes a save
        auto reply = FakeRemoteAgent::Reply::json({{"success", true}, {"config", old}});
        reply.delayMs = request.method == "GET" ? 0 : 150;
        return reply;
    });
    f.model->saveRemoteConfiguration();
    f.model->reloadRemoteConfiguration();
    ASSERT_TRUE(waitUntil([&] { return f.messages().count("Station configuration saved on Windows; agent restart required") == 2; }));
    EXPECT_EQ(f.model->remoteConfigurationStatus(), "Loaded from Windows");
    f.stopAndSettle();
    // The token saved by the first start serves the next one; a stop
    // abandons the load the agent is slow to answer, and lets the client go.
    agent.setConfigHandler([old](const FakeRemoteAgent::Request &) {
        auto reply = FakeRemoteAgent::Reply::json({{"success", true}, {"config", old}});
        reply.delayMs = 60000;
        return reply;
    });
    f.model->start();
    EXPECT_TRUE(waitUntil([&] { return f.model->isRemoteAgentConnected() && f.model->remoteConfigurationBusy(); }));
    f.stopAndSettle();
    EXPECT_TRUE(waitUntil([&] { return client.expired(); }));
    EXPECT_EQ(f.model->remoteConfigurationStatus(), "Connect to load station settings");
    EXPECT_TRUE(f.messages().filter(QRegularExpression("^Station configuration unavailable")).isEmpty());
}
