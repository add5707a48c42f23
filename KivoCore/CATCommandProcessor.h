#pragma once

#include "KivoCore/RadioControlling.h"

#include <memory>
#include <optional>

namespace kivo {

// Answers the Kenwood CAT subset that logging programs use, one command at
// a time (without its ";"), through whichever backend it is given. A set
// that succeeds answers nothing; every failure answers "?;" and no backend
// error text ever reaches the client.
//
// One processor serves every client of a CAT server; the server keeps it
// alive (through a shared_ptr) while a request is being handled.
class CATCommandProcessor {
public:
    CATCommandProcessor(std::shared_ptr<RadioControlling> radio, bool allowTransmit);

    // Never throws. No answer means nothing is sent back.
    QCoro::Task<std::optional<QString>> handle(QString command);

    bool allowTransmit() const { return m_allowTransmit; }

private:
    using Answer = std::optional<QString>;

    QCoro::Task<Answer> answer(QString request, RadioSnapshot snapshot);
    QCoro::Task<Answer> answerSet(QString request, QString command, RadioSnapshot snapshot);

    Answer setAutoInformation(const QString &argument);
    QCoro::Task<Answer> setFrequency(QString argument);
    QCoro::Task<Answer> setSecondaryFrequency(QString argument);
    QCoro::Task<Answer> setMode(QString argument);
    QCoro::Task<Answer> setCWSpeed(QString argument);
    QCoro::Task<Answer> setReceiveVFO(QString argument);
    QCoro::Task<Answer> setTransmitVFO(QString argument);
    QCoro::Task<Answer> handleCW(QString argument);
    QCoro::Task<Answer> setRIT(QString argument, RadioSnapshot snapshot);
    QCoro::Task<Answer> setXIT(QString argument, RadioSnapshot snapshot);
    QCoro::Task<Answer> setRFPower(QString argument);

    static int kenwoodMode(const QString &mode);
    static std::optional<QString> flexMode(const QString &kenwoodCode);
    static QString informationResponse(const RadioSnapshot &snapshot, int transmitVFO);

    std::shared_ptr<RadioControlling> m_radio;
    bool m_allowTransmit;
    int m_autoInformation = 0;
};

} // namespace kivo
