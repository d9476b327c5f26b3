#include "backup/Plist.h"

#include <QDateTime>

#include <cstdlib>
#include <limits>

PlistPointer plistFromMemory(const QByteArray& bytes)
{
    QByteArrayView view(bytes);
    // libplist recognises an XML list only by its first characters.
    if (view.startsWith("\xEF\xBB\xBF"))
        view = view.sliced(3);
    if (view.isEmpty() || quint64(view.size()) > std::numeric_limits<uint32_t>::max())
        return {};
    plist_t root = nullptr;
    plist_from_memory(view.data(), static_cast<uint32_t>(view.size()), &root);
    return PlistPointer(root);
}

plist_t plistDictItem(plist_t dict, const char* key, plist_type type)
{
    if (!dict || plist_get_node_type(dict) != PLIST_DICT)
        return nullptr;
    plist_t item = plist_dict_get_item(dict, key);
    return item && plist_get_node_type(item) == type ? item : nullptr;
}

std::optional<QString> plistString(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    // plist_get_string_val asserts that the text has no inner NUL; a UTF-16 string of a
    // binary list may well hold one. The pointer form gives the length instead.
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (!text)
        return std::nullopt;
    if (length > uint64_t(std::numeric_limits<qsizetype>::max()))
        return std::nullopt;
    return QString::fromUtf8(text, qsizetype(length));
}

std::optional<qint64> plistDate(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_DATE)
        return std::nullopt;
    // The library keeps the date as a double but hands it out as 32-bit seconds, which wraps
    // outside 1933..2069. Its XML writer formats the double through a 64-bit time_t, so the
    // written date is exact for any year.
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    if (!xml)
        return std::nullopt;
    const QByteArray text(xml, int(length));
    std::free(xml); // plist_to_xml hands over a malloc'ed buffer
    const qsizetype open = text.indexOf("<date>");
    const qsizetype close = text.indexOf("</date>");
    if (open < 0 || close < open)
        return std::nullopt;
    const QString iso = QString::fromLatin1(text.mid(open + 6, close - open - 6)).trimmed();
    const QDateTime when = QDateTime::fromString(iso, Qt::ISODate);
    if (!when.isValid())
        return std::nullopt;
    return when.toSecsSinceEpoch();
}

std::optional<QString> plistDictString(plist_t dict, const char* key)
{
    return plistString(plistDictItem(dict, key, PLIST_STRING));
}

std::optional<qint64> plistDictDate(plist_t dict, const char* key)
{
    return plistDate(plistDictItem(dict, key, PLIST_DATE));
}

std::optional<bool> plistDictBool(plist_t dict, const char* key)
{
    plist_t item = plistDictItem(dict, key, PLIST_BOOLEAN);
    if (!item)
        return std::nullopt;
    uint8_t value = 0;
    plist_get_bool_val(item, &value);
    return value != 0;
}

std::optional<QByteArray> plistDictData(plist_t dict, const char* key)
{
    plist_t item = plistDictItem(dict, key, PLIST_DATA);
    if (!item)
        return std::nullopt;
    uint64_t length = 0;
    const char* data = plist_get_data_ptr(item, &length);
    if (length > uint64_t(std::numeric_limits<int>::max()))
        return std::nullopt;
    return data ? QByteArray(data, qsizetype(length)) : QByteArray();
}

std::optional<quint64> plistDictUInt(plist_t dict, const char* key)
{
    plist_t item = plistDictItem(dict, key, PLIST_UINT);
    if (!item)
        return std::nullopt;
    uint64_t value = 0;
    plist_get_uint_val(item, &value);
    return value;
}
