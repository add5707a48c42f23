#include "KivoCore/flex/SmartLinkAuth.h"

#include "KivoCore/support/Async.h"
#include "support/RunTask.h"

#include <gtest/gtest.h>

namespace kivo {
namespace {

using namespace std::chrono_literals;
using test::runTask;

// A keyring that answers a little later, as a real one does, so two
// verifications can overlap.
class SlowSecretStore : public SecretStore {
public:
    QCoro::Task<std::optional<QString>> read(QString service, QString account) override
    {
        co_await sleepFor(5ms);
        co_return co_await inner.read(service, account);
    }
    QCoro::Task<void> write(QString service, QString account, QString secret) override
    {
        co_await sleepFor(5ms);
        co_await inner.write(service, account, secret);
    }
    QCoro::Task<void> remove(QString service, QString account) override
    {
        co_await sleepFor(5ms);
        co_await inner.remove(service, account);
    }

    InMemorySecretStore inner;
};

class SmartLinkPinStoreTest : public ::testing::Test {
protected:
    bool verify(const QString &identity, const QByteArray &certificate)
    {
        return runTask(store.verifyOrTrustFirstUse(identity, certificate));
    }

    std::optional<QString> pin(const QString &identity) const
    {
        const auto key = qMakePair(QStringLiteral("com.tarnvale.QuendKivo.smartlink-certificates"), identity);
        const auto items = secrets->items();
        return items.contains(key) ? std::optional(items.value(key)) : std::nullopt;
    }

    std::shared_ptr<InMemorySecretStore> secrets = std::make_shared<InMemorySecretStore>();
    SmartLinkCertificatePinStore store{secrets};
    const QByteArray first = QByteArrayLiteral("\x30\x82\x01\x0a first radio certificate");
    const QByteArray second = QByteArrayLiteral("\x30\x82\x01\x0a second radio certificate");
};

TEST_F(SmartLinkPinStoreTest, TrustsTheFirstCertificateAndOnlyThatOne)
{
    EXPECT_TRUE(verify(QStringLiteral("1234-5678"), first));
    EXPECT_EQ(pin(QStringLiteral("1234-5678")), SmartLinkCertificatePinStore::fingerprint(first));
    EXPECT_TRUE(verify(QStringLiteral("1234-5678"), first));
    EXPECT_FALSE(verify(QStringLiteral("1234-5678"), second));
    EXPECT_EQ(pin(QStringLiteral("1234-5678")), SmartLinkCertificatePinStore::fingerprint(first));
}

TEST_F(SmartLinkPinStoreTest, RemovingThePinTrustsTheNextCertificate)
{
    EXPECT_TRUE(verify(QStringLiteral("1234-5678"), first));
    runTask(store.remove(QStringLiteral("1234-5678")));
    EXPECT_FALSE(pin(QStringLiteral("1234-5678")));
    EXPECT_TRUE(verify(QStringLiteral("1234-5678"), second));
    EXPECT_EQ(pin(QStringLiteral("1234-5678")), SmartLinkCertificatePinStore::fingerprint(second));
    // Nothing to remove is no error.
    runTask(store.remove(QStringLiteral("no such radio")));
}

TEST_F(SmartLinkPinStoreTest, IdentitiesAreTakenExactly)
{
    EXPECT_TRUE(verify(QStringLiteral("ab-1"), first));
    EXPECT_TRUE(verify(QStringLiteral("AB-1"), second));
    EXPECT_TRUE(verify(QStringLiteral(" ab-1"), second));
    EXPECT_EQ(secrets->items().size(), 3);
}

TEST_F(SmartLinkPinStoreTest, FingerprintsAreLowerCaseSHA256AndComparedExactly)
{
    EXPECT_EQ(SmartLinkCertificatePinStore::fingerprint(QByteArray()),
              QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    EXPECT_TRUE(verify(QStringLiteral("empty"), QByteArray()));

    runTask(secrets->write(SmartLinkCertificatePinStore::service(), QStringLiteral("upper"),
                           SmartLinkCertificatePinStore::fingerprint(first).toUpper()));
    EXPECT_FALSE(verify(QStringLiteral("upper"), first));
}

TEST_F(SmartLinkPinStoreTest, AKeyringFailureRejectsAndRemovalReportsIt)
{
    secrets->setFailure(QStringLiteral("the wallet is locked"));
    EXPECT_FALSE(verify(QStringLiteral("1234-5678"), first));
    try {
        runTask(store.remove(QStringLiteral("1234-5678")));
        FAIL() << "removal succeeded";
    } catch (const SmartLinkAuthError &error) {
        EXPECT_EQ(error.kind(), SmartLinkAuthError::Kind::Keychain);
        EXPECT_EQ(error.message(), SecretStoreError("the wallet is locked").message());
    }
    secrets->setFailure(QString());
    EXPECT_TRUE(secrets->items().isEmpty());
}

TEST(SmartLinkPinStoreRaceTest, OnlyOneOfTwoFirstConnectionsIsTrusted)
{
    auto slow = std::make_shared<SlowSecretStore>();
    const SmartLinkCertificatePinStore store(slow);
    auto one = store.verifyOrTrustFirstUse(QStringLiteral("1234-5678"), QByteArrayLiteral("one"));
    auto other = store.verifyOrTrustFirstUse(QStringLiteral("1234-5678"), QByteArrayLiteral("other"));
    const bool oneTrusted = runTask(std::move(one));
    const bool otherTrusted = runTask(std::move(other));
    EXPECT_NE(oneTrusted, otherTrusted);
    const QString pinned = slow->inner.items().value({SmartLinkCertificatePinStore::service(), QStringLiteral("1234-5678")});
    EXPECT_EQ(pinned, SmartLinkCertificatePinStore::fingerprint(oneTrusted ? "one" : "other"));
}

} // namespace
} // namespace kivo
