// Rotator control of the application model: connection, targets and turning.

#include "QuendKivoApp/model/AppModel.h"

#include "KivoCore/support/KivoError.h"
#include "KivoCore/station/UDPSpotReceiver.h"
#include "KivoCore/support/Async.h"
#include "KivoCore/support/Numbers.h"
#include "KivoCore/support/Text.h"
#include "QuendKivoApp/model/RotatorTarget.h"

#include <QDir>
#include <QTimer>

#include <cmath>
#include <utility>

namespace kivo {

using RotatorGeometry::normalized;
using RotatorGeometry::shortestDifference;

void AppModel::startRotatorIfNeeded()
{
    const RotatorConfiguration &rotator = m_configuration.rotator;
    if (rotator.enabled && rotator.connectAtLaunch)
        startRotator();
}

void AppModel::startRotator()
{
    // A client that failed to start is as good as none: Connect starts afresh.
    if (m_rotatorClient && m_rotatorConnectionState == DCU1RotatorClient::State::Failed)
        stopRotator();
    if (m_rotatorClient)
        return;
    const RotatorConfiguration &rotator = m_configuration.rotator;
    if (!rotator.enabled) {
        setStoppedRotatorStatus(QStringLiteral("Disabled in Rotator settings"));
        return;
    }
    const QString host = trimmed(rotator.host);
    if (host.isEmpty()) {
        assign(m_rotatorConnectionState, DCU1RotatorClient::State::Failed, &AppModel::rotatorConnectionStateChanged);
        setStoppedRotatorStatus(QStringLiteral("Enter the rotator TCP host"));
        return;
    }
    const quint64 link = ++m_rotatorGeneration;
    auto onState = [this, link](DCU1RotatorClient::State state, const QString &text) {
        if (link != m_rotatorGeneration)
            return;
        assign(m_rotatorConnectionState, state, &AppModel::rotatorConnectionStateChanged);
        assign(m_rotatorStatus, text, &AppModel::rotatorStatusChanged);
        if (state != DCU1RotatorClient::State::Connected)
            assign(m_rotatorIsMoving, false, &AppModel::rotatorIsMovingChanged);
    };
    auto onAzimuth = [this, link](double azimuth) {
        if (link == m_rotatorGeneration)
            applyRotatorAzimuth(azimuth);
    };
    auto onEvent = [this, link](const QString &line) {
        if (link == m_rotatorGeneration)
            record(QStringLiteral("Rotator: ") + line);
    };
    // A new host or port may name the same controller: this client stops it first.
    const bool leftTurning = std::exchange(m_rotatorLeftTurning, false);
    m_rotatorClient = std::make_unique<DCU1RotatorClient>(
        DCU1RotatorClient::Options{.host = host,
                                   .port = rotator.port,
                                   .pollMilliseconds = rotator.pollIntervalMilliseconds,
                                   .timing = m_dependencies.rotatorTiming,
                                   .rotationUnderWay = leftTurning},
        onState, onAzimuth, onEvent);
    startRotatorFeed();
    m_rotatorClient->start();
    record(QStringLiteral("Rotator: connecting to ") + host + QLatin1Char(':') + QString::number(rotator.port));
}

void AppModel::stopRotator()
{
    ++m_rotatorGeneration;
    stopRotatorFeed();
    if (m_rotatorClient) {
        m_rotatorClient->stop();
        m_rotatorLeftTurning = m_rotatorClient->rotationMayBeUnderWay();
    }
    // Said at every stop until a controller got the stop, the one on quitting too.
    if (m_rotatorLeftTurning)
        record(QStringLiteral("Rotator: the link is down: a continuous rotation may still be under way"));
    m_rotatorClient.reset();
    assign(m_rotatorConnectionState, DCU1RotatorClient::State::Stopped, &AppModel::rotatorConnectionStateChanged);
    setStoppedRotatorStatus(QStringLiteral("Disconnected"));
    assign(m_rotatorFeedStatus, QStringLiteral("RUMlog feed stopped"), &AppModel::rotatorFeedStatusChanged);
    endRotatorMotion();
    m_activeRotatorTarget.reset();
}

void AppModel::setStoppedRotatorStatus(const QString &status)
{
    assign(m_rotatorStatus, m_rotatorLeftTurning ? DCU1RotatorClient::withTurningCaution(status) : status,
           &AppModel::rotatorStatusChanged);
}

void AppModel::saveAndReconnectRotator(const QString &settingsProblem)
{
    launch(saveAndReconnectRotatorTask(settingsProblem));
}

QCoro::Task<void> AppModel::saveAndReconnectRotatorTask(QString settingsProblem)
{
    if (!co_await saveAskedBy(settingsProblem, {&AppModel::m_rotatorStatus, &AppModel::rotatorStatusChanged,
                                                   &AppModel::m_rotatorSaveFailure, &AppModel::rotatorSaveFailureChanged}))
        co_return;
    stopRotator();
    if (m_configuration.rotator.enabled)
        startRotator();
}

void AppModel::endRotatorMotion()
{
    assign(m_rotatorIsMoving, false, &AppModel::rotatorIsMovingChanged);
    assign(m_rotatorMotionDirection, QString(), &AppModel::rotatorMotionDirectionChanged);
}

void AppModel::noteRotatorMotion(const QString &direction)
{
    assign(m_rotatorIsMoving, true, &AppModel::rotatorIsMovingChanged);
    m_lastRotatorMovementAt = m_dependencies.monotonic();
    assign(m_rotatorMotionDirection, direction, &AppModel::rotatorMotionDirectionChanged);
}

void AppModel::applyRotatorAzimuth(double reported)
{
    const double azimuth = normalized(reported);
    if (m_lastRotatorAzimuth) {
        const double change = shortestDifference(*m_lastRotatorAzimuth, azimuth);
        if (std::abs(change) >= 0.2)
            noteRotatorMotion(change >= 0 ? QStringLiteral("CW") : QStringLiteral("CCW"));
    }
    m_lastRotatorAzimuth = azimuth;
    assign(m_rotatorAzimuth, std::optional(azimuth), &AppModel::rotatorAzimuthChanged);
    if (m_activeRotatorTarget && m_rotatorIsMoving) {
        const double target = normalized(*m_activeRotatorTarget);
        const QString text = std::abs(shortestDifference(azimuth, target)) <= 1.0
                                 ? QStringLiteral("Settling at ") + formattedBearing(target)
                                 : turningStatus(azimuth, *m_activeRotatorTarget);
        assign(m_rotatorStatus, text, &AppModel::rotatorStatusChanged);
    }
    if (m_rotatorIsMoving)
        scheduleRotatorIdleCheck();
}

void AppModel::scheduleRotatorIdleCheck()
{
    const auto movedAt = m_lastRotatorMovementAt;
    QTimer::singleShot(m_dependencies.rotatorIdleCheckDelay, this, [this, movedAt] {
        if (m_lastRotatorMovementAt != movedAt)
            return;
        if (m_activeRotatorTarget && m_rotatorAzimuth) {
            const double azimuth = *m_rotatorAzimuth;
            if (std::abs(shortestDifference(azimuth, *m_activeRotatorTarget)) <= 2.0) {
                assign(m_rotatorStatus, QStringLiteral("At target ") + formattedBearing(azimuth),
                       &AppModel::rotatorStatusChanged);
                m_activeRotatorTarget.reset();
            } else {
                assign(m_rotatorStatus,
                       QStringLiteral("Holding at ") + formattedBearing(azimuth) + QStringLiteral(" \u00B7 target ") +
                           formattedBearing(*m_activeRotatorTarget),
                       &AppModel::rotatorStatusChanged);
            }
        }
        endRotatorMotion();
    });
}

void AppModel::setRotatorTarget(std::optional<double> bearing, const QString &label, const QString &source)
{
    assign(m_rotatorTargetBearing, bearing, &AppModel::rotatorTargetBearingChanged);
    assign(m_rotatorTargetLabel, label, &AppModel::rotatorTargetLabelChanged);
    assign(m_rotatorTargetSource, source, &AppModel::rotatorTargetSourceChanged);
}

void AppModel::setRotatorTargetPlace(std::optional<GeoCoordinate> coordinate, std::optional<double> distance)
{
    assign(m_rotatorTargetCoordinate, coordinate, &AppModel::rotatorTargetCoordinateChanged);
    assign(m_rotatorTargetDistanceKilometers, distance, &AppModel::rotatorTargetDistanceKilometersChanged);
}

std::optional<GeoCoordinate> AppModel::rotatorMapPoint(double bearing) const
{
    const std::optional<GeoCoordinate> home = homePoint(m_configuration.rotator.homeGrid);
    if (!home)
        return std::nullopt;
    return RotatorGeometry::destination(*home, bearing, rotatorMapPointKilometers);
}

void AppModel::resolveRotatorTarget()
{
    const RotatorConfiguration &rotator = m_configuration.rotator;
    const QString home = m_dependencies.homeDirectory.isEmpty() ? QDir::homePath() : m_dependencies.homeDirectory;
    const RotatorTargetResolution target =
        kivo::resolveRotatorTarget(m_rotatorTargetInput, rotator.homeGrid, readCallGridFile(rotator.callsignDatabasePath, home));
    using Kind = RotatorTargetResolution::Kind;
    if (target.kind == Kind::Empty) {
        assign(m_rotatorTargetSource, target.source, &AppModel::rotatorTargetSourceChanged);
        return;
    }
    setRotatorTarget(target.bearing, target.label, target.source);
    setRotatorTargetPlace(target.coordinate, target.distanceKilometers);
    if (target.takesCurrentBand())
        assign(m_rotatorTargetBand, currentBand(), &AppModel::rotatorTargetBandChanged);
}

void AppModel::turnRotatorToTarget()
{
    if (!m_rotatorClient || !m_rotatorTargetBearing) {
        assign(m_rotatorStatus, QStringLiteral("Resolve a target and connect first"), &AppModel::rotatorStatusChanged);
        return;
    }
    const double bearing = *m_rotatorTargetBearing;
    launch(rotatorCommand(RotatorCommand::Turn, m_rotatorClient->turn(bearing), m_rotatorGeneration, bearing));
}

void AppModel::turnRotatorFromCompass(double clicked)
{
    const double bearing = normalized(clicked);
    setRotatorTarget(bearing, QStringLiteral("Manual"), QStringLiteral("Compass bearing"));
    assign(m_rotatorTargetBand, currentBand(), &AppModel::rotatorTargetBandChanged);
    setRotatorTargetPlace(rotatorMapPoint(bearing), std::nullopt);
    setRotatorTargetInput(formatFixed(bearing, 0));
    turnRotatorToTarget();
}

void AppModel::toggleRotatorPath()
{
    if (!m_rotatorTargetBearing)
        return;
    const double bearing = normalized(*m_rotatorTargetBearing + 180);
    assign(m_rotatorTargetBearing, std::optional(bearing), &AppModel::rotatorTargetBearingChanged);
    const QString suffix = QStringLiteral(" \u00B7 long path");
    QString source = m_rotatorTargetSource;
    if (source.contains(QLatin1String("long path"), Qt::CaseInsensitive))
        source.remove(suffix, Qt::CaseInsensitive);
    else
        source += suffix;
    assign(m_rotatorTargetSource, source, &AppModel::rotatorTargetSourceChanged);
    if (const auto point = rotatorMapPoint(bearing))
        assign(m_rotatorTargetCoordinate, point, &AppModel::rotatorTargetCoordinateChanged);
}

void AppModel::rotateRotator(bool clockwise)
{
    if (!m_rotatorClient)
        return;
    launch(rotatorCommand(clockwise ? RotatorCommand::Clockwise : RotatorCommand::CounterClockwise,
                          m_rotatorClient->rotate(clockwise), m_rotatorGeneration, 0));
}

void AppModel::stopRotatorMotion()
{
    if (!m_rotatorClient)
        return;
    launch(rotatorCommand(RotatorCommand::Stop, m_rotatorClient->stopRotation(), m_rotatorGeneration, 0));
}

QCoro::Task<void> AppModel::rotatorCommand(RotatorCommand command, QCoro::Task<void> sent, quint64 link,
                                           double bearing)
{
    QPointer<AppModel> self(this);
    std::optional<QString> failure;
    try {
        co_await std::move(sent);
    } catch (...) {
        failure = describeException(std::current_exception());
    }
    // The result of a client that has been stopped or replaced changes nothing.
    if (!self || link != m_rotatorGeneration)
        co_return;
    const auto status = [this](const QString &text) { assign(m_rotatorStatus, text, &AppModel::rotatorStatusChanged); };
    switch (command) {
    case RotatorCommand::Turn:
        if (failure) {
            status(QStringLiteral("Turn failed: ") + *failure);
            record(QStringLiteral("Rotator: turn failed \u2014 ") + *failure);
            co_return;
        }
        m_activeRotatorTarget = bearing;
        noteRotatorMotion(motionDirection(m_rotatorAzimuth, bearing));
        status(turningStatus(m_rotatorAzimuth, bearing));
        scheduleRotatorIdleCheck();
        record(QStringLiteral("Rotator: turn to ") + QString::number(roundedToInt64(bearing).value_or(0)) +
               QStringLiteral("\u00B0"));
        break;
    case RotatorCommand::Clockwise:
    case RotatorCommand::CounterClockwise: {
        const bool clockwise = command == RotatorCommand::Clockwise;
        if (failure) {
            status(QStringLiteral("Rotate failed: ") + *failure);
            co_return;
        }
        m_activeRotatorTarget.reset();
        noteRotatorMotion(clockwise ? QStringLiteral("CW") : QStringLiteral("CCW"));
        status(clockwise ? QStringLiteral("Rotating clockwise") : QStringLiteral("Rotating counter-clockwise"));
        scheduleRotatorIdleCheck();
        record(clockwise ? QStringLiteral("Rotator: clockwise") : QStringLiteral("Rotator: counter-clockwise"));
        break;
    }
    case RotatorCommand::Stop:
        if (failure) {
            status(QStringLiteral("Stop failed: ") + *failure);
            co_return;
        }
        endRotatorMotion();
        m_activeRotatorTarget.reset();
        status(QStringLiteral("Stop command sent"));
        record(QStringLiteral("Rotator: stop"));
        break;
    }
}

} // namespace kivo
