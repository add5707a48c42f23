#pragma once

// The sanitised FLEX spot record, the argument of every backend's add-spot.

#include <QString>

namespace kivo {

// What FlexSpot::make checks and cleans, by name.
struct FlexSpotFields {
    qint64 frequencyHz = 0;
    QString callsign{};
    QString mode{};
    QString source{};
    QString spotter{};
    QString comment{};
    qint64 timestamp = 0;
    int lifetimeSeconds = 30;
    int priority = 1;
    QString colorHex{};
};

// A spot ready for the radio: only the throwing factory builds one, and it
// guarantees every value is safe to write into a radio's command line.
class FlexSpot {
public:
    // Throws KivoError: invalidFrequency, or "The spot callsign is invalid.".
    static FlexSpot make(const FlexSpotFields &fields);

    qint64 frequencyHz() const { return m_frequencyHz; }
    QString callsign() const { return m_callsign; }
    QString mode() const { return m_mode; }
    QString source() const { return m_source; }
    QString spotter() const { return m_spotter; }
    QString comment() const { return m_comment; }
    qint64 timestamp() const { return m_timestamp; }
    int lifetimeSeconds() const { return m_lifetimeSeconds; }
    int priority() const { return m_priority; }
    QString colorHex() const { return m_colorHex; }

    bool operator==(const FlexSpot &) const = default;

private:
    FlexSpot() = default;

    qint64 m_frequencyHz = 0;
    QString m_callsign;
    QString m_mode;
    QString m_source;
    QString m_spotter;
    QString m_comment;
    qint64 m_timestamp = 0;
    int m_lifetimeSeconds = 30;
    int m_priority = 1;
    QString m_colorHex;
};

} // namespace kivo
