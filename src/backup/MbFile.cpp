#include "backup/MbFile.h"

#include "backup/Plist.h"

#include <limits>

// Manifest.db's `file` column: a binary property list written by NSKeyedArchiver. `$objects` is
// an array; `$top` -> `root` is a UID, an index into it, naming the MBFile dictionary. Its values
// are numbers, or UIDs into `$objects` (RelativePath, Target, EncryptionKey -> {NS.data: ...}).

namespace {

constexpr qint64 kMaxBlob = 16 * 1024 * 1024;
constexpr int kMaxHops = 4; // a UID pointing at a UID ... ends here, cycles included

class Archive
{
public:
    explicit Archive(plist_t root) : m_objects(plistDictItem(root, "$objects", PLIST_ARRAY)) {}

    bool valid() const { return m_objects != nullptr; }

    // node itself, or the object its UID names (followed a few times); nullptr when out of range.
    plist_t resolve(plist_t node) const
    {
        for (int hop = 0; node && hop < kMaxHops; ++hop) {
            if (plist_get_node_type(node) != PLIST_UID)
                return node;
            uint64_t index = 0;
            plist_get_uid_val(node, &index);
            if (index >= plist_array_get_size(m_objects))
                return nullptr;
            node = plist_array_get_item(m_objects, uint32_t(index));
        }
        return node && plist_get_node_type(node) != PLIST_UID ? node : nullptr;
    }

    plist_t value(plist_t dict, const char* key) const
    {
        if (!dict || plist_get_node_type(dict) != PLIST_DICT)
            return nullptr;
        return resolve(plist_dict_get_item(dict, key));
    }

private:
    plist_t m_objects;
};

std::optional<qint64> integer(plist_t node)
{
    if (!node)
        return std::nullopt;
    if (plist_get_node_type(node) == PLIST_UINT) {
        uint64_t v = 0;
        plist_get_uint_val(node, &v); // negative numbers come back as their two's complement
        return qint64(v);
    }
    if (plist_get_node_type(node) == PLIST_REAL) {
        double d = 0;
        plist_get_real_val(node, &d);
        if (!(d >= -9.2e18 && d <= 9.2e18))
            return std::nullopt;
        return qint64(d);
    }
    return std::nullopt;
}

} // namespace

std::optional<TMbFile> parseMbFile(QByteArrayView blob)
{
    if (blob.isEmpty() || blob.size() > kMaxBlob)
        return std::nullopt;
    const PlistPointer root = plistFromMemory(blob.toByteArray());
    if (!root)
        return std::nullopt;
    const Archive archive(root.get());
    if (!archive.valid())
        return std::nullopt;
    plist_t top = plistDictItem(root.get(), "$top", PLIST_DICT);
    plist_t file = archive.value(top, "root");
    if (!file || plist_get_node_type(file) != PLIST_DICT)
        return std::nullopt;

    TMbFile result;
    if (const auto size = integer(archive.value(file, "Size")); size && *size >= 0)
        result.size = *size;
    if (const auto clas = integer(archive.value(file, "ProtectionClass"));
        clas && *clas >= 0 && *clas <= std::numeric_limits<quint32>::max())
        result.protectionClass = quint32(*clas);
    result.lastModified = integer(archive.value(file, "LastModified"));
    result.birth = integer(archive.value(file, "Birth"));
    if (const auto mode = integer(archive.value(file, "Mode")); mode && *mode >= 0)
        result.mode = quint32(*mode & 0xFFFFFFFF);
    if (plist_t key = archive.value(file, "EncryptionKey")) {
        if (plist_get_node_type(key) == PLIST_DICT)
            key = archive.value(key, "NS.data");
        if (key && plist_get_node_type(key) == PLIST_DATA) {
            uint64_t length = 0;
            const char* data = plist_get_data_ptr(key, &length);
            if (data && length <= uint64_t(kMaxBlob))
                result.encryptionKey = QByteArray(data, qsizetype(length));
        }
    }
    if (const auto target = plistString(archive.value(file, "Target")))
        result.target = *target;
    return result;
}
