#include "KivoCore/support/KivoError.h"

namespace kivo {

namespace {
QString fixedText(KivoError::Kind kind, const QString &message)
{
    switch (kind) {
    case KivoError::Kind::Server:
        return message;
    case KivoError::Kind::InvalidFrequency:
        return QStringLiteral("The frequency is invalid.");
    case KivoError::Kind::InvalidMode:
        return QStringLiteral("The radio mode is invalid.");
    case KivoError::Kind::NotConnected:
        return QStringLiteral("The radio is not connected.");
    case KivoError::Kind::Unsupported:
        return QStringLiteral("This operation is not supported by the selected radio connection.");
    }
    return message;
}
} // namespace

KivoError::KivoError(Kind kind, const QString &message)
    : m_kind(kind), m_message(fixedText(kind, message)), m_what(m_message.toUtf8())
{
}

QString KivoError::message() const
{
    return m_message;
}

QString describeException(std::exception_ptr error)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const KivoError &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("An unknown error occurred.");
    }
}

} // namespace kivo
