#include "KivoCore/support/KeychainSecretStore.h"

#include "KivoCore/support/Async.h"

#include <qt6keychain/keychain.h>

#include <memory>

namespace kivo {

namespace {
struct LaterDeleter {
    void operator()(QObject *object) const { object->deleteLater(); }
};

template <typename Job>
using JobPointer = std::unique_ptr<Job, LaterDeleter>;

// The keyring's name of one stored secret.
struct ItemName {
    QString service{};
    QString account{};
};

template <typename Job>
JobPointer<Job> makeJob(const ItemName &item)
{
    JobPointer<Job> job(new Job(item.service));
    job->setAutoDelete(false);
    job->setKey(item.account);
    return job;
}

// Starts the job and resumes once it has finished, through the event loop.
QCoro::Task<void> run(QKeychain::Job *job)
{
    OneShot<> finished;
    auto onFinished = [finished](QKeychain::Job *) mutable { finished.resolve(); };
    QObject::connect(job, &QKeychain::Job::finished, job, onFinished);
    job->start();
    co_await finished;
}
} // namespace

QCoro::Task<std::optional<QString>> KeychainSecretStore::read(QString service, QString account)
{
    auto job = makeJob<QKeychain::ReadPasswordJob>({.service = service, .account = account});
    co_await run(job.get());
    switch (job->error()) {
    case QKeychain::NoError:
        co_return job->textData();
    case QKeychain::EntryNotFound:
        co_return std::nullopt;
    default:
        throw SecretStoreError(job->errorString());
    }
}

QCoro::Task<void> KeychainSecretStore::write(QString service, QString account, QString secret)
{
    auto job = makeJob<QKeychain::WritePasswordJob>({.service = service, .account = account});
    job->setTextData(secret);
    co_await run(job.get());
    if (job->error() != QKeychain::NoError)
        throw SecretStoreError(job->errorString());
}

QCoro::Task<void> KeychainSecretStore::remove(QString service, QString account)
{
    auto job = makeJob<QKeychain::DeletePasswordJob>({.service = service, .account = account});
    co_await run(job.get());
    if (job->error() != QKeychain::NoError && job->error() != QKeychain::EntryNotFound)
        throw SecretStoreError(job->errorString());
}

} // namespace kivo
