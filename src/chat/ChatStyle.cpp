#include "chat/ChatStyle.h"

#include <vector>

namespace {

// The emoji sprite's rules. No element of the page uses them; they stay so that pages written
// by this program keep one style sheet. Codes: the Miscellaneous Symbols block, the first
// Dingbats, the keycaps (digit or '#' followed by U+20E3) and the pictographs up to U+1F450.
std::vector<QString> emojiCodes()
{
    std::vector<QString> codes;
    for (uint c = 0x2600; c <= 0x26FF; ++c)
        codes.push_back(QString::number(c, 16));
    for (uint c = 0x2700; c <= 0x2776; ++c)
        codes.push_back(QString::number(c, 16));
    codes.push_back(QStringLiteral("2320e3"));
    for (uint c = 0x30; c <= 0x39; ++c)
        codes.push_back(QString::number(c, 16) + QStringLiteral("20e3"));
    for (uint c = 0x1F300; c <= 0x1F450; ++c)
        codes.push_back(QString::number(c, 16));
    return codes;
}

QString emojiRules()
{
    constexpr int kPlaceholders = 147;
    constexpr int kPlaceholderRow = 9200;
    constexpr int kLastRow = 11500;
    const std::vector<QString> codes = emojiCodes();
    const qsizetype count = qsizetype(codes.size());
    QString out = QStringLiteral(
        ".emoji { background: url(\"file:///emoji17ced3.png\") top left no-repeat; width: 20px; "
        "height: 20px; display:inline; display: -moz-inline-stack; display: inline-block; "
        "vertical-align: top; zoom: 1; *display: inline; }\r\n");
    int placeholders = 0;
    int row = 40;
    for (qsizetype i = 0; i < count; ++i) {
        // Symbols the sprite lacks point at its blank cell; every fourth from the third on.
        const bool placeholder =
            i >= 2 && i + 1 < count && (i - 2) % 4 == 0 && placeholders < kPlaceholders;
        int n;
        if (i == 0) {
            n = 260;
        } else if (i == 1) {
            n = 20;
        } else if (i + 1 == count) {
            n = kLastRow;
        } else if (placeholder) {
            n = kPlaceholderRow;
            ++placeholders;
        } else {
            if (row == 260)
                row += 20;
            n = std::min(row, kLastRow);
            row += 20;
        }
        out += QStringLiteral(".emoji%1 { background-position: 0px -%2px; }")
                   .arg(codes[size_t(i)])
                   .arg(n);
        if (placeholder)
            out += QStringLiteral(" /* placeholder */");
        out += QStringLiteral("\r\n");
    }
    return out;
}

QString buildStyleBlock()
{
    QString out = QStringLiteral("<style>\r\n");
    for (const ChatStyleRule& rule : chatStyleRules()) {
        out += QString::fromUtf8(rule.selector) + QStringLiteral(" {\r\n");
        for (const char* declaration : rule.declarations)
            out += QStringLiteral("\t") + QString::fromUtf8(declaration) + QStringLiteral("\r\n");
        out += QStringLiteral("}\r\n");
    }
    out += emojiRules();
    out += QStringLiteral("</style>");
    return out;
}

} // namespace

const QString& chatStyleBlock()
{
    static const QString block = buildStyleBlock();
    return block;
}
