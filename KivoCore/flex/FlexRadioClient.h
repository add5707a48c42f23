#pragma once

// The backend for one FlexRadio on the local network (or any address given
// directly): one FLEX API session, opened again after each failure.

#include "KivoCore/flex/FlexRadioSession.h"

namespace kivo {

// What a FlexRadioClient connects to and how.
struct FlexRadioClientOptions {
    QString host{};
    quint16 port = 0;
    QString stationName{};
    QString sliceLetter{};
    bool useTLS = false;
    std::optional<QString> wanValidationHandle{};
    std::optional<QString> certificateIdentity{};
    SmartLinkCertificatePinStore pinStore{};
    FlexRadioTiming timing{};
    // Uniform in [0, 1]: the share of the back-off's random extra.
    std::function<double()> random{};
};

class FlexRadioClient : public FlexRadioSession {
    Q_OBJECT

public:
    using Options = FlexRadioClientOptions;

    // Starts nothing.
    FlexRadioClient(Options options, StateHandler onState, SnapshotHandler onSnapshot, QObject *parent = nullptr);

protected:
    void openTransport(qint64 attempt) override;

private:
    const FlexRadioEndpoint m_endpoint;
};

} // namespace kivo
