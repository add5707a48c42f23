#pragma once

#include "KivoCore/support/SecretStore.h"

namespace kivo {

// Secrets in the desktop keyring (Secret Service or KWallet on Linux, the
// Keychain on macOS) through QtKeychain, one generic password per service
// and account.
class KeychainSecretStore : public SecretStore {
public:
    QCoro::Task<std::optional<QString>> read(QString service, QString account) override;
    QCoro::Task<void> write(QString service, QString account, QString secret) override;
    QCoro::Task<void> remove(QString service, QString account) override;
};

} // namespace kivo
