#include "KivoCore/support/PropertyList.h"

#include <QFile>

#ifdef QK_HAVE_PLIST
#include <plist/plist.h>
#include <cstdlib>
#include <memory>
#endif

namespace kivo {

#ifdef QK_HAVE_PLIST
namespace {
// Preference files are small; the bound keeps the length within the
// library's 32-bit size.
constexpr qint64 maximumFileBytes = 16 * 1024 * 1024;

struct PlistFree {
    void operator()(void *node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

QVariant scalarValue(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_UINT: {
        // Stored as 64 bits; property lists write integers signed.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return QVariant(static_cast<qint64>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_STRING: {
        char *value = nullptr;
        plist_get_string_val(node, &value);
        const QString text = QString::fromUtf8(value);
        std::free(value);
        return QVariant(text);
    }
    default:
        return QVariant();
    }
}
} // namespace

std::optional<QVariantMap> readPropertyListDictionary(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maximumFileBytes)
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.isEmpty() || bytes.size() > maximumFileBytes)
        return std::nullopt;

    plist_t rootNode = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &rootNode);
    const PlistPtr root(rootNode);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return std::nullopt;

    QVariantMap result;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(root.get(), &iterator);
    for (;;) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root.get(), iterator, &key, &value);
        if (!value) {
            std::free(key);
            break;
        }
        result.insert(QString::fromUtf8(key), scalarValue(value));
        std::free(key);
    }
    std::free(iterator);
    return result;
}
#else
std::optional<QVariantMap> readPropertyListDictionary(const QString &)
{
    return std::nullopt;
}
#endif

} // namespace kivo
