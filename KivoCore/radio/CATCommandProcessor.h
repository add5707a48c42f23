#pragma once

#include "KivoCore/radio/ClientActivity.h"
#include "KivoCore/radio/RadioControlling.h"

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
    // `activity`, when given, records whether this client keyed or sent CW.
    QCoro::Task<std::optional<QString>> handle(QString command, std::shared_ptr<ClientActivity> activity = {});

    // Kenwood's information answer without its ";": "IF" and 35 characters
    // of fields, the transmit flag (P8) the 29th character.
    static constexpr qsizetype informationLength = 37;
    static constexpr qsizetype informationTransmitFlag = 28;

private:
    using Answer = std::optional<QString>;

    QCoro::Task<Answer> answer(QString request, RadioSnapshot snapshot, std::shared_ptr<ClientActivity> activity);
    QCoro::Task<Answer> answerSet(QString request, QString command, RadioSnapshot snapshot,
                                  std::shared_ptr<ClientActivity> activity);

    // Each set helper checks its argument and starts the backend call, or
    // gives nothing when a check fails.
    using BackendCall = std::optional<QCoro::Task<void>>;
    bool setAutoInformation(const QString &argument);
    BackendCall setFrequency(const QString &argument);
    BackendCall setSecondaryFrequency(const QString &argument);
    BackendCall setMode(const QString &argument);
    BackendCall setCWSpeed(const QString &argument);
    BackendCall setReceiveVFO(const QString &argument);
    BackendCall setTransmitVFO(const QString &argument);
    BackendCall handleCW(const QString &argument, const std::shared_ptr<ClientActivity> &activity);
    BackendCall setRIT(const QString &argument, const RadioSnapshot &snapshot);
    BackendCall setXIT(const QString &argument, const RadioSnapshot &snapshot);
    BackendCall setRFPower(const QString &argument);

    static int kenwoodMode(const QString &mode);
    static std::optional<QString> flexMode(const QString &kenwoodCode);
    static QString informationResponse(const RadioSnapshot &snapshot);

    std::shared_ptr<RadioControlling> m_radio;
    bool m_allowTransmit;
    int m_autoInformation = 0;
};

} // namespace kivo
