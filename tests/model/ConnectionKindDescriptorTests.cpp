#include "QuendKivoApp/model/ConnectionKindDescriptor.h"
#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/flex/FlexRadioClient.h"
#include "KivoCore/flex/LegacyKIVOClient.h"
#include "KivoCore/flex/SmartLinkRadioClient.h"
#include "KivoCore/radio/SimulatedRadio.h"
#include "KivoCore/support/SecretStore.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>
#include <typeindex>

using namespace kivo;
using Kind = AppConfiguration::ConnectionKind;

TEST(ConnectionKindDescriptors, EachKindIsStoredCheckedAndBuiltByItsEntry)
{
    const struct {
        Kind kind;
        QString name;
        QString problemOfDefaults;
        std::type_index backend;
    } table[] = {
        {Kind::SmartLink, "SmartLink", "Enter the SmartLink email address.", typeid(SmartLinkRadioClient)},
        {Kind::RemoteAgent, "Remote Station Agent", "Enter the Remote Agent HTTPS URL.", typeid(RemoteAgentClient)},
        {Kind::Local, "Local network", "Enter the local radio host or IP address.", typeid(FlexRadioClient)},
        // Decoding defaults put KIVO on the bridge's own CAT port.
        {Kind::LegacyKIVO, "Remote via supervised KIVO",
         "The KIVO port 5002 is this bridge's own CAT port; choose the port KIVO listens on.", typeid(LegacyKIVOClient)},
        {Kind::Simulator, "Simulator", "", typeid(SimulatedRadio)},
    };
    ASSERT_EQ(connectionKindDescriptors().size(), std::size(table));
    for (size_t i = 0; i < std::size(table); ++i) {
        const auto &row = table[i];
        const ConnectionKindDescriptor &descriptor = descriptorOf(row.kind);
        EXPECT_EQ(&connectionKindDescriptors()[i], &descriptor) << "the picker's order";
        AppConfiguration configuration;
        configuration.connectionKind = row.kind;
        const QJsonObject stored = configuration.toJson();
        EXPECT_EQ(stored.value("connectionKind").toString(), row.name);
        EXPECT_EQ(AppConfiguration::fromJson(stored).connectionKind, row.kind);
        EXPECT_EQ(descriptor.settingsProblem(configuration), row.problemOfDefaults);

        AppBackendRequest request;
        request.configuration = configuration;
        request.remoteAgentBaseURL = "https://station-pc.local:8443";
        request.remoteAgentToken = "token";
        request.secrets = std::make_shared<InMemorySecretStore>();
        const AppBackend backend = descriptor.makeBackend(request);
        ASSERT_TRUE(backend.radio) << row.name.toStdString();
        const RadioBackend &radio = *backend.radio;
        EXPECT_STREQ(typeid(radio).name(), row.backend.name()) << row.name.toStdString();
        EXPECT_EQ(backend.remoteAgent != nullptr, descriptor.isRemoteAgent()) << row.name.toStdString();
    }
}
