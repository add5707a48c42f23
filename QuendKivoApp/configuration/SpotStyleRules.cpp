#include "QuendKivoApp/configuration/SpotStyleRules.h"

#include "QuendKivoApp/kit/Palette.h"

#include <algorithm>
#include <cmath>

namespace kivo {

QColor color(const QString &hex)
{
    qsizetype start = 0;
    qsizetype end = hex.size();
    while (start < end && hex.at(start) == u'#')
        ++start;
    while (end > start && hex.at(end - 1) == u'#')
        --end;
    const QString digits = hex.mid(start, end - start);
    // Only hexadecimal digits: a "0x" prefix or a sign must not parse.
    const bool valid = digits.size() == 6 && std::all_of(digits.begin(), digits.end(), [](QChar c) {
        return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
    });
    if (!valid)
        return platformColor(PlatformColor::Blue);
    const uint value = digits.toUInt(nullptr, 16);
    return QColor::fromRgb((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

QString hex(const QColor &color)
{
    if (!color.isValid())
        return QStringLiteral("#0A84FF");
    const QColor rgb = color.toRgb();
    const auto component = [](float value) { return std::clamp(int(std::lround(value * 255.0)), 0, 255); };
    return QStringLiteral("#%1%2%3")
        .arg(component(rgb.redF()), 2, 16, QLatin1Char('0'))
        .arg(component(rgb.greenF()), 2, 16, QLatin1Char('0'))
        .arg(component(rgb.blueF()), 2, 16, QLatin1Char('0'))
        .toUpper();
}

const QList<LifetimeChoice> &lifetimeChoices()
{
    static const QList<LifetimeChoice> choices = [] {
        QList<LifetimeChoice> list;
        for (const int seconds : {180, 300, 600, 900, 1200, 1800, 3600})
            list.append({seconds, lifetimeLabel(seconds)});
        return list;
    }();
    return choices;
}

QString lifetimeLabel(int seconds)
{
    if (seconds > 3599)
        return QStringLiteral("1 hour");
    const int minutes = int(std::floor(seconds / 60.0));
    return QString::number(minutes) + QStringLiteral(" min");
}

QString counterText(qint64 value) { return QString::number(value); }

QString spotButtonTitle(bool isRunning)
{
    return isRunning ? QStringLiteral("Apply & Restart Listener") : QStringLiteral("Save Spot Settings");
}

} // namespace kivo
