#include "KivoCore/support/Redaction.h"

#include <QRegularExpression>

namespace kivo {

namespace {

// "refresh_token", "X-Api-Key", "client_secret" and the like; "handle" is
// not a secret, so a SmartLink "wan validate handle=" stays readable.
const QString secretName =
    QStringLiteral("[\\w.-]*(?:token|password|passwd|secret|api[_-]?key|credential|authorization)[\\w.-]*");

// Each keeps its first group and loses the rest of its match.
const QList<QRegularExpression> &secretPatterns()
{
    constexpr auto caseless = QRegularExpression::CaseInsensitiveOption;
    static const QList<QRegularExpression> patterns{
        // "password": "…" in a JSON body or stream message.
        QRegularExpression(QString::fromLatin1(R"re(("%1"\s*:\s*")(?:[^"\\]|\\.)*(?="))re").arg(secretName), caseless),
        // token=… in a query, a form body or a broker line.
        QRegularExpression(QString::fromLatin1(R"re((\b%1=)(?:"[^"]*"|'[^']*'|[^\s&;|,"']+))re").arg(secretName),
                           caseless),
        QRegularExpression(QStringLiteral("(\\bauthorization\\s*:\\s*)[^\\r\\n]+"), caseless),
    };
    return patterns;
}

} // namespace

QString redactedSecrets(QString text)
{
    for (const QRegularExpression &pattern : secretPatterns())
        text.replace(pattern, QStringLiteral("\\1<redacted>"));
    return text;
}

} // namespace kivo
