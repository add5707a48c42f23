#include "KivoCore/station/Rotator.h"

#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>
#include <utility>
#include <variant>
#include <vector>

#ifdef QK_HAVE_PLIST
#include <plist/plist.h>
#include <cstdlib>
#endif

using namespace kivo;

#ifdef QK_HAVE_PLIST

namespace {
using PlistValue = std::variant<bool, qint64, double, const char *>;
using Entries = std::vector<std::pair<QString, PlistValue>>;
enum class Format { Binary, Xml };

const QString preferences = QStringLiteral("Library/Containers/de.felsbach.Rotor/Data/Library/Preferences/");
const QString primaryFile = preferences + QStringLiteral("de.felsbach.Rotor_0.plist");
const QString secondaryFile = preferences + QStringLiteral("de.felsbach.Rotor.plist");

plist_t node(const PlistValue &value)
{
    if (const auto *flag = std::get_if<bool>(&value))
        return plist_new_bool(*flag);
    if (const auto *integer = std::get_if<qint64>(&value))
        return plist_new_uint(static_cast<uint64_t>(*integer));
    if (const auto *real = std::get_if<double>(&value))
        return plist_new_real(*real);
    return plist_new_string(std::get<const char *>(value));
}

class RotorImport : public ::testing::Test {
protected:
    void write(const QString &relativePath, const Entries &entries, Format format)
    {
        plist_t dictionary = plist_new_dict();
        for (const auto &[key, value] : entries)
            plist_dict_set_item(dictionary, key.toUtf8().constData(), node(value));
        char *bytes = nullptr;
        uint32_t length = 0;
        if (format == Format::Binary)
            plist_to_bin(dictionary, &bytes, &length);
        else
            plist_to_xml(dictionary, &bytes, &length);
        plist_free(dictionary);
        writeBytes(relativePath, QByteArray(bytes, length));
        std::free(bytes);
    }

    void writeBytes(const QString &relativePath, const QByteArray &bytes)
    {
        const QString path = home.filePath(relativePath);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // A primary file of a DCU-1 set-up plus the given entries, in binary form.
    void writePrimary(const Entries &extra)
    {
        Entries entries{{QStringLiteral("RotorType"), "DCU-1"}};
        entries.insert(entries.end(), extra.begin(), extra.end());
        write(primaryFile, entries, Format::Binary);
    }

    std::optional<RotatorConfiguration> imported() const
    {
        return RotatorConfiguration::importedRotorConfiguration(home.path());
    }

    QTemporaryDir home;
};
} // namespace

TEST_F(RotorImport, ImportsABinaryPrimaryAndAnXmlSecondary)
{
    writePrimary({{QStringLiteral("RotorIdentifier"), "Tower"},
                  {QStringLiteral("tcpAddressAz"), "192.168.1.50"},
                  {QStringLiteral("tcpPortAz"), qint64(4002)},
                  {QStringLiteral("PollRateIdx"), qint64(250)},
                  {QStringLiteral("AutoConnect"), true},
                  {QStringLiteral("LogUdpPort"), qint64(12070)},
                  {QStringLiteral("UseLogStnForAuto"), qint64(1)},
                  {QStringLiteral("AutoRotate_6"), true},
                  {QStringLiteral("AutoRotate_15"), true},
                  {QStringLiteral("AutoRotate_0"), true},
                  {QStringLiteral("AutoRotate_16"), true},
                  {QStringLiteral("AutoRotate_7"), false},
                  {QStringLiteral("Bidirectional_10"), 2.5},
                  {QStringLiteral("OffsetIdx_3"), qint64(45)},
                  {QStringLiteral("OffsetIdx_4"), qint64(0)},
                  {QStringLiteral("OffsetIdx_5"), qint64(-20)},
                  {QStringLiteral("OffsetIdx_16"), qint64(7)}});
    write(secondaryFile, {{QStringLiteral("MyLocator"), "jo62qm"}}, Format::Xml);

    const auto record = imported();
    ASSERT_TRUE(record.has_value());
    const RotatorConfiguration expected(
        {.enabled = true,
         .name = QStringLiteral("Tower"),
         .host = QStringLiteral("192.168.1.50"),
         .port = 4002,
         .pollIntervalMilliseconds = 250,
         .connectAtLaunch = true,
         .homeGrid = QStringLiteral("JO62QM"),
         .rumlogPort = 12070,
         .automaticSource = RotatorAutomaticSource::Station,
         .automaticTurningEnabled = false,
         .minimumAutomaticTurnDegrees = 0,
         .enabledBands = {QStringLiteral("20m"), QStringLiteral("Other")},
         .bandOffsets = {{QStringLiteral("60m"), 45}, {QStringLiteral("30m"), -20}},
         .bidirectionalBands = {QStringLiteral("10m")},
         .beamWidthDegrees = 5,
         .callsignDatabasePath = home.filePath(QStringLiteral(
             "Library/Containers/de.felsbach.Rotor/Data/Library/Application Support/de.felsbach.Rotor/grids.txt"))});
    EXPECT_EQ(*record, expected);
}

TEST_F(RotorImport, FillsDefaultsFromAnXmlPrimaryAlone)
{
    write(primaryFile, {{QStringLiteral("RotorType"), "dcu-1"}}, Format::Xml);
    const auto record = imported();
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->name, QStringLiteral("Rotor"));
    EXPECT_EQ(record->host, QString());
    EXPECT_EQ(record->port, 4001);
    EXPECT_EQ(record->pollIntervalMilliseconds, 100);
    EXPECT_FALSE(record->connectAtLaunch);
    EXPECT_EQ(record->homeGrid, QString());
    EXPECT_EQ(record->rumlogPort, 12064);
    EXPECT_EQ(record->automaticSource, RotatorAutomaticSource::Country);
    EXPECT_TRUE(record->enabledBands.isEmpty());
    EXPECT_TRUE(record->bandOffsets.isEmpty());
    EXPECT_EQ(record->beamWidthDegrees, 5);
}

