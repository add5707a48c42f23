#include "KivoCore/support/Async.h"

#include "KivoCore/support/KivoError.h"
#include "KivoCore/support/LogCategories.h"

namespace kivo {

namespace {
QCoro::Task<void> guarded(QCoro::Task<void> task, ErrorReporter onError)
{
    try {
        co_await std::move(task);
    } catch (...) {
        const QString message = describeException(std::current_exception());
        if (onError)
            onError(message);
        else
            qCWarning(lcAsync).noquote() << "Detached task failed:" << message;
    }
}
} // namespace

void launch(QCoro::Task<void> task, ErrorReporter onError)
{
    // The wrapper never throws; QCoro frees its frame when it finishes.
    guarded(std::move(task), std::move(onError));
}

} // namespace kivo
