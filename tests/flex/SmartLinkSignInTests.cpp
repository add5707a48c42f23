#include "KivoCore/support/KivoError.h"
#include "KivoCore/flex/SmartLinkSignIn.h"
#include "fakes/FakeIdentityProvider.h"
#include "support/RunTask.h"
#include "support/ThrownMessage.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::test;
using namespace std::chrono_literals;

namespace {

const QString kGrantType = QStringLiteral("http://idp.test/oauth/grant-type/password-realm");

QString digestOf(const QByteArray &email)
{
    return QString::fromLatin1(QCryptographicHash::hash(email, QCryptographicHash::Sha256).toHex());
}

QPair<QString, QString> item(const QString &account)
{
    return {QStringLiteral("com.tarnvale.QuendKivo.smartlink"), account};
}

class SmartLinkSignIn : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(provider.listen()); }

    SmartLinkIdentityProvider endpoint(std::chrono::milliseconds timeout = test::patience) const
    {
        return {.tokenEndpoint = provider.tokenEndpoint(),
                .passwordRealmGrantType = kGrantType,
                .sslConfiguration = clientConfigurationTrustingTestCA(),
                .requestTimeout = timeout};
    }

    std::unique_ptr<SmartLinkAuthenticator> authenticator(const QString &email = QStringLiteral("ham@example.org"))
    {
        return std::make_unique<SmartLinkAuthenticator>(SmartLinkKeychain(store, email), endpoint());
    }

    FakeIdentityProvider provider;
    std::shared_ptr<InMemorySecretStore> store = std::make_shared<InMemorySecretStore>();
    const QString account = digestOf("ham@example.org");
};

} // namespace

TEST_F(SmartLinkSignIn, PasswordGrantSendsItsSixMembersAndSavesTheRefreshToken)
{
    provider.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-1"), QStringLiteral("refresh-1")));
    auto auth = authenticator(QStringLiteral("  Ham@Example.ORG\n"));

    const SmartLinkTokenSet tokens =
        runTask(auth->authenticate(QStringLiteral(" Ham@Example.ORG \t"), QStringLiteral("  ")));

    EXPECT_EQ(tokens, (SmartLinkTokenSet{QStringLiteral("id-1"), QStringLiteral("refresh-1")}));
    ASSERT_EQ(provider.requests().size(), 1);
    const auto request = provider.requests().constFirst();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/oauth/token");
    EXPECT_EQ(request.headers.value("content-type"), "application/json");
    EXPECT_FALSE(request.body.contains('\n'));
    // The address is trimmed but keeps its case; the password goes as typed.
    EXPECT_EQ(request.json(),
              (QJsonObject{{"grant_type", kGrantType},
                           {"realm", "Username-Password-Authentication"},
                           {"username", "Ham@Example.ORG"},
                           {"password", "  "},
                           {"client_id", "Hq3ZtW8mKp2RvN6xLs9JdB4cFy7GaU1e"},
                           {"scope", "openid email given_name family_name profile picture offline_access"}}));
    // Filed under the digest of the trimmed, lower-cased address.
    EXPECT_EQ(store->items(), (QHash<QPair<QString, QString>, QString>{{item(account), QStringLiteral("refresh-1")}}));
}

TEST_F(SmartLinkSignIn, RefreshUsesTheSavedTokenAndKeepsTheNewestOne)
{
    provider.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-1"), QStringLiteral("refresh-1")));
    provider.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-2"), QStringLiteral("refresh-2")));
    provider.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-3")));
    provider.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-4"), QString()));
    auto auth = authenticator();

    runTask(auth->authenticate(QStringLiteral("ham@example.org"), QStringLiteral("pa55word")));
    EXPECT_EQ(runTask(auth->refresh()), (SmartLinkTokenSet{QStringLiteral("id-2"), QStringLiteral("refresh-2")}));
    // No refresh token in the answer: the saved one stays.
    EXPECT_EQ(runTask(auth->refresh()), (SmartLinkTokenSet{QStringLiteral("id-3"), std::nullopt}));
    // An empty one is passed on but not saved.
    EXPECT_EQ(runTask(auth->refresh()), (SmartLinkTokenSet{QStringLiteral("id-4"), QString()}));

    const auto requests = provider.requests();
    ASSERT_EQ(requests.size(), 4);
    auto refreshBody = [](const QString &token) {
        return QJsonObject{{"grant_type", "refresh_token"},
                           {"refresh_token", token},
                           {"client_id", "Hq3ZtW8mKp2RvN6xLs9JdB4cFy7GaU1e"}};
    };
    EXPECT_EQ(requests[1].json(), refreshBody(QStringLiteral("refresh-1")));
    EXPECT_EQ(requests[2].json(), refreshBody(QStringLiteral("refresh-2")));
    EXPECT_EQ(requests[3].json(), refreshBody(QStringLiteral("refresh-2")));
    EXPECT_EQ(store->items().value(item(account)), QStringLiteral("refresh-2"));
}

