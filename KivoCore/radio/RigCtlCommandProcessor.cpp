#include "KivoCore/radio/RigCtlCommandProcessor.h"

#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"

namespace kivo {

namespace {
const QString succeeded = QStringLiteral("RPRT 0\n");
const QString failed = QStringLiteral("RPRT -1\n");
const QString unknownCommand = QStringLiteral("RPRT -4\n");

// Hamlib's packet modes are the radio's digital modes.
QString backendMode(const QString &rigCtlName)
{
    const QString name = upperCased(rigCtlName);
    if (name == QLatin1StringView("PKTUSB"))
        return QStringLiteral("DIGU");
    if (name == QLatin1StringView("PKTLSB"))
        return QStringLiteral("DIGL");
    return name;
}
} // namespace

RigCtlCommandProcessor::RigCtlCommandProcessor(std::shared_ptr<RadioControlling> radio, bool allowTransmit)
    : m_radio(std::move(radio)), m_allowTransmit(allowTransmit)
{
}

QCoro::Task<QString> RigCtlCommandProcessor::handle(QString line, std::shared_ptr<ClientActivity> activity)
{
    if (!activity)
        activity = std::make_shared<ClientActivity>();
    try {
        const RadioSnapshot snapshot = co_await m_radio->snapshot();
        const QString result = co_await answer(trimmed(line), snapshot, activity);
        co_return result;
    } catch (...) {
        // The client only ever learns that the command failed.
    }
    co_return failed;
}

QCoro::Task<QString> RigCtlCommandProcessor::answer(QString line, RadioSnapshot snapshot,
                                                    std::shared_ptr<ClientActivity> activity)
{
    const auto radio = m_radio;

    if (line == QLatin1StringView("f"))
        co_return snapshot.isConnected ? zeroPadded(snapshot.frequencyHz, 1) + QLatin1Char('\n') : failed;
    if (line == QLatin1StringView("m"))
        co_return snapshot.isConnected ? rigCtlMode(snapshot.mode) + QLatin1StringView("\n0\n") : failed;
    if (line == QLatin1StringView("t"))
        co_return snapshot.isTransmitting ? QStringLiteral("1\n") : QStringLiteral("0\n");
    if (line == QLatin1StringView("\\get_info"))
        co_return QStringLiteral("Quend-Kivo\n");

    const QString argument = line.mid(2);
    if (line.startsWith(QLatin1StringView("F "))) {
        const auto hz = parseStrictInteger(argument);
        if (!hz || *hz < 1)
            co_return failed;
        co_await radio->setFrequency(*hz);
        co_return succeeded;
    }
    if (line.startsWith(QLatin1StringView("M "))) {
        // "M <mode> [passband]": the passband is ignored.
        const QStringList pieces = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (pieces.size() < 2)
            co_return unknownCommand;
        co_await radio->setMode(backendMode(pieces.at(1)));
        co_return succeeded;
    }
    if (line.startsWith(QLatin1StringView("T "))) {
        // Hamlib's PTT values: 0 off, 1 on, 2 on from the microphone, 3 on for data.
        static const QStringList values{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                                        QStringLiteral("3")};
        const qsizetype value = values.indexOf(argument);
        if (value < 0)
            co_return failed;
        const bool key = value > 0;
        // Unkeying is never refused.
        if (key && !m_allowTransmit)
            co_return failed;
        // Noted before the call: a key still in flight when the client goes must be undone.
        if (key)
            activity->noteKeyed(radio->nextTransmitNumber());
        radio->clientKeying(activity);
        if (value == 2)
            co_await radio->setTransmit(CATTransmitMode::Microphone);
        else if (value == 3)
            co_await radio->setTransmit(CATTransmitMode::Data);
        else
            co_await radio->setTransmit(key);
        if (!key)
            activity->keyedTransmitter = false;
        co_return succeeded;
    }
    co_return unknownCommand;
}

QString RigCtlCommandProcessor::rigCtlMode(const QString &mode)
{
    const QString name = upperCased(mode);
    if (name == QLatin1StringView("DIGU"))
        return QStringLiteral("PKTUSB");
    if (name == QLatin1StringView("DIGL"))
        return QStringLiteral("PKTLSB");
    if (name == QLatin1StringView("NFM") || name == QLatin1StringView("DFM"))
        return QStringLiteral("FM");
    return name;
}

} // namespace kivo
