#pragma once

#include "KivoCore/radio/ClientActivity.h"
#include "KivoCore/radio/RadioControlling.h"

#include <memory>

namespace kivo {

// Answers the small rigctld subset that logging and digital-mode programs
// use for frequency, mode and PTT, one line at a time (without its line
// feed). Every line gets an answer ending in "\n": values for reads,
// "RPRT 0" for a set carried out, "RPRT -1" for one that failed and
// "RPRT -4" for anything it does not know.
//
// The server keeps the processor alive (through a shared_ptr) while a line
// is being handled.
class RigCtlCommandProcessor {
public:
    RigCtlCommandProcessor(std::shared_ptr<RadioControlling> radio, bool allowTransmit);

    // Never throws; never answers with an empty text.
    // `activity`, when given, records whether this client keyed.
    QCoro::Task<QString> handle(QString line, std::shared_ptr<ClientActivity> activity = {});

private:
    QCoro::Task<QString> answer(QString line, RadioSnapshot snapshot, std::shared_ptr<ClientActivity> activity);

    static QString rigCtlMode(const QString &mode);

    std::shared_ptr<RadioControlling> m_radio;
    bool m_allowTransmit;
};

} // namespace kivo
