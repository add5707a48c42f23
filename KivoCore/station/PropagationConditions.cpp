#include "KivoCore/station/PropagationConditions.h"
#include "KivoCore/support/RawValue.h"

#include "KivoCore/support/HttpExchange.h"
#include "KivoCore/support/LogCategories.h"
#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"

#include <QHash>
#include <QNetworkRequest>
#include <QTimeZone>
#include <QXmlStreamReader>

#include <array>
#include <limits>

namespace kivo {

namespace {
const QString unavailableText = QStringLiteral("The propagation service is unavailable.");
const QString oversizedText = QStringLiteral("Propagation data exceeded the safe response limit.");
const QString invalidXMLText = QStringLiteral("The propagation service returned invalid XML.");
const QString noConditionsText = QStringLiteral("The propagation service returned no HF conditions.");

struct BandRow {
    const char *reportName;
    QString shownName;
};

const std::array<BandRow, 4> &bandRows()
{
    static const std::array<BandRow, 4> rows{{
        {"80m-40m", QStringLiteral("80\u201340")},
        {"30m-20m", QStringLiteral("30\u201320")},
        {"17m-15m", QStringLiteral("17\u201315")},
        {"12m-10m", QStringLiteral("12\u201310")},
    }};
    return rows;
}

constexpr std::array<PropagationRating, 5> allRatings{PropagationRating::Good, PropagationRating::Fair,
                                                      PropagationRating::Poor, PropagationRating::Closed,
                                                      PropagationRating::Unknown};

// What the report's elements said, gathered the way a flat SAX reader sees
// them: only the element opened last counts, so only leaves carry values.
struct SolarDocument {
    QHash<QString, QString> values;
    QHash<QString, QString> bandConditions;
    QHash<QString, QString> phenomena;
};

SolarDocument readSolarDocument(const QByteArray &body)
{
    SolarDocument document;
    QXmlStreamReader reader(body);
    reader.setNamespaceProcessing(false);
    QHash<QString, QString> currentAttributes;
    QString currentText;

    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            currentAttributes.clear();
            for (const auto &attribute : reader.attributes())
                currentAttributes.insert(attribute.qualifiedName().toString().toLower(),
                                         attribute.value().toString().toLower());
            currentText.clear();
            break;
        case QXmlStreamReader::Characters:
            if (!reader.isCDATA())
                currentText.append(reader.text());
            break;
        case QXmlStreamReader::EndElement: {
            const QString name = reader.qualifiedName().toString().toLower();
            const QString text = trimmed(currentText);
            const auto attribute = [&](const char *key) { return currentAttributes.value(QLatin1String(key)); };
            const auto has = [&](const char *key) { return currentAttributes.contains(QLatin1String(key)); };
            if (name == QLatin1String("band") && has("name") && has("time"))
                document.bandConditions.insert(attribute("name") + QLatin1Char('|') + attribute("time"), text);
            else if (name == QLatin1String("phenomenon") && has("name") && has("location"))
                document.phenomena.insert(attribute("name") + QLatin1Char('|') + attribute("location"), text);
            else if (!text.isEmpty())
                document.values.insert(name, text);
            currentAttributes.clear();
            currentText.clear();
            break;
        }
        default:
            break;
        }
    }
    if (reader.hasError())
        throw KivoError::server(invalidXMLText);
    return document;
}

std::optional<int> solarNumber(const QHash<QString, QString> &values, const char *key)
{
    const auto it = values.constFind(QLatin1String(key));
    if (it == values.constEnd())
        return std::nullopt;
    const auto value = parseStrictInteger(QStringView(*it));
    if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(*value);
}

std::optional<int> digitsValue(QStringView text, qsizetype minimum, qsizetype maximum)
{
    if (text.size() < minimum || text.size() > maximum)
        return std::nullopt;
    int value = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

QCoro::Task<PropagationConditionsSnapshot> fetchReport(QPointer<QNetworkAccessManager> session, QUrl endpoint,
                                                       std::chrono::milliseconds timeout)
{
    HttpRequest get;
    get.request = QNetworkRequest(endpoint);
    get.request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::PreferNetwork);
    get.request.setTransferTimeout(static_cast<int>(timeout.count()));
    get.request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Quend-Kivo/0.5"));
    get.maximumBodyBytes = PropagationConditionsParser::maximumBodyBytes;
    get.whenCancelled = unavailableText;
    get.trace = &lcPropagation();

    const HttpAnswer answer = co_await sendHttpRequest(std::move(session), std::move(get));
    if (!answer.status || *answer.status < 200 || *answer.status > 299)
        throw KivoError::server(unavailableText);
    if (answer.exceededLimit)
        throw KivoError::server(oversizedText);
    co_return PropagationConditionsParser::parse(answer.body);
}
} // namespace

