#pragma once

// Every logging category of the core, each named after the component whose
// traffic it carries. Traffic is traced at debug level, which stays off
// unless the operator turns it on, for instance with
// QT_LOGGING_RULES="com.tarnvale.QuendKivo.cat.debug=true".

#include <QLoggingCategory>
#include <QStringView>

namespace kivo {

Q_DECLARE_LOGGING_CATEGORY(lcCat)
Q_DECLARE_LOGGING_CATEGORY(lcRigctl)
Q_DECLARE_LOGGING_CATEGORY(lcRadio)
Q_DECLARE_LOGGING_CATEGORY(lcLegacyKivo)
Q_DECLARE_LOGGING_CATEGORY(lcSmartLinkBroker)
Q_DECLARE_LOGGING_CATEGORY(lcRemoteAgent)
Q_DECLARE_LOGGING_CATEGORY(lcRotator)
Q_DECLARE_LOGGING_CATEGORY(lcRotatorRumlog)
Q_DECLARE_LOGGING_CATEGORY(lcSpotsLogbook)
Q_DECLARE_LOGGING_CATEGORY(lcSpotsContest)
Q_DECLARE_LOGGING_CATEGORY(lcPropagation)
Q_DECLARE_LOGGING_CATEGORY(lcAsync)
// Anything a component labelled otherwise has to say.
Q_DECLARE_LOGGING_CATEGORY(lcGeneral)

} // namespace kivo
