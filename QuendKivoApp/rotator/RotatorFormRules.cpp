#include "QuendKivoApp/rotator/RotatorFormRules.h"

#include "KivoCore/station/Rotator.h"
#include "KivoCore/station/RotatorGeometry.h"
#include "QuendKivoApp/kit/NumberField.h"

#include <cmath>

namespace kivo::RotatorFormRules {

using State = DCU1RotatorClient::State;

std::optional<qint64> parsedNumber(const QString &text, Range range)
{
    return NumberField::parse(text, range.minimum, range.maximum, range.clamped);
}

bool offersConnect(State state)
{
    return state == State::Stopped || state == State::Failed;
}

EntryRowEnables entryRowEnables(std::optional<double> targetBearing, State state)
{
    const bool connected = state == State::Connected;
    return {targetBearing.has_value() && connected, targetBearing.has_value(), connected};
}

bool homeGridIsValid(const QString &homeGrid)
{
    return MaidenheadLocator::coordinate(homeGrid).has_value();
}

QString wholeDegrees(double bearing)
{
    return QString::number(std::llround(bearing)) + QStringLiteral("°");
}

QList<QStringList> bandColumns()
{
    const QStringList &bands = RotatorConfiguration::supportedBands();
    return {bands.mid(0, 8), bands.mid(8)};
}

} // namespace kivo::RotatorFormRules
