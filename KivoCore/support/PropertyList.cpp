#include "KivoCore/support/PropertyList.h"

#include <QFile>
#include <QRegularExpression>

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

quint64 bigEndian(const QByteArray &bytes, qsizetype at, int width)
{
    quint64 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

// The strings of a binary property list, each checked for a zero character.
// Anything this walk cannot read counts as unsafe: the file is refused.
bool binaryStringsAreSafe(const QByteArray &bytes)
{
    constexpr qsizetype trailerBytes = 32;
    const qsizetype size = bytes.size();
    if (size < 8 + trailerBytes)
        return false;
    const qsizetype trailer = size - trailerBytes;
    const int offsetWidth = quint8(bytes.at(trailer + 6));
    const quint64 objects = bigEndian(bytes, trailer + 8, 8);
    const quint64 table = bigEndian(bytes, trailer + 24, 8);
    if (offsetWidth < 1 || offsetWidth > 8 || table > quint64(trailer)
        || objects > (quint64(trailer) - table) / quint64(offsetWidth))
        return false;
    for (quint64 i = 0; i < objects; ++i) {
        const quint64 offset = bigEndian(bytes, qsizetype(table + i * quint64(offsetWidth)), offsetWidth);
        if (offset >= quint64(trailer))
            return false;
        const quint8 marker = quint8(bytes.at(qsizetype(offset)));
        const int type = marker >> 4;
        if (type != 0x5 && type != 0x6) // ASCII and UTF-16 strings
            continue;
        quint64 length = marker & 0x0F;
        quint64 at = offset + 1;
        if (length == 0x0F) {
            if (at >= quint64(trailer) || (quint8(bytes.at(qsizetype(at))) >> 4) != 0x1)
                return false;
            const int width = 1 << (quint8(bytes.at(qsizetype(at))) & 0x0F);
            if (width > 8 || at + 1 + quint64(width) > quint64(trailer))
                return false;
            length = bigEndian(bytes, qsizetype(at + 1), width);
            at += 1 + quint64(width);
        }
        const quint64 unit = type == 0x5 ? 1 : 2;
        if (length > (quint64(trailer) - at) / unit)
            return false;
        for (quint64 k = 0; k < length; ++k) {
            const qsizetype first = qsizetype(at + k * unit);
            if (bytes.at(first) == 0 && (unit == 1 || bytes.at(first + 1) == 0))
                return false;
        }
    }
    return true;
}

// libplist 2.2 aborts the whole program when it hands out a key or string
// that holds U+0000, so such a file never reaches it.
bool isSafeForLibrary(const QByteArray &bytes)
{
    if (bytes.startsWith("bplist"))
        return binaryStringsAreSafe(bytes);
    static const QRegularExpression zeroReference(QStringLiteral("&#(x0+|0+);"),
                                                  QRegularExpression::CaseInsensitiveOption);
    return !bytes.contains('\0') && !QString::fromUtf8(bytes).contains(zeroReference);
}

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
    return parsePropertyListDictionary(file.readAll());
}

std::optional<QVariantMap> parsePropertyListDictionary(const QByteArray &bytes)
{
    if (bytes.isEmpty() || bytes.size() > maximumFileBytes || !isSafeForLibrary(bytes))
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

std::optional<QVariantMap> parsePropertyListDictionary(const QByteArray &)
{
    return std::nullopt;
}
#endif

} // namespace kivo
