#include "KivoCore/flex/LegacyKIVOReading.h"

#include "KivoCore/radio/CATCommandProcessor.h"

namespace kivo::companion {

using Kind = TransmitterLedger::Kind;
using Outcome = TransmitterLedger::Outcome;

// Only Kenwood's whole layout is read: a shorter answer may hold anything
// where the transmit flag belongs.
std::optional<bool> transmitFlag(QStringView answer)
{
    if (!answer.startsWith(u"IF") || answer.size() != CATCommandProcessor::informationLength)
        return std::nullopt;
    const QChar flag = answer.at(CATCommandProcessor::informationTransmitFlag);
    if (flag != u'0' && flag != u'1')
        return std::nullopt;
    return flag == u'1';
}

Ending ending(Kind kind, const Reply &reply)
{
    if (reply.refused)
        return {Outcome::Refused,
                kind == Kind::Unkey ? QStringLiteral("KIVO refused the unkey.") : QStringLiteral("KIVO refused the CW clear.")};
    if (!reply.informed)
        return {Outcome::NoAnswer, QStringLiteral("KIVO did not answer after the command.")};
    if (kind != Kind::Unkey)
        return {};
    if (!reply.keyed)
        return {Outcome::NoAnswer, QStringLiteral("KIVO did not say whether the transmitter is keyed.")};
    if (*reply.keyed)
        return {Outcome::Refused, QStringLiteral("KIVO still reports the transmitter keyed.")};
    return {};
}

} // namespace kivo::companion
