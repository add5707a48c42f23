#pragma once

#include <QString>
#include <exception>

namespace kivo {

// The core error of every backend and server. message() is the complete
// sentence shown to the user.
class KivoError : public std::exception {
public:
    enum class Kind { Server, InvalidFrequency, InvalidMode, NotConnected, Unsupported };

    static KivoError server(const QString &message) { return KivoError(Kind::Server, message); }
    // The peer answered and said no: nothing of the request was acted on.
    static KivoError refusal(const QString &message) { return refusal(KivoError(Kind::Server, message)); }
    // The same error, known to have left nothing acted on.
    static KivoError refusal(KivoError error)
    {
        error.m_refused = true;
        return error;
    }
    static KivoError invalidFrequency() { return KivoError(Kind::InvalidFrequency); }
    static KivoError invalidMode() { return KivoError(Kind::InvalidMode); }
    static KivoError notConnected() { return KivoError(Kind::NotConnected); }
    static KivoError unsupported() { return KivoError(Kind::Unsupported); }

    Kind kind() const { return m_kind; }
    bool refused() const { return m_refused; }
    QString message() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    explicit KivoError(Kind kind, const QString &message = {});

    Kind m_kind;
    bool m_refused = false;
    QString m_message;
    QByteArray m_what;
};

// The text of any exception, for logs and status lines.
QString describeException(std::exception_ptr error);

} // namespace kivo
