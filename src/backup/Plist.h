#pragma once

#include <QByteArray>
#include <QString>

#include <plist/plist.h>

#include <memory>
#include <optional>

// Thin RAII binding of libplist, linked normally. Only the backup-information reader uses it.

struct PlistDeleter
{
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
// Owns the root of a property-list tree; nodes found inside it belong to the tree.
using PlistPointer = std::unique_ptr<void, PlistDeleter>;

// Seconds from 1970-01-01 to 2001-01-01, the epoch of property-list dates.
inline constexpr qint64 kPlistEpochOffset = 978307200;

// Parses an XML or a binary property list held in memory. Empty when the bytes are neither.
[[nodiscard]] PlistPointer plistFromMemory(const QByteArray& bytes);

// The string value stored under key in a dictionary node, decoded as UTF-8; nothing when
// the node is no dictionary, the key is absent or its value is not a string.
std::optional<QString> plistDictString(plist_t dict, const char* key);

// The date stored under key, as whole seconds since 1970-01-01 00:00:00 UTC.
std::optional<qint64> plistDictDate(plist_t dict, const char* key);
