#include "KivoCore/support/SecretStore.h"

namespace kivo {

SecretStoreError::SecretStoreError(const QString &detail)
    : m_message(QStringLiteral("The keychain returned an error: %1.").arg(detail)), m_what(m_message.toUtf8())
{
}

void InMemorySecretStore::throwIfFailing() const
{
    if (!m_failure.isEmpty())
        throw SecretStoreError(m_failure);
}

QCoro::Task<std::optional<QString>> InMemorySecretStore::read(QString service, QString account)
{
    throwIfFailing();
    const auto it = m_items.constFind({service, account});
    if (it == m_items.constEnd())
        co_return std::nullopt;
    co_return *it;
}

QCoro::Task<void> InMemorySecretStore::write(QString service, QString account, QString secret)
{
    throwIfFailing();
    m_items.insert({service, account}, secret);
    co_return;
}

QCoro::Task<void> InMemorySecretStore::remove(QString service, QString account)
{
    throwIfFailing();
    m_items.remove({service, account});
    co_return;
}

} // namespace kivo
