#include "KivoCore/support/InternetDateTime.h"

namespace kivo {

namespace {
class Cursor {
public:
    explicit Cursor(QStringView text) : m_text(text) {}

    bool atEnd() const { return m_position == m_text.size(); }

    bool literal(char16_t c)
    {
        if (atEnd() || m_text.at(m_position).unicode() != c)
            return false;
        ++m_position;
        return true;
    }

    // Exactly `count` digits whose value lies in minimum...maximum.
    std::optional<int> number(int count, int minimum, int maximum)
    {
        int value = 0;
        for (int i = 0; i < count; ++i) {
            if (atEnd() || !isDigit(m_text.at(m_position).unicode()))
                return std::nullopt;
            value = value * 10 + (m_text.at(m_position).unicode() - u'0');
            ++m_position;
        }
        if (value < minimum || value > maximum)
            return std::nullopt;
        return value;
    }

    // One or more digits; true when any of them is not zero.
    std::optional<bool> fraction()
    {
        const qsizetype start = m_position;
        bool nonZero = false;
        while (!atEnd() && isDigit(m_text.at(m_position).unicode())) {
            nonZero = nonZero || m_text.at(m_position).unicode() != u'0';
            ++m_position;
        }
        if (m_position == start)
            return std::nullopt;
        return nonZero;
    }

private:
    static bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

    QStringView m_text;
    qsizetype m_position = 0;
};

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// "HH:MM" as seconds, for the time of day and the zone offset alike.
std::optional<int> secondsOfHoursAndMinutes(Cursor &cursor)
{
    const auto hours = cursor.number(2, 0, 23);
    if (!hours || !cursor.literal(u':'))
        return std::nullopt;
    const auto minutes = cursor.number(2, 0, 59);
    if (!minutes)
        return std::nullopt;
    return *hours * 3600 + *minutes * 60;
}

// Days from 1970-01-01 to the given proleptic Gregorian date.
qint64 daysFromCivil(qint64 year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const qint64 yearOfEra = year - era * 400;
    const qint64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const qint64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}
} // namespace

std::optional<qint64> unixSecondsFromInternetDateTime(QStringView text)
{
    Cursor cursor(text);
    const auto year = cursor.number(4, 0, 9999);
    if (!year || !cursor.literal(u'-'))
        return std::nullopt;
    const auto month = cursor.number(2, 1, 12);
    if (!month || !cursor.literal(u'-'))
        return std::nullopt;
    const auto day = cursor.number(2, 1, daysInMonth(*year, *month));
    if (!day || !cursor.literal(u'T'))
        return std::nullopt;
    const auto hoursMinutes = secondsOfHoursAndMinutes(cursor);
    if (!hoursMinutes || !cursor.literal(u':'))
        return std::nullopt;
    const auto second = cursor.number(2, 0, 59);
    if (!second)
        return std::nullopt;

    bool hasFraction = false;
    if (cursor.literal(u'.')) {
        const auto nonZero = cursor.fraction();
        if (!nonZero)
            return std::nullopt;
        hasFraction = *nonZero;
    }

    int offsetSeconds = 0;
    if (!cursor.literal(u'Z')) {
        int sign = 0;
        if (cursor.literal(u'+'))
            sign = 1;
        else if (cursor.literal(u'-'))
            sign = -1;
        else
            return std::nullopt;
        const auto offset = secondsOfHoursAndMinutes(cursor);
        if (!offset)
            return std::nullopt;
        offsetSeconds = sign * *offset;
    }
    if (!cursor.atEnd())
        return std::nullopt;

    qint64 seconds = daysFromCivil(*year, *month, *day) * 86400 + *hoursMinutes + *second - offsetSeconds;
    // The fraction lies between this second and the next: before 1970 that
    // means one second nearer to zero.
    if (hasFraction && seconds < 0)
        ++seconds;
    return seconds;
}

} // namespace kivo
