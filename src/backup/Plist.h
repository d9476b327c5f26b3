#pragma once

#include <QByteArray>
#include <QString>

#include <plist/plist.h>

#include <memory>
#include <optional>

// Thin RAII binding of libplist, linked normally. Every value read from a backup's property
// lists goes through here: the readers check each node's type and read strings with their
// length, so no value of a hostile file can trip one of the library's assertions.

struct PlistDeleter
{
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
// Owns the root of a property-list tree; nodes found inside it belong to the tree.
using PlistPointer = std::unique_ptr<void, PlistDeleter>;

// Seconds from 1970-01-01 to 2001-01-01, the epoch of property-list dates.
inline constexpr qint64 kPlistEpochOffset = 978307200;

// Parses an XML or a binary property list held in memory; a UTF-8 byte-order mark before an
// XML list is allowed. Empty when the bytes are neither.
[[nodiscard]] PlistPointer plistFromMemory(const QByteArray& bytes);

// The node stored under key in a dictionary node when it has the given type, else nullptr.
plist_t plistDictItem(plist_t dict, const char* key, plist_type type);

// A string node's text, decoded as UTF-8 with its full length (inner NULs kept).
std::optional<QString> plistString(plist_t node);
// A date node as whole seconds since 1970-01-01 00:00:00 UTC, for any year.
std::optional<qint64> plistDate(plist_t node);

// Typed values stored under key in a dictionary node; nothing when the node is no dictionary,
// the key is absent or its value has another type.
std::optional<QString> plistDictString(plist_t dict, const char* key);
std::optional<qint64> plistDictDate(plist_t dict, const char* key);
std::optional<bool> plistDictBool(plist_t dict, const char* key);
std::optional<QByteArray> plistDictData(plist_t dict, const char* key);
std::optional<quint64> plistDictUInt(plist_t dict, const char* key);
