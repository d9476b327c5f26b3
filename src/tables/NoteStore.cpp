#include "tables/NoteStore.h"

#include "util/Sqlite.h"

#include <QSqlDatabase>

#include <zlib.h>

std::optional<QByteArray> inflateGzip(QByteArrayView data, qsizetype maxSize)
{
    z_stream stream{};
    // 15 + 32: a gzip or a zlib header, told apart by zlib itself.
    if (inflateInit2(&stream, 15 + 32) != Z_OK)
        return std::nullopt;
    QByteArray out;
    char buffer[16384];
    const auto* next = reinterpret_cast<const Bytef*>(data.data());
    qsizetype left = data.size();
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (stream.avail_in == 0 && left > 0) {
            const uInt chunk = uInt(std::min<qsizetype>(left, 1 << 20));
            stream.next_in = const_cast<Bytef*>(next);
            stream.avail_in = chunk;
            next += chunk;
            left -= chunk;
        }
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END)
            break;
        const qsizetype produced = qsizetype(sizeof buffer - stream.avail_out);
        if (out.size() + produced > maxSize) {
            status = Z_MEM_ERROR;
            break;
        }
        out.append(buffer, produced);
        // A stream cut short: no input left and no output made.
        if (status == Z_OK && produced == 0 && stream.avail_in == 0 && left == 0) {
            status = Z_DATA_ERROR;
            break;
        }
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
        return std::nullopt;
    return out;
}

namespace {

bool readVarint(QByteArrayView data, qsizetype& at, quint64& value)
{
    value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (at >= data.size())
            return false;
        const quint8 byte = quint8(data[at++]);
        value |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false; // more than ten bytes: no varint
}

} // namespace

std::optional<QByteArrayView> protobufField(QByteArrayView message, quint64 fieldNumber)
{
    qsizetype at = 0;
    while (at < message.size()) {
        quint64 key = 0;
        if (!readVarint(message, at, key))
            return std::nullopt;
        const quint64 field = key >> 3;
        switch (key & 7) {
        case 0: { // varint
            quint64 ignored = 0;
            if (!readVarint(message, at, ignored))
                return std::nullopt;
            break;
        }
        case 1: // 64-bit
            if (message.size() - at < 8)
                return std::nullopt;
            at += 8;
            break;
        case 2: { // length-delimited
            quint64 length = 0;
            if (!readVarint(message, at, length) || length > quint64(message.size() - at))
                return std::nullopt;
            if (field == fieldNumber)
                return message.sliced(at, qsizetype(length));
            at += qsizetype(length);
            break;
        }
        case 5: // 32-bit
            if (message.size() - at < 4)
                return std::nullopt;
            at += 4;
            break;
        default: // groups (3, 4) are not used by notes; anything else is no protobuf
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<QString> noteStoreText(QByteArrayView zdata)
{
    if (zdata.size() < 2 || quint8(zdata[0]) != 0x1f || quint8(zdata[1]) != 0x8b)
        return std::nullopt;
    const std::optional<QByteArray> document = inflateGzip(zdata);
    if (!document)
        return std::nullopt;
    std::optional<QByteArrayView> part = protobufField(*document, 2);
    if (part)
        part = protobufField(*part, 3);
    if (part)
        part = protobufField(*part, 2);
    if (!part)
        return std::nullopt;
    return QString::fromUtf8(part->data(), part->size());
}


void registerNoteFunctions(const QSqlDatabase& db)
{
    registerBlobTextFunction(db, "note_text", noteStoreText);
}
