#pragma once

// Secrets (tokens, certificate pins) kept by service and account. "Not
// found" is never an error: a read gives nothing and a removal succeeds.

#include <QCoroTask>
#include <QHash>
#include <QPair>
#include <QString>
#include <exception>
#include <optional>

namespace kivo {

class SecretStoreError : public std::exception {
public:
    // `detail` is the store's own text; message() is the sentence to show.
    explicit SecretStoreError(const QString &detail);
    QString message() const { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    QByteArray m_what;
};

class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual QCoro::Task<std::optional<QString>> read(QString service, QString account) = 0;
    // Creates the item or replaces its secret.
    virtual QCoro::Task<void> write(QString service, QString account, QString secret) = 0;
    virtual QCoro::Task<void> remove(QString service, QString account) = 0;
};

// For tests and for running without a desktop keyring.
class InMemorySecretStore : public SecretStore {
public:
    QCoro::Task<std::optional<QString>> read(QString service, QString account) override;
    QCoro::Task<void> write(QString service, QString account, QString secret) override;
    QCoro::Task<void> remove(QString service, QString account) override;

    // Every following call fails with this text until cleared with an empty one.
    void setFailure(const QString &detail) { m_failure = detail; }
    QHash<QPair<QString, QString>, QString> items() const { return m_items; }

private:
    void throwIfFailing() const;

    QHash<QPair<QString, QString>, QString> m_items;
    QString m_failure;
};

} // namespace kivo
