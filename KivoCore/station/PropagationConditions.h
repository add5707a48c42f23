#pragma once

// The HF propagation report: its ratings, the reader of the solar-conditions
// XML document and the client that fetches it.

#include <QByteArray>
#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

namespace kivo {

enum class PropagationRating { Good, Fair, Poor, Closed, Unknown };

QString rawValue(PropagationRating rating);
// Exact raw values only.
std::optional<PropagationRating> propagationRatingFromRaw(const QString &raw);
// Rates a report text by the first of "good", "fair", "poor", "closed" it contains.
PropagationRating propagationRatingFromSourceValue(const QString &text);
// The shown text: "GOOD" ... "CLOSED", "--" when unknown.
QString label(PropagationRating rating);

struct HFPropagationBand {
    QString name; // "80–40" (en dash)
    PropagationRating day = PropagationRating::Unknown;
    PropagationRating night = PropagationRating::Unknown;

    const QString &id() const { return name; }
    bool operator==(const HFPropagationBand &) const = default;
};

struct PropagationConditionsSnapshot {
    std::optional<QDateTime> updatedAt;
    std::optional<int> solarFlux;
    std::optional<int> aIndex;
    std::optional<int> kIndex;
    QString xRay = QStringLiteral("--");
    // Always the four band pairs 80–40, 30–20, 17–15, 12–10.
    QList<HFPropagationBand> bands;
    PropagationRating sixMeterEurope = PropagationRating::Unknown;

    // `bands` and a last row "6m" rated sixMeterEurope by day and night.
    QList<HFPropagationBand> displayBands() const;

    bool operator==(const PropagationConditionsSnapshot &) const = default;
};

namespace PropagationConditionsParser {
inline constexpr qsizetype maximumBodyBytes = 256000;

// Throws KivoError for an oversized body, invalid XML or no HF conditions.
PropagationConditionsSnapshot parse(const QByteArray &body);
// "d MMM yyyy HHmm zzz" with English month abbreviations and a UTC zone
// ("GMT" or "UTC"); nothing for any other text.
std::optional<QDateTime> parseUpdateTime(const QString &text);
} // namespace PropagationConditionsParser

class PropagationConditionsClient {
public:
    static constexpr std::chrono::milliseconds requestTimeout{15000};

    // The public report's address.
    static const QUrl &defaultEndpoint();

    explicit PropagationConditionsClient(QNetworkAccessManager *session, QUrl endpoint = defaultEndpoint(),
                                         std::chrono::milliseconds timeout = requestTimeout);

    // Throws KivoError: the service's failures, the parser's, or the
    // transport's own description.
    QCoro::Task<PropagationConditionsSnapshot> fetch() const;

    const QUrl &endpoint() const { return m_endpoint; }

private:
    QPointer<QNetworkAccessManager> m_session;
    QUrl m_endpoint;
    std::chrono::milliseconds m_timeout;
};

} // namespace kivo
