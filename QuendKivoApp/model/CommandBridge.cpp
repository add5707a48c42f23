#include "QuendKivoApp/model/CommandBridge.h"

#include "KivoCore/radio/CATCommandProcessor.h"
#include "KivoCore/radio/RigCtlCommandProcessor.h"

namespace kivo {

namespace {

// The radio is held for as long as the undoing takes. Clients cut off by
// the servers' own stop are left to the backend's stop, which makes safe once.
QCoro::Task<void> undoActivity(std::shared_ptr<RadioControlling> radio, std::shared_ptr<const bool> stopping,
                               ClientActivity activity)
{
    if (!*stopping)
        co_await radio->makeSafe(activity);
}

} // namespace

CommandBridge::CommandBridge(std::shared_ptr<RadioControlling> radio, LogHandler log, QObject *parent)
    : QObject(parent), m_radio(std::move(radio)), m_log(std::move(log))
{
}

CommandBridge::~CommandBridge()
{
    stop();
}

void CommandBridge::start(const AppConfiguration &configuration)
{
    if (m_running)
        return;
    m_cat = std::make_shared<CATCommandProcessor>(m_radio, configuration.allowCATTransmit);
    m_rigCtl = std::make_shared<RigCtlCommandProcessor>(m_radio, configuration.allowCATTransmit);

    auto radio = m_radio;
    *m_stopping = false;
    auto onDisconnect = [radio, stopping = std::shared_ptr<const bool>(m_stopping)](ClientActivity activity) {
        return undoActivity(radio, stopping, activity);
    };
    auto logWith = [this](const QString &prefix) {
        return [this, prefix](const QString &event) {
            if (m_log)
                m_log(prefix + event);
        };
    };
    auto cat = m_cat;
    m_catServer = std::make_unique<TCPCommandServer>(TCPCommandServer::Options{
        .category = &lcCat(),
        .framing = TCPCommandServer::Framing::Semicolon,
        .handler =
            [cat](QString request, std::shared_ptr<ClientActivity> activity) {
                return cat->handle(std::move(request), std::move(activity));
            },
        .onDisconnect = onDisconnect,
        .onEvent = logWith(QStringLiteral("CAT: "))});
    auto rigCtl = m_rigCtl;
    m_rigCtlServer = std::make_unique<TCPCommandServer>(TCPCommandServer::Options{
        .category = &lcRigctl(),
        .framing = TCPCommandServer::Framing::Newline,
        .handler =
            [rigCtl](QString line, std::shared_ptr<ClientActivity> activity) -> QCoro::Task<std::optional<QString>> {
                co_return co_await rigCtl->handle(line, activity);
            },
        .onDisconnect = onDisconnect,
        .onEvent = logWith(QStringLiteral("RigCtlD: "))});
    try {
        m_catServer->start(configuration.catPort);
        m_rigCtlServer->start(configuration.rigCtlPort);
    } catch (...) {
        stop();
        throw;
    }
    m_running = true;
}

void CommandBridge::stop()
{
    *m_stopping = true;
    if (m_catServer)
        m_catServer->stop();
    if (m_rigCtlServer)
        m_rigCtlServer->stop();
    m_running = false;
}

quint16 CommandBridge::catPort() const
{
    return m_catServer ? m_catServer->serverPort() : 0;
}

quint16 CommandBridge::rigCtlPort() const
{
    return m_rigCtlServer ? m_rigCtlServer->serverPort() : 0;
}

QString CommandBridge::listenerAt(const QHostAddress &address, quint16 port) const
{
    if (m_catServer && m_catServer->listensAt(address, port))
        return QStringLiteral("CAT");
    if (m_rigCtlServer && m_rigCtlServer->listensAt(address, port))
        return QStringLiteral("rigctld");
    return {};
}

} // namespace kivo
