#include "chat/FriendInfo.h"

#include "chat/ProtobufFields.h"

#include <QCryptographicHash>

QString mediaFolderName(const QString& usrName)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(usrName.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString decodeRemarkName(const QByteArray& shortPy)
{
    if (shortPy.size() < 2 || (shortPy.at(0) == 0x0A && shortPy.at(1) == 0x00))
        return {};
    // The search starts at offset 0, so a length byte of 0x12 ends it: such a remark is lost.
    const qsizetype k = shortPy.indexOf(char(0x12));
    if (k < 0)
        return {};
    const qsizetype n = k - 2;
    if (n <= 0)
        return {};
    return QString::fromUtf8(shortPy.mid(2, n));
}

TContactRemark decodeContactRemark(const QByteArray& blob)
{
    const ProtobufFields fields(blob);
    const auto text = [&fields](quint32 n) {
        return QString::fromUtf8(fields.bytes(n).value_or(QByteArray()));
    };
    return {text(1), text(2), text(3)};
}

TFriendClass friendClass(int type, const QString& usrName)
{
    TFriendClass c = TFriendClass::fcFriends;
    if (type == 2)
        c = TFriendClass::fcGroups;
    else if (type == 4 || type == 6 || type == 67)
        c = TFriendClass::fcOthers;
    if (usrName.contains(QLatin1String("gh_")))
        c = TFriendClass::fcOthers;
    if (usrName.contains(QLatin1String("@chatroom")))
        c = TFriendClass::fcGroups;
    return c;
}

QString trimControls(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= 0x20)
        ++first;
    while (last > first && text.at(last - 1).unicode() <= 0x20)
        --last;
    return text.mid(first, last - first);
}

QString friendDisplayName(const QString& remarkName, const QString& nickName)
{
    const QString r = trimControls(remarkName);
    QString name = r.isEmpty() ? nickName : QStringLiteral("%1(%2)").arg(r, nickName);
    if (remarkName.contains(QLatin1String("<2></2>")))
        name = nickName;
    if (trimControls(name).isEmpty())
        name = QStringLiteral("未命名聊天群");
    return name;
}

bool chatListLess(const QString& a, const QString& b)
{
    const auto fold = [](char16_t c) -> char16_t {
        return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c;
    };
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = fold(a.at(i).unicode());
        const char16_t y = fold(b.at(i).unicode());
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}
