#include "KivoCore/support/SecretStore.h"

namespace kivo {

namespace {

// The keyring's own text often says only what failed below it ("Cannot
// autolaunch D-Bus without X11 $DISPLAY"), so the sentence says what to check.
QString keyringMessage(QString detail)
{
    while (detail.endsWith(QLatin1Char('.')))
        detail.chop(1);
    return QStringLiteral("The desktop keyring returned an error: %1. Check that a desktop session runs with a "
                          "Secret Service (such as GNOME Keyring or KWallet) and that the keyring is unlocked.")
        .arg(detail);
}

} // namespace

SecretStoreError::SecretStoreError(const QString &detail)
    : m_message(keyringMessage(detail)), m_what(m_message.toUtf8())
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
