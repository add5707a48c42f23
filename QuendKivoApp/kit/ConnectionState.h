#pragma once

// The connection flags as the header and the Status tab show them.

#include "QuendKivoApp/kit/Palette.h"

#include <QString>

namespace kivo {

struct ConnectionPresentation {
    QString label;
    PlatformColor color;
    QString symbol;

    // The label's colour as text on the palette's window.
    QColor textColor(const QPalette &palette) const;

    bool operator==(const ConnectionPresentation &) const = default;
};

ConnectionPresentation connectionPresentation(bool isRadioConnected, bool kindIsRemoteAgent,
                                              bool isRemoteAgentConnected, bool isRunning);

} // namespace kivo