TEST_F(SmartLinkSignIn, MissingCredentialsOrSessionAreRefusedWithoutARequest)
{
    auto auth = authenticator();
    const QString required = QStringLiteral("SmartLink email and password are required.");
    EXPECT_EQ(errorOf<SmartLinkAuthError>(auth->authenticate(QStringLiteral(" \n"), QStringLiteral("pw")))->message(), required);
    EXPECT_EQ(errorOf<SmartLinkAuthError>(auth->authenticate(QStringLiteral("ham@example.org"), QString()))->message(), required);

    const auto noSession = errorOf<SmartLinkAuthError>(auth->refresh());
    ASSERT_TRUE(noSession);
    EXPECT_EQ(noSession->kind(), SmartLinkAuthError::Kind::InvalidCredentials);
    EXPECT_EQ(noSession->message(), QStringLiteral("No saved SmartLink session is available. Enter the password once."));
    runTask(store->write(item(account).first, account, QString()));
    EXPECT_EQ(errorOf<SmartLinkAuthError>(auth->refresh())->message(), noSession->message());

    EXPECT_TRUE(provider.requests().isEmpty());
}

TEST_F(SmartLinkSignIn, RefusalsBecomeTheProvidersSentenceAndAreNotRetried)
{
    struct Case {
        FakeIdentityProvider::Response response;
        QString message;
    };
    const QList<Case> cases{
        {FakeIdentityProvider::answer(403, QJsonObject{{"error", "invalid_grant"},
                                                       {"error_description", "Wrong email or password."}}),
         QStringLiteral("Wrong email or password.")},
        {FakeIdentityProvider::answer(401, QJsonObject{{"error", "unauthorized"}}), QStringLiteral("unauthorized")},
        {FakeIdentityProvider::answer(429, QJsonObject{{"error", "too_many_attempts"}, {"error_description", 7}}),
         QStringLiteral("too_many_attempts")},
        {FakeIdentityProvider::answer(400, QByteArray("<html>Bad Request</html>")),
         QStringLiteral("SmartLink authentication failed (HTTP 400).")},
        {FakeIdentityProvider::answer(500, QByteArray("[\"error\"]")),
         QStringLiteral("SmartLink authentication failed (HTTP 500).")},
        {FakeIdentityProvider::answer(403, QJsonObject{{"error_description", ""}}), QString()},
    };
    auto auth = authenticator();
    for (const Case &c : cases) {
        const auto before = provider.requests().size();
        provider.enqueue(c.response);
        const auto error = errorOf<SmartLinkAuthError>(auth->authenticate(QStringLiteral("ham@example.org"), QStringLiteral("pw")));
        ASSERT_TRUE(error) << c.message.toStdString();
        EXPECT_EQ(error->kind(), SmartLinkAuthError::Kind::InvalidCredentials);
        EXPECT_EQ(error->message(), c.message);
        EXPECT_EQ(provider.requests().size(), before + 1);
    }
    EXPECT_TRUE(store->items().isEmpty());
}

TEST_F(SmartLinkSignIn, UnusableGrantsAreInvalidResponsesAndUnreadableOnesAreNot)
{
    const QString invalid = QStringLiteral("SmartLink authentication returned an invalid response.");
    auto auth = authenticator();
    auto signIn = [&] { return auth->authenticate(QStringLiteral("ham@example.org"), QStringLiteral("pw")); };

    provider.enqueue(FakeIdentityProvider::answer(200, QJsonObject{{"refresh_token", "r"}}));
    EXPECT_EQ(errorOf<SmartLinkAuthError>(signIn())->message(), invalid);
    provider.enqueue(FakeIdentityProvider::answer(200, QJsonObject{{"id_token", ""}, {"refresh_token", "r"}}));
    EXPECT_EQ(errorOf<SmartLinkAuthError>(signIn())->kind(), SmartLinkAuthError::Kind::InvalidResponse);
    provider.enqueue(FakeIdentityProvider::answer(200, QJsonObject{{"id_token", 42}}));
    EXPECT_EQ(errorOf<SmartLinkAuthError>(signIn())->message(), invalid);
    provider.enqueue(FakeIdentityProvider::answer(200, QByteArray("[]")));
    EXPECT_EQ(errorOf<SmartLinkAuthError>(signIn())->message(), invalid);
    EXPECT_TRUE(store->items().isEmpty());

    // Not JSON at all: the reader's own error, which a caller may retry.
    provider.enqueue(FakeIdentityProvider::answer(200, QByteArray("id_token=abc")));
    EXPECT_THROW(
        {
            try {
                runTask(signIn());
            } catch (const SmartLinkAuthError &) {
                ADD_FAILURE() << "an unreadable answer is not a refusal";
            }
        },
        KivoError);
}