QString rawValue(PropagationRating rating)
{
    switch (rating) {
    case PropagationRating::Good:
        return QStringLiteral("good");
    case PropagationRating::Fair:
        return QStringLiteral("fair");
    case PropagationRating::Poor:
        return QStringLiteral("poor");
    case PropagationRating::Closed:
        return QStringLiteral("closed");
    case PropagationRating::Unknown:
        return QStringLiteral("unknown");
    }
    return {};
}

std::optional<PropagationRating> propagationRatingFromRaw(const QString &raw)
{
    return caseFromRaw(allRatings, raw);
}

PropagationRating propagationRatingFromSourceValue(const QString &text)
{
    const QString folded = trimmed(text).toLower();
    // "Fair to good" is good: the better word is looked for first.
    for (auto rating : allRatings) {
        if (rating != PropagationRating::Unknown && folded.contains(rawValue(rating)))
            return rating;
    }
    return PropagationRating::Unknown;
}

QString label(PropagationRating rating)
{
    if (rating == PropagationRating::Unknown)
        return QStringLiteral("--");
    return rawValue(rating).toUpper();
}

QList<HFPropagationBand> PropagationConditionsSnapshot::displayBands() const
{
    QList<HFPropagationBand> rows = bands;
    rows.append(HFPropagationBand{QStringLiteral("6m"), sixMeterEurope, sixMeterEurope});
    return rows;
}

namespace PropagationConditionsParser {

PropagationConditionsSnapshot parse(const QByteArray &body)
{
    if (body.size() > maximumBodyBytes)
        throw KivoError::server(oversizedText);
    const SolarDocument document = readSolarDocument(body);

    PropagationConditionsSnapshot snapshot;
    bool anyKnown = false;
    for (const auto &row : bandRows()) {
        const QString key = QLatin1String(row.reportName) + QLatin1Char('|');
        HFPropagationBand band{row.shownName,
                               propagationRatingFromSourceValue(document.bandConditions.value(key + "day")),
                               propagationRatingFromSourceValue(document.bandConditions.value(key + "night"))};
        anyKnown = anyKnown || band.day != PropagationRating::Unknown || band.night != PropagationRating::Unknown;
        snapshot.bands.append(band);
    }
    if (!anyKnown)
        throw KivoError::server(noConditionsText);

    if (const auto updated = document.values.constFind(QStringLiteral("updated"));
        updated != document.values.constEnd())
        snapshot.updatedAt = parseUpdateTime(*updated);
    snapshot.solarFlux = solarNumber(document.values, "solarflux");
    snapshot.aIndex = solarNumber(document.values, "aindex");
    snapshot.kIndex = solarNumber(document.values, "kindex");
    snapshot.xRay = document.values.value(QStringLiteral("xray"), QStringLiteral("--"));
    snapshot.sixMeterEurope =
        propagationRatingFromSourceValue(document.phenomena.value(QStringLiteral("e-skip|europe_6m")));
    return snapshot;
}

std::optional<QDateTime> parseUpdateTime(const QString &text)
{
    static const std::array<const char *, 12> months{"jan", "feb", "mar", "apr", "may", "jun",
                                                     "jul", "aug", "sep", "oct", "nov", "dec"};
    const QString stripped = trimmed(text);
    const auto fields = QStringView(stripped).split(QLatin1Char(' '));
    if (fields.size() != 5)
        return std::nullopt;

    const auto day = digitsValue(fields[0], 1, 2);
    int month = 0;
    for (int i = 0; i < 12; ++i) {
        if (fields[1].compare(QLatin1String(months[i]), Qt::CaseInsensitive) == 0)
            month = i + 1;
    }
    const auto year = digitsValue(fields[2], 4, 4);
    const auto hours = digitsValue(fields[3].left(2), 2, 2);
    const auto minutes = fields[3].size() == 4 ? digitsValue(fields[3].mid(2), 2, 2) : std::nullopt;
    const bool utc = fields[4] == QLatin1String("GMT") || fields[4] == QLatin1String("UTC");
    if (!day || month == 0 || !year || !hours || !minutes || !utc)
        return std::nullopt;

    const QDate date(*year, month, *day);
    const QTime time(*hours, *minutes);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc());
}

} // namespace PropagationConditionsParser

const QUrl &PropagationConditionsClient::defaultEndpoint()
{
    static const QUrl endpoint(QStringLiteral("https://www.hamqsl.com/solarxml.php"));
    return endpoint;
}

PropagationConditionsClient::PropagationConditionsClient(QNetworkAccessManager *session, QUrl endpoint,
                                                         std::chrono::milliseconds timeout)
    : m_session(session), m_endpoint(std::move(endpoint)), m_timeout(timeout)
{
}

QCoro::Task<PropagationConditionsSnapshot> PropagationConditionsClient::fetch() const
{
    return fetchReport(m_session, m_endpoint, m_timeout);
}

} // namespace kivo
