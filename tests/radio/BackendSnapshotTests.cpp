// Every backend hands out its snapshot by value: reading it must not empty
// what the next reader gets.

#include "KivoCore/agent/RemoteAgentClient.h"
#include "KivoCore/flex/FlexRadioClient.h"
#include "KivoCore/flex/LegacyKIVOClient.h"
#include "KivoCore/flex/SmartLinkRadioClient.h"
#include "KivoCore/radio/SimulatedRadio.h"
#include "support/QtPrinters.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace kivo {
namespace {

using test::runTask;
using Factory = std::function<std::unique_ptr<RadioControlling>()>;

const std::pair<const char *, Factory> backends[] = {
    {"FlexRadio",
     [] {
         return std::make_unique<FlexRadioClient>(
             FlexRadioClient::Options{.host = "127.0.0.1", .port = 4992, .stationName = "Maestro", .sliceLetter = "A"},
             nullptr, nullptr);
     }},
    {"LegacyKIVO",
     [] {
         return std::make_unique<LegacyKIVOClient>(LegacyKIVOClient::Options{.host = "127.0.0.1", .port = 4532},
                                                   nullptr, nullptr);
     }},
    {"SmartLink",
     [] {
         return std::make_unique<SmartLinkRadioClient>(
             SmartLinkRadioClient::Options{
                 .email = "op@example.org", .password = "secret", .stationName = "Maestro", .sliceLetter = "A"},
             nullptr, nullptr);
     }},
    {"RemoteAgent",
     [] {
         return std::make_unique<RemoteAgentClient>(
             RemoteAgentClient::Options{
                 .baseURL = "https://127.0.0.1:8443", .token = "token", .ssl = QSslConfiguration()},
             nullptr, nullptr);
     }},
    {"Simulated",
     [] {
         return std::make_unique<SimulatedRadio>(
             RadioSnapshot({.frequencyHz = 7074000, .mode = "USB", .slice = "A", .station = "Sim"}), nullptr);
     }},
};

TEST(BackendSnapshot, ReadingTwiceGivesTheSameWholeSnapshot)
{
    for (const auto &[name, make] : backends) {
        SCOPED_TRACE(name);
        const auto backend = make();
        const RadioSnapshot first = runTask(backend->snapshot());
        EXPECT_FALSE(first.station.isEmpty());
        EXPECT_FALSE(first.vfos.isEmpty());
        EXPECT_EQ(runTask(backend->snapshot()), first);
    }
}

} // namespace
} // namespace kivo
