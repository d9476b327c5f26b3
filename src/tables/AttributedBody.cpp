#include "tables/AttributedBody.h"

#include <QByteArray>

#include <string>
#include <vector>

// An NSArchiver typedstream, as Messages stores attributedBody:
//   header: 04, the string "streamtyped" with its length (0B), the system version (81 E8 03);
//   then values, each announced by a type string ("@" an object, "+" bytes with a length,
//   "i", "I", ... integers), several types sharing one announcement.
// Integers: a signed byte, or 81 and 2 bytes, 82 and 4 bytes (little-endian), 83 a float.
// Markers: 84 something new follows, 85 nil, 86 end of an object. From 92 up a byte refers
// back: to the n-th shared string (type strings, class names) or the n-th object or class,
// n = byte - 92. An object is 84, its class (84, name, version, superclass ... down to 85, or a
// reference), then its values until 86. The text is the first object value inside the top
// object: an NSString whose "+" value holds the UTF-8 bytes.

namespace {

constexpr uchar kInt16 = 0x81;
constexpr uchar kInt32 = 0x82;
constexpr uchar kFloat = 0x83;
constexpr uchar kNew = 0x84;
constexpr uchar kNil = 0x85;
constexpr uchar kEnd = 0x86;
constexpr uchar kReference = 0x92;
constexpr int kMaxDepth = 32;

struct Failed
{
};

class Reader
{
public:
    explicit Reader(QByteArrayView data) : m_data(data) {}

    uchar peek() const
    {
        if (m_pos >= m_data.size())
            throw Failed{};
        return uchar(m_data[m_pos]);
    }
    uchar byte()
    {
        const uchar b = peek();
        ++m_pos;
        return b;
    }
    QByteArrayView bytes(qint64 n)
    {
        if (n < 0 || n > m_data.size() - m_pos)
            throw Failed{};
        const QByteArrayView out = m_data.sliced(m_pos, qsizetype(n));
        m_pos += qsizetype(n);
        return out;
    }

    qint64 integer()
    {
        const uchar head = byte();
        if (head == kInt16) {
            const QByteArrayView b = bytes(2);
            return qint16(quint16(uchar(b[0])) | quint16(uchar(b[1])) << 8);
        }
        if (head == kInt32) {
            const QByteArrayView b = bytes(4);
            return qint32(quint32(uchar(b[0])) | quint32(uchar(b[1])) << 8 |
                          quint32(uchar(b[2])) << 16 | quint32(uchar(b[3])) << 24);
        }
        if (head == kFloat) {
            bytes(4);
            return 0;
        }
        if (head >= kNew && head < kReference)
            throw Failed{}; // a marker where a number belongs
        return qint8(head);
    }

    // A shared string: new (84, length, bytes) or a reference; nothing for nil.
    std::optional<QByteArray> sharedString()
    {
        const uchar head = byte();
        if (head == kNil)
            return std::nullopt;
        if (head == kNew) {
            const qint64 length = integer();
            m_strings.push_back(bytes(length).toByteArray());
            return m_strings.back();
        }
        const size_t index = reference(head);
        if (index >= m_strings.size())
            throw Failed{};
        return m_strings[index];
    }

    // Reads an object; returns the index of its table entry, or -1 for nil.
    qint64 object(int depth)
    {
        if (depth > kMaxDepth)
            throw Failed{};
        const uchar head = byte();
        if (head == kNil)
            return -1;
        if (head != kNew) {
            const size_t index = reference(head);
            if (index >= m_table.size())
                throw Failed{};
            return qint64(index);
        }
        const size_t self = m_table.size();
        m_table.push_back({false, {}, -1});
        const qint64 cls = classEntry(0);
        m_table[self].superIndex = cls;
        const bool isString = isStringClass(cls);
        bool first = true;
        while (peek() != kEnd) {
            const std::optional<QByteArray> types = sharedString();
            if (!types)
                throw Failed{};
            for (const char type : *types) {
                switch (type) {
                case '@': {
                    const qint64 value = object(depth + 1);
                    // The top object's first object is its string.
                    if (depth == 0 && first && m_text.has_value())
                        return qint64(self);
                    first = false;
                    (void)value;
                    break;
                }
                case '+': {
                    const QByteArrayView text = bytes(integer());
                    if (isString && depth == 1 && !m_text)
                        m_text = QString::fromUtf8(text);
                    break;
                }
                case '*':
                    sharedString();
                    break;
                case 'c':
                case 'C':
                case 's':
                case 'S':
                case 'i':
                case 'I':
                case 'l':
                case 'L':
                case 'q':
                case 'Q':
                    integer();
                    break;
                case 'f':
                    if (byte() != kFloat)
                        throw Failed{};
                    bytes(4);
                    break;
                case 'd':
                    if (byte() != kFloat)
                        throw Failed{};
                    bytes(8);
                    break;
                default:
                    throw Failed{}; // a type this reader does not know: stop, in bounds
                }
            }
        }
        byte(); // the end of the object
        return qint64(self);
    }

    const std::optional<QString>& text() const { return m_text; }

private:
    struct Entry
    {
        bool isClass;
        QByteArray name;
        qint64 superIndex;
    };

    size_t reference(uchar head)
    {
        if (head >= kReference)
            return size_t(head - kReference);
        if (head == kInt16 || head == kInt32) {
            --m_pos;
            const qint64 value = integer();
            if (value < kReference)
                throw Failed{};
            return size_t(value - kReference);
        }
        throw Failed{};
    }

    qint64 classEntry(int depth)
    {
        if (depth > kMaxDepth)
            throw Failed{};
        const uchar head = byte();
        if (head == kNil)
            return -1;
        if (head != kNew) {
            const size_t index = reference(head);
            if (index >= m_table.size() || !m_table[index].isClass)
                throw Failed{};
            return qint64(index);
        }
        const std::optional<QByteArray> name = sharedString();
        if (!name)
            throw Failed{};
        integer(); // the class's version
        const size_t self = m_table.size();
        m_table.push_back({true, *name, -1});
        const qint64 super = classEntry(depth + 1);
        m_table[self].superIndex = super;
        return qint64(self);
    }

    bool isStringClass(qint64 cls) const
    {
        for (int hops = 0; cls >= 0 && size_t(cls) < m_table.size() && hops < kMaxDepth; ++hops) {
            const Entry& e = m_table[size_t(cls)];
            if (e.isClass && (e.name == "NSString" || e.name == "NSMutableString"))
                return true;
            cls = e.superIndex;
        }
        return false;
    }

    QByteArrayView m_data;
    qsizetype m_pos = 0;
    std::vector<QByteArray> m_strings;
    std::vector<Entry> m_table;
    std::optional<QString> m_text;
};

} // namespace

std::optional<QString> attributedBodyText(QByteArrayView blob)
{
    static const QByteArray header("\x04\x0bstreamtyped", 13);
    if (!blob.startsWith(header))
        return std::nullopt;
    Reader reader(blob.sliced(header.size()));
    try {
        reader.integer(); // the system version
        const std::optional<QByteArray> type = reader.sharedString();
        if (!type || *type != "@")
            return std::nullopt;
        reader.object(0);
    } catch (const Failed&) {
        // A damaged or unknown tail after the text loses nothing; without it, nothing is read.
    }
    return reader.text();
}
