// The station configuration the agent keeps: its JSON form, and reading
// and writing it through the agent client.

#include "KivoCore/support/JsonFields.h"
#include "KivoCore/agent/RemoteStationConfiguration.h"
#include "fakes/RemoteAgentHarness.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;

namespace {

using Reply = FakeRemoteAgent::Reply;
using Request = FakeRemoteAgent::Request;

QJsonObject sampleResponse()
{
    QFile file(QStringLiteral(QK_TEST_DATA_DIR "/agent-config.json"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return QJsonDocument::fromJson(file.readAll()).object();
}

QJsonObject sampleConfig()
{
    return sampleResponse().value("config").toObject();
}

QJsonObject withPolicyMember(const QString &key, const QJsonValue &value)
{
    QJsonObject config = sampleConfig();
    QJsonObject policy = config.value("policy").toObject();
    if (value.isUndefined())
        policy.remove(key);
    else
        policy.insert(key, value);
    config.insert("policy", policy);
    return config;
}

QString readFailure(const QJsonObject &config)
{
    try {
        RemoteStationConfiguration::fromJson(config);
        return QStringLiteral("read");
    } catch (const DecodingError &error) {
        return error.message();
    }
}

QStringList keys(const QJsonObject &object)
{
    return object.keys();
}

} // namespace

TEST(RemoteStationConfiguration, ThePlaceholderWritesEveryKey)
{
    const QJsonObject json = RemoteStationConfiguration::placeholder().toJson();
    EXPECT_EQ(keys(json), QStringList({"commissioned", "flex", "kat500", "kpa500", "policy", "schema_version"}));
    EXPECT_EQ(json.value("flex").toObject(), QJsonObject({{"model", "FLEX-8400"}, {"host", ""}, {"port", 4992},
                                                          {"slice_id", 0}, {"station_name", "Maestro"}}));
    EXPECT_EQ(json.value("kpa500").toObject(),
              QJsonObject({{"enabled", true}, {"port", "COM17"}, {"baudrate", 38400}}));
    EXPECT_EQ(json.value("kat500").toObject().value("port"), "COM15");

    const QJsonObject policy = json.value("policy").toObject();
    EXPECT_EQ(policy.size(), 14);
    EXPECT_EQ(policy.value("amplifier_allowed_bands").toArray(), QJsonArray());
    EXPECT_EQ(policy.value("digital_amplifier_allowed_bands").toArray(), QJsonArray());
    const QJsonObject katAntenna = policy.value("kat_antenna").toObject();
    EXPECT_EQ(katAntenna.size(), 11);
    for (const QString &band : RemoteStationConfiguration::bands())
        EXPECT_EQ(katAntenna.value(band).toInteger(), 1) << band.toStdString();
    EXPECT_EQ(policy.value("flex_antenna").toObject().value("bands").toObject().value("6m"), "ANT1");
    EXPECT_EQ(policy.value("kat_antenna_names").toObject(),
              QJsonObject({{"1", "KAT ANT1"}, {"2", "KAT ANT2"}, {"3", "KAT ANT3"}}));
    EXPECT_EQ(policy.value("tune_target_swr").toDouble(), 1.5);
    EXPECT_EQ(policy.value("tune_timeout_seconds").toDouble(), 30.0);
    EXPECT_EQ(RemoteStationConfiguration::bands(),
              QStringList({"160m", "80m", "60m", "40m", "30m", "20m", "17m", "15m", "12m", "10m", "6m"}));
}

TEST(RemoteStationConfiguration, ReadsBackWhatItWrites)
{
    const RemoteStationConfiguration placeholder = RemoteStationConfiguration::placeholder();
    EXPECT_EQ(RemoteStationConfiguration::fromJson(placeholder.toJson()), placeholder);

    const RemoteStationConfiguration sample = RemoteStationConfiguration::fromJson(sampleConfig());
    EXPECT_EQ(sample.flex.host, "192.168.40.20");
    EXPECT_EQ(sample.policy.katAntennaNames.value("3"), "Inverted L");
    EXPECT_EQ(sample.policy.amplifierDriveW.value("2m"), 10);
    EXPECT_EQ(sample.policy.tuneAbortSWR, 3.0);
    EXPECT_EQ(RemoteStationConfiguration::fromJson(sample.toJson()), sample);
    EXPECT_NE(sample, placeholder);
}

TEST(RemoteStationConfiguration, EveryKeyIsRequiredAndTyped)
{
    EXPECT_EQ(readFailure(withPolicyMember("tune_timeout_seconds", QJsonValue::Undefined)),
              R"(Could not decode "config.policy.tune_timeout_seconds": the value is missing.)");
    EXPECT_EQ(readFailure(withPolicyMember("tune_power_w", 25.5)),
              R"(Could not decode "config.policy.tune_power_w": expected an integer.)");
    EXPECT_EQ(readFailure(withPolicyMember("follow_radio", QJsonValue::Null)),
              R"(Could not decode "config.policy.follow_radio": the value is missing.)");
    EXPECT_EQ(readFailure(withPolicyMember("amplifier_drive_w", QJsonObject{{"20m", "50"}})),
              R"(Could not decode "config.policy.amplifier_drive_w.20m": expected an integer.)");
    EXPECT_EQ(RemoteStationConfiguration::fromJson(withPolicyMember("tune_target_swr", 2)).policy.tuneTargetSWR, 2.0);
}

TEST(RemoteStationConfiguration, UnknownMembersAreKeptButDoNotCountForEquality)
{
    const RemoteStationConfiguration sample = RemoteStationConfiguration::fromJson(sampleConfig());
    const QJsonObject written = sample.toJson();
    EXPECT_EQ(written, sampleConfig());
    EXPECT_EQ(written.value("flex").toObject().value("serial"), "2423-1101-8400-4455");
    EXPECT_EQ(written.value("kpa500").toObject().value("poll_ms").toInteger(), 250);
    EXPECT_EQ(written.value("policy").toObject().value("sequencer_delay_ms").toInteger(), 40);
    EXPECT_EQ(written.value("policy").toObject().value("flex_antenna").toObject().value("fallback"), "ANT1");
    EXPECT_EQ(written.value("remote_access").toObject().value("tailscale"), true);

    RemoteStationConfiguration plain = sample;
    plain.unknownMembers = {};
    plain.flex.unknownMembers = {};
    plain.policy.unknownMembers = {};
    EXPECT_EQ(plain, sample);

    // An edited field is written, the unknown member beside it stays.
    RemoteStationConfiguration edited = sample;
    edited.flex.host = QStringLiteral("flex.local");
    EXPECT_NE(edited, sample);
    EXPECT_EQ(edited.toJson().value("flex").toObject().value("serial"), "2423-1101-8400-4455");
    EXPECT_EQ(edited.toJson().value("flex").toObject().value("host"), "flex.local");
}

TEST(RemoteStationConfigurationRequests, FetchReadsTheAgentsConfiguration)
{
    RemoteAgentHarness h;
    h.agent.configuration = sampleConfig();
    const RemoteStationConfiguration fetched = runTask(h.client->fetchConfiguration());
    EXPECT_EQ(fetched, RemoteStationConfiguration::fromJson(sampleConfig()));

    ASSERT_EQ(h.agent.requests.size(), 1);
    const Request get = h.agent.requests.first();
    EXPECT_EQ(get.method, "GET");
    EXPECT_EQ(get.path, "/api/v1/config");
    EXPECT_EQ(get.header("authorization"), "Bearer test-token");
    EXPECT_EQ(get.header("accept"), "application/json");
    // The client was never started: nothing else happened.
    EXPECT_TRUE(h.states.isEmpty());
    EXPECT_TRUE(h.snapshots.isEmpty());
}

TEST(RemoteStationConfigurationRequests, RestartRequiredMayBeAbsentOrNull)
{
    RemoteAgentHarness h;
    const QList<QJsonValue> restarts{QJsonValue(QJsonValue::Undefined), QJsonValue(QJsonValue::Null),
                                     QJsonValue(true)};
    for (const QJsonValue &restart : restarts) {
        h.agent.setConfigHandler([restart](const Request &) {
            QJsonObject reply{{"success", true}, {"config", sampleConfig()}};
            if (!restart.isUndefined())
                reply.insert("restart_required", restart);
            return Reply::json(reply);
        });
        EXPECT_EQ(runTask(h.client->fetchConfiguration()), RemoteStationConfiguration::fromJson(sampleConfig()));
    }
}

TEST(RemoteStationConfigurationRequests, SaveWritesEveryMemberBackAndReturnsWhatTheAgentStored)
{
    RemoteAgentHarness h;
    ASSERT_TRUE(h.startAndWaitForStream());
    RemoteStationConfiguration edited = RemoteStationConfiguration::fromJson(sampleConfig());
    edited.policy.amplifierAllowedBands << QStringLiteral("15m");
    edited.policy.tuneTargetSWR = 1.3;

    h.agent.setConfigHandler([](const Request &request) {
        QJsonObject stored = request.json().value("config").toObject();
        stored.insert("schema_version", 2);
        return Reply::json({{"success", true}, {"config", stored}, {"restart_required", true}});
    });
    const RemoteStationConfiguration stored = runTask(h.client->saveConfiguration(edited));
    EXPECT_EQ(stored.schemaVersion, 2);
    EXPECT_EQ(stored.policy.amplifierAllowedBands, QStringList({"80m", "40m", "20m", "15m"}));

    const Request put = h.agent.requests.last();
    EXPECT_EQ(put.method, "PUT");
    EXPECT_EQ(put.path, "/api/v1/config");
    EXPECT_EQ(put.header("content-type"), "application/json");
    EXPECT_EQ(put.header("authorization"), "Bearer test-token");
    EXPECT_EQ(keys(put.json()), QStringList({"config"}));
    QJsonObject expected = sampleConfig();
    QJsonObject policy = expected.value("policy").toObject();
    policy.insert("amplifier_allowed_bands", QJsonArray{"80m", "40m", "20m", "15m"});
    policy.insert("tune_target_swr", 1.3);
    expected.insert("policy", policy);
    EXPECT_EQ(put.json().value("config").toObject(), expected);
}

TEST(RemoteStationConfigurationRequests, RejectionsAndErrors)
{
    RemoteAgentHarness h;
    h.agent.setConfigHandler([](const Request &) {
        return Reply::json({{"success", false}, {"config", sampleConfig()}});
    });
    EXPECT_EQ(failureOf(h.client->fetchConfiguration()), "Remote Agent rejected the configuration request.");
    EXPECT_EQ(failureOf(h.client->saveConfiguration(RemoteStationConfiguration::placeholder())),
              "Remote Agent rejected the configuration update.");

    h.agent.setConfigHandler([](const Request &) { return Reply::json({{"success", false}}); });
    EXPECT_EQ(failureOf(h.client->fetchConfiguration()), R"(Could not decode "config": the value is missing.)");

    h.agent.setConfigHandler({});
    h.agent.token = QStringLiteral("another-token");
    EXPECT_EQ(failureOf(h.client->fetchConfiguration()), "Invalid bearer token");
    EXPECT_EQ(failureOf(h.client->saveConfiguration(RemoteStationConfiguration::placeholder())),
              "Invalid bearer token");
    EXPECT_TRUE(h.agent.configuration.isEmpty());
}
