#pragma once

// Joins one radio backend to the CAT and rigctld servers, as the start and
// stop operations of the application do.

#include "QuendKivoApp/model/AppConfiguration.h"
#include "KivoCore/radio/RadioControlling.h"
#include "KivoCore/radio/TCPCommandServer.h"

#include <QObject>
#include <functional>
#include <memory>

namespace kivo {

class CATCommandProcessor;
class RigCtlCommandProcessor;

class CommandBridge : public QObject {
    Q_OBJECT

public:
    // Each log line carries its source prefix ("CAT: ", "RigCtlD: ").
    using LogHandler = std::function<void(const QString &line)>;

    CommandBridge(std::shared_ptr<RadioControlling> radio, LogHandler log, QObject *parent = nullptr);
    ~CommandBridge() override;

    // Starts the CAT server, then the rigctld server, on the configured
    // ports. On any failure both are stopped again and the error is thrown.
    void start(const AppConfiguration &configuration);
    // Stops both servers; the backend's own stop makes the radio safe.
    void stop();

    bool isRunning() const { return m_running; }
    quint16 catPort() const;
    quint16 rigCtlPort() const;
    // The server a connection to `address`:`port` lands on ("CAT",
    // "rigctld"); empty when it lands on neither.
    QString listenerAt(const QHostAddress &address, quint16 port) const;

private:
    std::shared_ptr<RadioControlling> m_radio;
    LogHandler m_log;
    std::shared_ptr<CATCommandProcessor> m_cat;
    std::shared_ptr<RigCtlCommandProcessor> m_rigCtl;
    std::unique_ptr<TCPCommandServer> m_catServer;
    std::unique_ptr<TCPCommandServer> m_rigCtlServer;
    bool m_running = false;
    // Set while the servers stop: their clients' departures undo nothing.
    std::shared_ptr<bool> m_stopping = std::make_shared<bool>(false);
};

} // namespace kivo
