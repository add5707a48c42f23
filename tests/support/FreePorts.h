#pragma once

#include <QHostAddress>
#include <QUdpSocket>

#include <utility>

namespace kivo::test {

// Two distinct UDP ports of 127.0.0.1 that were free a moment ago.
inline std::pair<quint16, quint16> freeUdpPorts()
{
    QUdpSocket first, second;
    first.bind(QHostAddress::LocalHost, 0);
    second.bind(QHostAddress::LocalHost, 0);
    return {first.localPort(), second.localPort()};
}

} // namespace kivo::test
