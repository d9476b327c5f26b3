#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>
// One catalog entry's attributes from Manifest.db's `file` column: a binary plist written by
// NSKeyedArchiver ($top -> root UID -> $objects[n], an MBFile dictionary). UIDs resolved
// generically (libplist: PLIST_UID), every index bounds-checked.
struct TMbFile
{
    qint64 size = -1;                       // Size, -1 when absent
    std::optional<quint32> protectionClass; // ProtectionClass
    std::optional<qint64> lastModified;     // LastModified, Unix seconds
    std::optional<qint64> birth;
    quint32 mode = 0;
    QByteArray encryptionKey; // EncryptionKey -> NS.data (44 bytes: class LE + wrapped key); empty
                              // when absent
    QString target;           // Target of a link, empty otherwise
};
// nullopt when the blob is no property list or no MBFile can be found in it; never crashes or
// reads out of bounds on hostile input (cyclic or out-of-range UIDs included).
std::optional<TMbFile> parseMbFile(QByteArrayView blob);