TEST_F(SmartLinkSignIn, AnOldUnhashedTokenMovesToTheAccountOnFirstUse)
{
    const QString legacy = QStringLiteral("refresh-token");
    runTask(store->write(item(legacy).first, legacy, QStringLiteral("old-token")));
    provider.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-1")));
    provider.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-2")));
    auto auth = authenticator();

    runTask(auth->refresh());
    EXPECT_EQ(store->items(), (QHash<QPair<QString, QString>, QString>{{item(account), QStringLiteral("old-token")}}));
    runTask(auth->refresh());
    ASSERT_EQ(provider.requests().size(), 2);
    EXPECT_EQ(provider.requests()[0].json().value("refresh_token").toString(), "old-token");
    EXPECT_EQ(provider.requests()[1].json().value("refresh_token").toString(), "old-token");
}

TEST_F(SmartLinkSignIn, ForgettingDeletesOnlyThisAccountsToken)
{
    auto auth = authenticator();
    runTask(auth->clear());

    SmartLinkKeychain keychain(store, QStringLiteral("ham@example.org"));
    SmartLinkKeychain other(store, QStringLiteral("other@example.org"));
    const QString legacy = QStringLiteral("refresh-token");
    runTask(keychain.saveRefreshToken(QStringLiteral("mine")));
    runTask(other.saveRefreshToken(QStringLiteral("theirs")));
    runTask(store->write(item(legacy).first, legacy, QStringLiteral("old")));

    runTask(auth->clear());
    EXPECT_EQ(store->items(), (QHash<QPair<QString, QString>, QString>{
                                  {item(other.account()), QStringLiteral("theirs")},
                                  {item(legacy), QStringLiteral("old")}}));
}

TEST_F(SmartLinkSignIn, SecretStoreFailuresAreKeychainErrors)
{
    provider.enqueue(FakeIdentityProvider::grant(QStringLiteral("id-1"), QStringLiteral("refresh-1")));
    auto auth = authenticator();
    store->setFailure(QStringLiteral("the collection is locked"));

    const auto onRefresh = errorOf<SmartLinkAuthError>(auth->refresh());
    ASSERT_TRUE(onRefresh);
    EXPECT_EQ(onRefresh->kind(), SmartLinkAuthError::Kind::Keychain);
    EXPECT_EQ(onRefresh->message(), SecretStoreError("the collection is locked").message());

    // A grant whose refresh token cannot be saved gives no token set.
    const auto onSave = errorOf<SmartLinkAuthError>(auth->authenticate(QStringLiteral("ham@example.org"), QStringLiteral("pw")));
    ASSERT_TRUE(onSave);
    EXPECT_EQ(onSave->kind(), SmartLinkAuthError::Kind::Keychain);
    EXPECT_EQ(provider.requests().size(), 1);
}

TEST_F(SmartLinkSignIn, TransportFailuresAreNotRefusals)
{
    auto expectTransportFailure = [](QCoro::Task<SmartLinkTokenSet> task, const QString &message) {
        try {
            runTask(std::move(task));
            ADD_FAILURE() << "the sign-in succeeded";
        } catch (const SmartLinkAuthError &error) {
            ADD_FAILURE() << "refusal: " << error.message().toStdString();
        } catch (const KivoError &error) {
            EXPECT_TRUE(error.message().startsWith(message)) << error.message().toStdString();
        }
    };

    // The provider's certificate is not trusted without the test authority.
    SmartLinkIdentityProvider untrusted = endpoint();
    untrusted.sslConfiguration.reset();
    SmartLinkAuthenticator strict(SmartLinkKeychain(store, QStringLiteral("ham@example.org")), untrusted);
    expectTransportFailure(strict.authenticate(QStringLiteral("ham@example.org"), QStringLiteral("pw")),
                           QStringLiteral("SSL handshake failed"));

    // A provider that never answers runs into the request's time-out.
    provider.setSilent(true);
    SmartLinkAuthenticator impatient(SmartLinkKeychain(store, QStringLiteral("ham@example.org")), endpoint(100ms));
    expectTransportFailure(impatient.authenticate(QStringLiteral("ham@example.org"), QStringLiteral("pw")),
                           QStringLiteral("The request timed out."));

    // Nobody listening.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    SmartLinkIdentityProvider closed = endpoint();
    closed.tokenEndpoint.setPort(probe.serverPort());
    probe.close();
    SmartLinkAuthenticator unreachable(SmartLinkKeychain(store, QStringLiteral("ham@example.org")), closed);
    expectTransportFailure(unreachable.authenticate(QStringLiteral("ham@example.org"), QStringLiteral("pw")),
                           QStringLiteral("Connection refused"));
    EXPECT_TRUE(store->items().isEmpty());
}
