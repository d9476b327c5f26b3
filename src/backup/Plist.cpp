#include "backup/Plist.h"

#include <cstdlib>
#include <limits>

PlistPointer plistFromMemory(const QByteArray& bytes)
{
    if (bytes.isEmpty() || bytes.size() > std::numeric_limits<uint32_t>::max())
        return {};
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &root);
    return PlistPointer(root);
}

static plist_t dictItem(plist_t dict, const char* key, plist_type type)
{
    if (!dict || plist_get_node_type(dict) != PLIST_DICT)
        return nullptr;
    plist_t item = plist_dict_get_item(dict, key);
    return item && plist_get_node_type(item) == type ? item : nullptr;
}

std::optional<QString> plistDictString(plist_t dict, const char* key)
{
    plist_t item = dictItem(dict, key, PLIST_STRING);
    if (!item)
        return std::nullopt;
    char* text = nullptr;
    plist_get_string_val(item, &text);
    if (!text)
        return std::nullopt;
    QString value = QString::fromUtf8(text);
    std::free(text); // plist_get_string_val hands over a malloc'ed copy
    return value;
}

std::optional<qint64> plistDictDate(plist_t dict, const char* key)
{
    plist_t item = dictItem(dict, key, PLIST_DATE);
    if (!item)
        return std::nullopt;
    int32_t sec = 0;
    int32_t usec = 0;
    plist_get_date_val(item, &sec, &usec);
    return qint64(sec) + kPlistEpochOffset;
}
