#include "KivoCore/support/KivoError.h"
#include "KivoCore/station/PropagationConditions.h"
#include "fakes/FakeHTTPServer.h"
#include "support/RunTask.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using R = PropagationRating;

namespace {

const QString unavailable = QStringLiteral("The propagation service is unavailable.");
const QString oversized = QStringLiteral("Propagation data exceeded the safe response limit.");
const QString invalidXML = QStringLiteral("The propagation service returned invalid XML.");
const QString noConditions = QStringLiteral("The propagation service returned no HF conditions.");

QByteArray sampleReport()
{
    QFile file(QStringLiteral(QK_TEST_DATA_DIR "/hamqsl-solarxml-2019-01-15.xml"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

QByteArray report(const QByteArray &inner)
{
    return "<?xml version=\"1.0\"?>\n<solar><solardata>" + inner + "</solardata></solar>\n";
}

const QByteArray oneBand = "<band name=\"80m-40m\" time=\"day\">Good</band>";

HFPropagationBand band(const char *name, R day, R night)
{
    return HFPropagationBand{QString::fromUtf8(name), day, night};
}

template <typename Action>
QString failureOf(Action action)
{
    try {
        action();
    } catch (const KivoError &error) {
        return error.message();
    }
    return QStringLiteral("<no error>");
}

QString parseFailure(const QByteArray &body)
{
    return failureOf([&] { PropagationConditionsParser::parse(body); });
}

struct Service {
    FakeHTTPServer server;
    QNetworkAccessManager session;

    Service() { EXPECT_TRUE(server.listen()); }

    PropagationConditionsClient client() { return PropagationConditionsClient(&session, server.url("/solarxml.php")); }

    void serve(int status, const QByteArray &reason, const QByteArray &body)
    {
        FakeHTTPServer::Response response;
        response.status = status;
        response.reason = reason;
        response.body = body;
        server.setResponse(response);
    }

    PropagationConditionsSnapshot fetch() { return runTask(client().fetch(), 5s); }
    QString fetchFailure()
    {
        return failureOf([&] { fetch(); });
    }
};

} // namespace

TEST(PropagationConditionsParser, ReadsTheRealReport)
{
    const auto snapshot = PropagationConditionsParser::parse(sampleReport());

    EXPECT_THAT(snapshot.bands, ElementsAre(band("80–40", R::Fair, R::Good), band("30–20", R::Poor, R::Poor),
                                            band("17–15", R::Poor, R::Poor), band("12–10", R::Poor, R::Poor)));
    EXPECT_EQ(snapshot.sixMeterEurope, R::Closed);
    EXPECT_EQ(snapshot.solarFlux, 69);
    EXPECT_EQ(snapshot.aIndex, 6);
    EXPECT_EQ(snapshot.kIndex, 2);
    EXPECT_EQ(snapshot.xRay, QStringLiteral("A1.0"));
    EXPECT_EQ(snapshot.updatedAt, QDateTime(QDate(2019, 1, 15), QTime(4, 42), QTimeZone::utc()));

    const auto rows = snapshot.displayBands();
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(rows.last(), band("6m", R::Closed, R::Closed));
    EXPECT_EQ(rows.first().id(), QStringLiteral("80\u201340"));
}

TEST(PropagationConditionsParser, RatesReportWordsBestFirst)
{
    EXPECT_EQ(propagationRatingFromSourceValue(QStringLiteral("Band Closed")), R::Closed);
    EXPECT_EQ(propagationRatingFromSourceValue(QStringLiteral("GOOD")), R::Good);
    EXPECT_EQ(propagationRatingFromSourceValue(QStringLiteral(" Fair to good\n")), R::Good);
    EXPECT_EQ(propagationRatingFromSourceValue(QStringLiteral("Poor")), R::Poor);
    EXPECT_EQ(propagationRatingFromSourceValue(QStringLiteral("No Report")), R::Unknown);
    EXPECT_EQ(propagationRatingFromSourceValue(QString()), R::Unknown);

    EXPECT_EQ(label(R::Good), QStringLiteral("GOOD"));
    EXPECT_EQ(label(R::Closed), QStringLiteral("CLOSED"));
    EXPECT_EQ(label(R::Unknown), QStringLiteral("--"));
    EXPECT_EQ(propagationRatingFromRaw(QStringLiteral("fair")), R::Fair);
    EXPECT_EQ(propagationRatingFromRaw(QStringLiteral("Fair")), std::nullopt);
}

TEST(PropagationConditionsParser, AcceptsAClosedReportButNotAnEmptyOne)
{
    QByteArray closed;
    for (const char *pair : {"80m-40m", "30m-20m", "17m-15m", "12m-10m"}) {
        for (const char *time : {"day", "night"})
            closed += QByteArray("<band name=\"") + pair + "\" time=\"" + time + "\">Closed</band>";
    }
    const auto snapshot = PropagationConditionsParser::parse(report(closed));
    for (const auto &row : snapshot.bands) {
        EXPECT_EQ(row.day, R::Closed);
        EXPECT_EQ(row.night, R::Closed);
    }

    EXPECT_EQ(parseFailure(report("<phenomenon name=\"E-Skip\" location=\"europe_6m\">Good</phenomenon>")),
              noConditions);
    EXPECT_EQ(parseFailure(report("<band name=\"80m-40m\" time=\"day\">No Report</band>")), noConditions);
}

TEST(PropagationConditionsParser, MatchesNamesAndAttributesInAnyCase)
{
    const auto snapshot = PropagationConditionsParser::parse(
        report("<BAND Name=\"30M-20M\" TIME=\"Day\">Fair</BAND>"
               "<Phenomenon NAME=\"E-SKIP\" Location=\"EUROPE_6M\">good</Phenomenon>"
               "<SolarFlux>+70</SolarFlux><AIndex>4.5</AIndex><KINDEX>x</KINDEX>"));
    EXPECT_EQ(snapshot.bands.at(1), band("30–20", R::Fair, R::Unknown));
    EXPECT_EQ(snapshot.sixMeterEurope, R::Good);
    EXPECT_EQ(snapshot.solarFlux, 70);
    EXPECT_EQ(snapshot.aIndex, std::nullopt);
    EXPECT_EQ(snapshot.kIndex, std::nullopt);
    EXPECT_EQ(snapshot.xRay, QStringLiteral("--"));
    EXPECT_EQ(snapshot.updatedAt, std::nullopt);
}

TEST(PropagationConditionsParser, ReadsLeafTextOnlyAndIgnoresCDATA)
{
    const auto snapshot = PropagationConditionsParser::parse(
        report(oneBand + "<xray><![CDATA[X9.9]]></xray>"
                         "<solarflux>70<note>n</note></solarflux>"
                         "<kindex>99999999999</kindex>"
                         "<updated>someday</updated>"));
    EXPECT_EQ(snapshot.xRay, QStringLiteral("--"));
    EXPECT_EQ(snapshot.solarFlux, std::nullopt);
    EXPECT_EQ(snapshot.kIndex, std::nullopt);
    EXPECT_EQ(snapshot.updatedAt, std::nullopt);
}

TEST(PropagationConditionsParser, RefusesBrokenXML)
{
    EXPECT_EQ(parseFailure(QByteArray()), invalidXML);
    EXPECT_EQ(parseFailure("<solar><band name=\"80m-40m\" time=\"day\">Good</solar>"), invalidXML);
    EXPECT_EQ(parseFailure("<html><body>Service down"), invalidXML);
}

TEST(PropagationConditionsParser, NeverFetchesAnExternalEntity)
{
    Service service;
    service.serve(200, "OK", "X9.9");
    const QByteArray body = "<?xml version=\"1.0\"?>\n<!DOCTYPE solar [<!ENTITY remote SYSTEM \""
                            + service.server.url("/entity").toEncoded() + "\">]>\n<solar>" + oneBand
                            + "<xray>&remote;</xray></solar>";
    try {
        const auto snapshot = PropagationConditionsParser::parse(body);
        EXPECT_EQ(snapshot.xRay, QStringLiteral("--"));
    } catch (const KivoError &error) {
        EXPECT_EQ(error.message(), invalidXML);
    }
    settle();
    EXPECT_TRUE(service.server.requests().isEmpty());
}

TEST(PropagationConditionsParser, CapsTheBodyAt256000Bytes)
{
    QByteArray body = report(oneBand);
    body += QByteArray(256000 - body.size(), ' ');
    EXPECT_EQ(PropagationConditionsParser::parse(body).bands.first().day, R::Good);
    EXPECT_EQ(parseFailure(body + ' '), oversized);
}

TEST(PropagationConditionsParser, ReadsTheUpdateTimeStrictly)
{
    using PropagationConditionsParser::parseUpdateTime;
    EXPECT_EQ(parseUpdateTime(QStringLiteral(" 15 Jan 2019 0442 GMT")),
              QDateTime(QDate(2019, 1, 15), QTime(4, 42), QTimeZone::utc()));
    EXPECT_EQ(parseUpdateTime(QStringLiteral("5 dec 2024 2359 UTC")),
              QDateTime(QDate(2024, 12, 5), QTime(23, 59), QTimeZone::utc()));
    for (const char *text : {"15 January 2019 0442 GMT", "32 Jan 2019 0442 GMT", "29 Feb 2019 0442 GMT",
                             "15 Jan 2019 2400 GMT", "15 Jan 2019 0460 GMT", "15 Jan 2019 04:42 GMT",
                             "15 Jan 19 0442 GMT", "15 Jan 2019 0442", "15 Jan 2019 0442 EST",
                             "15  Jan 2019 0442 GMT", "2019-01-15T04:42:00Z", "１５ Jan 2019 0442 GMT", ""})
        EXPECT_EQ(parseUpdateTime(QString::fromUtf8(text)), std::nullopt) << text;
}

TEST(PropagationConditionsClient, FetchesTheReportOverHTTP)
{
    Service service;
    service.serve(200, "OK", sampleReport());

    const auto snapshot = service.fetch();

    EXPECT_EQ(snapshot, PropagationConditionsParser::parse(sampleReport()));
    ASSERT_EQ(service.server.requests().size(), 1);
    const QByteArray request = service.server.requests().first();
    EXPECT_TRUE(request.startsWith("GET /solarxml.php HTTP/1.1\r\n")) << request.toStdString();
    EXPECT_TRUE(request.contains("\r\nUser-Agent: Quend-Kivo/0.5\r\n")) << request.toStdString();
}

TEST(PropagationConditionsClient, ReportsTheServiceUnavailableOnABadStatus)
{
    Service service;
    service.serve(404, "Not Found", sampleReport());
    EXPECT_EQ(service.fetchFailure(), unavailable);
    service.serve(503, "Service Unavailable", QByteArray());
    EXPECT_EQ(service.fetchFailure(), unavailable);
    service.serve(302, "Found", QByteArray());
    EXPECT_EQ(service.fetchFailure(), unavailable);
}

TEST(PropagationConditionsClient, PassesTheParsersFailuresOn)
{
    Service service;
    service.serve(200, "OK", "<html><body>Maintenance");
    EXPECT_EQ(service.fetchFailure(), invalidXML);
    service.serve(200, "OK", report("<phenomenon name=\"E-Skip\" location=\"europe_6m\">Good</phenomenon>"));
    EXPECT_EQ(service.fetchFailure(), noConditions);
}

TEST(PropagationConditionsClient, AbortsAnOversizedDownloadEarly)
{
    Service service;
    FakeHTTPServer::Response endless;
    endless.streamedBodyBytes = 256LL * 1024 * 1024;
    service.server.setResponse(endless);

    EXPECT_EQ(service.fetchFailure(), oversized);
    ASSERT_TRUE(waitUntil([&] { return service.server.closedConnections() == 1; }));
    EXPECT_LT(service.server.bodyBytesSent(), endless.streamedBodyBytes / 8);
}

TEST(PropagationConditionsClient, AcceptsExactly256000BytesAndNotOneMore)
{
    Service service;
    QByteArray body = report(oneBand);
    body += QByteArray(256000 - body.size(), ' ');
    service.serve(200, "OK", body);
    EXPECT_EQ(service.fetch().bands.first().day, R::Good);

    service.serve(200, "OK", body + ' ');
    EXPECT_EQ(service.fetchFailure(), oversized);
}

TEST(PropagationConditionsClient, ReportsAResponseThatIsNotHTTPAsUnavailable)
{
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    QFile file(directory.filePath(QStringLiteral("solarxml.xml")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(sampleReport());
    file.close();

    QNetworkAccessManager session;
    PropagationConditionsClient client(&session, QUrl::fromLocalFile(file.fileName()));
    EXPECT_EQ(failureOf([&] { runTask(client.fetch(), 5s); }), unavailable);
}

TEST(PropagationConditionsClient, PassesTransportFailuresThrough)
{
    quint16 closedPort = 0;
    {
        FakeHTTPServer probe;
        ASSERT_TRUE(probe.listen());
        closedPort = quint16(probe.url("/").port());
    }
    QNetworkAccessManager session;
    PropagationConditionsClient client(&session, QUrl(QStringLiteral("http://127.0.0.1:%1/solarxml.php").arg(closedPort)));
    const QString message = failureOf([&] { runTask(client.fetch(), 5s); });
    // The transport's own words, none of the service's sentences.
    EXPECT_TRUE(message.contains(QStringLiteral("refused"), Qt::CaseInsensitive)) << message.toStdString();
}
