#include "AttributedBody.h"

namespace {

void putInteger(QByteArray& out, qint64 value)
{
    if (value >= -110 && value <= 127) {
        out.append(char(qint8(value)));
    } else if (value >= -32768 && value <= 32767) {
        out.append(char(0x81)).append(char(value & 0xff)).append(char((value >> 8) & 0xff));
    } else {
        out.append(char(0x82));
        for (int i = 0; i < 4; ++i)
            out.append(char((value >> (8 * i)) & 0xff));
    }
}

void putNewString(QByteArray& out, const QByteArray& s)
{
    out.append(char(0x84));
    putInteger(out, s.size());
    out.append(s);
}

} // namespace

QByteArray attributedBodyFor(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out("\x04\x0bstreamtyped\x81\xe8\x03", 16);
    // Shared strings: 0 "@", 1 NSMutableAttributedString, 2 NSAttributedString, 3 NSObject,
    // 4 NSMutableString, 5 NSString, 6 "+", 7 "iI", 8 NSDictionary, 9 "i".
    // Objects and classes: 0 the top object, 1..3 its classes, 4 the string, 5..6 its classes.
    putNewString(out, "@");
    out.append(char(0x84)); // the top object
    for (const char* cls : {"NSMutableAttributedString", "NSAttributedString", "NSObject"}) {
        out.append(char(0x84));
        putNewString(out, cls);
        out.append(char(0));
    }
    out.append(char(0x85));
    out.append(char(0x92)); // "@": the string
    out.append(char(0x84));
    for (const char* cls : {"NSMutableString", "NSString"}) {
        out.append(char(0x84));
        putNewString(out, cls);
        out.append(char(1));
    }
    out.append(char(0x92 + 3)); // NSString's superclass: NSObject
    putNewString(out, "+");
    putInteger(out, utf8.size());
    out.append(utf8);
    out.append(char(0x86));
    // One attribute run over the whole text, with an empty attribute dictionary.
    putNewString(out, "iI");
    putInteger(out, 1);
    putInteger(out, text.size());
    out.append(char(0x92)); // "@"
    out.append(char(0x84));
    out.append(char(0x84));
    putNewString(out, "NSDictionary");
    out.append(char(0));
    out.append(char(0x92 + 3));
    putNewString(out, "i");
    putInteger(out, 0);
    out.append(char(0x86));
    out.append(char(0x86));
    return out;
}
