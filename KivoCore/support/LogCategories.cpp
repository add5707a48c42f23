#include "KivoCore/support/LogCategories.h"

namespace kivo {

// Info and above by default, so a trace costs nothing until it is asked for.
Q_LOGGING_CATEGORY(lcCat, "com.tarnvale.QuendKivo.cat", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRigctl, "com.tarnvale.QuendKivo.rigctl", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRadio, "com.tarnvale.QuendKivo.radio", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLegacyKivo, "com.tarnvale.QuendKivo.legacy-kivo", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSmartLinkBroker, "com.tarnvale.QuendKivo.smartlink-broker", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRemoteAgent, "com.tarnvale.QuendKivo.remote-agent", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRotator, "com.tarnvale.QuendKivo.rotator", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRotatorRumlog, "com.tarnvale.QuendKivo.rotator.rumlog", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSpotsLogbook, "com.tarnvale.QuendKivo.spots.logbook", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSpotsContest, "com.tarnvale.QuendKivo.spots.contest", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPropagation, "com.tarnvale.QuendKivo.propagation", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAsync, "com.tarnvale.QuendKivo.async", QtInfoMsg)
Q_LOGGING_CATEGORY(lcGeneral, "com.tarnvale.QuendKivo", QtInfoMsg)

} // namespace kivo
