#include "KivoCore/InternetDateTime.h"

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

    std::optional<int> digits(int count)
    {
        int value = 0;
        for (int i = 0; i < count; ++i) {
            if (atEnd() || !isDigit(m_text.at(m_position).unicode()))
                return std::nullopt;
            value = value * 10 + (m_text.at(m_position).unicode() - u'0');
            ++m_position;
        }
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
    const auto year = cursor.digits(4);
    if (!year || !cursor.literal(u'-'))
        return std::nullopt;
    const auto month = cursor.digits(2);
    if (!month || *month < 1 || *month > 12 || !cursor.literal(u'-'))
        return std::nullopt;
    const auto day = cursor.digits(2);
    if (!day || *day < 1 || *day > daysInMonth(*year, *month) || !cursor.literal(u'T'))
        return std::nullopt;
    const auto hour = cursor.digits(2);
    if (!hour || *hour > 23 || !cursor.literal(u':'))
        return std::nullopt;
    const auto minute = cursor.digits(2);
    if (!minute || *minute > 59 || !cursor.literal(u':'))
        return std::nullopt;
    const auto second = cursor.digits(2);
    if (!second || *second > 59)
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
        const auto offsetHours = cursor.digits(2);
        if (!offsetHours || *offsetHours > 23 || !cursor.literal(u':'))
            return std::nullopt;
        const auto offsetMinutes = cursor.digits(2);
        if (!offsetMinutes || *offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = sign * (*offsetHours * 3600 + *offsetMinutes * 60);
    }
    if (!cursor.atEnd())
        return std::nullopt;

    qint64 seconds = daysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second - offsetSeconds;
    // The fraction lies between this second and the next: before 1970 that
    // means one second nearer to zero.
    if (hasFraction && seconds < 0)
        ++seconds;
    return seconds;
}

} // namespace kivo