TEST_F(RotorImport, NeedsAPrimaryFileOfADcu1Controller)
{
    EXPECT_EQ(imported(), std::nullopt);

    write(secondaryFile, {{QStringLiteral("MyLocator"), "JO62"}}, Format::Binary);
    EXPECT_EQ(imported(), std::nullopt);

    write(primaryFile, {{QStringLiteral("RotorType"), "RotorEZ"}}, Format::Binary);
    EXPECT_EQ(imported(), std::nullopt);
    write(primaryFile, {{QStringLiteral("tcpAddressAz"), "10.0.0.1"}}, Format::Binary);
    EXPECT_EQ(imported(), std::nullopt);
    write(primaryFile, {{QStringLiteral("RotorType"), qint64(1)}}, Format::Binary);
    EXPECT_EQ(imported(), std::nullopt);

    // libplist would abort on the zero character in this file's key.
    writeBytes(primaryFile, QByteArray::fromHex("62706c6973743030d101026200e9000009080b1000000000000001010000000000"
                                                "00000300000000000000000000000000000011"));
    EXPECT_EQ(imported(), std::nullopt);
    writeBytes(primaryFile, "this is not a property list");
    EXPECT_EQ(imported(), std::nullopt);
    writeBytes(primaryFile, QByteArray());
    EXPECT_EQ(imported(), std::nullopt);
}

TEST_F(RotorImport, AnUnreadableSecondaryOnlyLosesTheHomeGrid)
{
    writePrimary({{QStringLiteral("tcpAddressAz"), "10.0.0.1"}});
    writeBytes(secondaryFile, "<plist><dict><key>MyLocator</key>");
    const auto record = imported();
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->homeGrid, QString());
    EXPECT_EQ(record->host, QStringLiteral("10.0.0.1"));
}

TEST_F(RotorImport, TakesPortsFrom1To65535AndRefusesNumbersThatDoNotFit)
{
    auto portsFor = [this](const PlistValue &controller, const PlistValue &feed) {
        writePrimary({{QStringLiteral("tcpPortAz"), controller}, {QStringLiteral("LogUdpPort"), feed}});
        const auto record = imported();
        return record ? std::pair<int, int>(record->port, record->rumlogPort) : std::pair<int, int>(-1, -1);
    };
    EXPECT_EQ(portsFor(qint64(70000), qint64(-5)), (std::pair<int, int>(4001, 12064)));
    EXPECT_EQ(portsFor("4002", true), (std::pair<int, int>(4001, 12064)));
    EXPECT_EQ(portsFor(4002.9, -0.5), (std::pair<int, int>(4002, 12064)));
    // Reals that fit no integer count as absent rather than reaching a conversion.
    EXPECT_EQ(portsFor(1e300, std::numeric_limits<double>::quiet_NaN()), (std::pair<int, int>(4001, 12064)));
    EXPECT_EQ(portsFor(-1e300, std::numeric_limits<double>::infinity()), (std::pair<int, int>(4001, 12064)));
}

TEST_F(RotorImport, ConvertsThePollRate)
{
    auto pollFor = [this](const PlistValue &value) {
        writePrimary({{QStringLiteral("PollRateIdx"), value}});
        const auto record = imported();
        return record ? record->pollIntervalMilliseconds : -1;
    };
    EXPECT_EQ(pollFor(qint64(20)), 100);
    EXPECT_EQ(pollFor(qint64(10000)), 5000);
    EXPECT_EQ(pollFor(qint64(-3)), 100);
    EXPECT_EQ(pollFor("250 ms"), 250);
    EXPECT_EQ(pollFor("every 1,000 ms"), 1000);
    EXPECT_EQ(pollFor("fast"), 100);
    EXPECT_EQ(pollFor("99999999999999999999999"), 100);
    EXPECT_EQ(pollFor(true), 100);
    EXPECT_EQ(pollFor(333.7), 333);
    EXPECT_EQ(pollFor(1e300), 5000);
    EXPECT_EQ(pollFor(-std::numeric_limits<double>::infinity()), 100);
    EXPECT_EQ(pollFor(std::numeric_limits<double>::quiet_NaN()), 100);
}

TEST_F(RotorImport, OffsetsMustBeWholeNonZeroDegrees)
{
    writePrimary({{QStringLiteral("OffsetIdx_1"), 1e300},
                  {QStringLiteral("OffsetIdx_2"), std::numeric_limits<double>::quiet_NaN()},
                  {QStringLiteral("OffsetIdx_3"), 45.9},
                  {QStringLiteral("OffsetIdx_4"), "90"},
                  {QStringLiteral("OffsetIdx_5"), qint64(10000000000)},
                  {QStringLiteral("OffsetIdx_6"), -0.4}});
    const auto record = imported();
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->bandOffsets, (QHash<QString, int>{{QStringLiteral("60m"), 45}}));
}

#else

TEST(RotorImport, NeedsPropertyListSupport)
{
    QTemporaryDir home;
    EXPECT_EQ(RotatorConfiguration::importedRotorConfiguration(home.path()), std::nullopt);
}

#endif
