#include "QuendKivoApp/kit/ConnectionState.h"

namespace kivo {

QColor ConnectionPresentation::textColor(const QPalette &palette) const { return kivo::textColor(color, palette); }

ConnectionPresentation connectionPresentation(bool isRadioConnected, bool kindIsRemoteAgent,
                                              bool isRemoteAgentConnected, bool isRunning)
{
    if (isRadioConnected)
        return {QStringLiteral("Connected"), PlatformColor::Green,
                QStringLiteral("checkmark.circle.fill")};
    if (kindIsRemoteAgent && isRemoteAgentConnected)
        return {QStringLiteral("Agent connected"), PlatformColor::Orange,
                QStringLiteral("exclamationmark.triangle.fill")};
    if (isRunning)
        return {QStringLiteral("Connecting"), PlatformColor::Orange,
                QStringLiteral("arrow.triangle.2.circlepath")};
    return {QStringLiteral("Stopped"), PlatformColor::Secondary, QStringLiteral("stop.circle")};
}

} // namespace kivo
