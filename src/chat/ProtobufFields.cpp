#include "chat/ProtobufFields.h"

namespace {

constexpr int kVarint = 0;
constexpr int kFixed64 = 1;
constexpr int kLengthDelimited = 2;
constexpr int kFixed32 = 5;

// Reads a varint at pos; false when it runs past end or beyond ten bytes.
bool readVarint(const uchar* p, qsizetype end, qsizetype& pos, quint64& value)
{
    value = 0;
    for (int shift = 0; shift < 70; shift += 7) {
        if (pos >= end)
            return false;
        const uchar b = p[pos++];
        if (shift < 64)
            value |= quint64(b & 0x7F) << shift;
        if (!(b & 0x80))
            return true;
    }
    return false;
}

struct Field
{
    quint32 number = 0;
    int wireType = 0;
    quint64 value = 0;    // varint
    qsizetype offset = 0; // length-delimited: where the bytes start
    qsizetype length = 0;
};

// Walks the fields in order until visit returns true or the data ends or turns malformed.
template <typename Visit>
void walk(const QByteArray& data, Visit visit)
{
    const auto* p = reinterpret_cast<const uchar*>(data.constData());
    const qsizetype end = data.size();
    qsizetype pos = 0;
    while (pos < end) {
        quint64 key = 0;
        if (!readVarint(p, end, pos, key))
            return;
        Field f;
        f.number = quint32(key >> 3);
        f.wireType = int(key & 7);
        if (f.number == 0 || (key >> 3) > 0x1FFFFFFF)
            return;
        switch (f.wireType) {
        case kVarint:
            if (!readVarint(p, end, pos, f.value))
                return;
            break;
        case kFixed64:
        case kFixed32: {
            const qsizetype n = f.wireType == kFixed64 ? 8 : 4;
            if (end - pos < n)
                return;
            pos += n;
            break;
        }
        case kLengthDelimited: {
            quint64 length = 0;
            if (!readVarint(p, end, pos, length) || length > quint64(end - pos))
                return;
            f.offset = pos;
            f.length = qsizetype(length);
            pos += f.length;
            break;
        }
        default: // groups (3, 4) and the unused codes: nothing WeChat writes
            return;
        }
        if (visit(f))
            return;
    }
}

} // namespace

std::optional<QByteArray> ProtobufFields::bytes(quint32 field) const
{
    std::optional<QByteArray> out;
    walk(m_data, [&](const Field& f) {
        if (f.number != field || f.wireType != kLengthDelimited)
            return false;
        out = m_data.mid(f.offset, f.length);
        return true;
    });
    return out;
}

std::optional<quint64> ProtobufFields::varint(quint32 field) const
{
    std::optional<quint64> out;
    walk(m_data, [&](const Field& f) {
        if (f.number != field || f.wireType != kVarint)
            return false;
        out = f.value;
        return true;
    });
    return out;
}
