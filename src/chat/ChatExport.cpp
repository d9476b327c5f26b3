#include "chat/ChatExport.h"

#include "chat/ChatConversation.h"
#include "chat/ChatPage.h"
#include "chat/FriendInfo.h"
#include "tables/CsvWriter.h"
#include "util/Error.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

QString exportName(const QString& displayName)
{
    constexpr qsizetype kMaxLength = 80;
    QString name;
    for (const QChar c : displayName) {
        const bool bad = c.unicode() < 0x20 || c == u'/' || c == u'\\' || c == u':' ||
                         c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' ||
                         c == u'|' || c.category() == QChar::Other_Format;
        name.append(bad ? QChar(u'_') : c);
    }
    name = name.simplified();
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    name = name.left(kMaxLength).trimmed();
    return name.isEmpty() ? QStringLiteral("conversation") : name;
}

QString exportConversationFolder(TChatSession& session, TChatConversation& conversation,
                                 const QString& parent, const TChatSession::BuildHooks& hooks)
{
    const QString base = exportName(conversation.contact().DisplayName);
    QDir dir(parent);
    QString name = base;
    for (int n = 2; dir.exists(name); ++n)
        name = QStringLiteral("%1 (%2)").arg(base).arg(n);
    if (!dir.mkpath(name + QStringLiteral("/media")))
        throw Error(QStringLiteral("cannot create the folder %1").arg(dir.filePath(name)));
    const QString folder = dir.filePath(name);

    TMediaPlacement placement;
    placement.folder = folder + QStringLiteral("/media/");
    placement.prefix = QStringLiteral("media/");
    ChatPageWriter page;
    conversation.setHooks(hooks);
    for (int i = 0; i < conversation.count(); ++i) {
        if (hooks.progress && i % 256 == 0)
            hooks.progress(100.0 * i / conversation.count());
        if (hooks.pumpEvents && i % 256 == 0)
            hooks.pumpEvents();
        page.addEntry(conversation.entry(i, placement));
    }
    page.save(folder + QStringLiteral("/wechathistory.html"));
    if (hooks.progress)
        hooks.progress(100.0);
    return folder;
}

QString messageTypeName(int type)
{
    switch (type) {
    case 1:
        return QStringLiteral("text");
    case 3:
        return QStringLiteral("image");
    case 34:
        return QStringLiteral("voice");
    case 43:
    case 62:
        return QStringLiteral("video");
    case 49:
        return QStringLiteral("link");
    case 50:
        return QStringLiteral("call");
    default:
        return QString::number(type);
    }
}

namespace {

QString csvText(const TChatConversation& conversation, int index)
{
    const TChatRow& r = conversation.row(index);
    switch (r.type) {
    case 3:
    case 34:
    case 43:
    case 62:
        return {};
    case 49: {
        if (payloadField(r.message, "//type") == QLatin1String("17"))
            return QStringLiteral("实时位置信息");
        QStringList parts;
        for (const char* xpath : {"//title", "//des", "//url"}) {
            const QString part = trimControls(payloadField(r.message, xpath));
            if (!part.isEmpty())
                parts << part;
        }
        return parts.join(QLatin1Char('\n'));
    }
    case 50: {
        bool ok = false;
        const int secs = payloadField(r.message, "//duration").toInt(&ok);
        const int s = ok ? secs : 0;
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60).arg(s % 60);
    }
    default:
        break;
    }
    // A group member's text starts with their id and a colon; the sender column has the name.
    if (conversation.isGroup() && !r.sent) {
        const qsizetype colon = r.message.indexOf(QLatin1Char(':'));
        if (colon > 0) {
            QString text = r.message.mid(colon + 1);
            if (text.startsWith(QLatin1Char('\n')))
                text.remove(0, 1);
            return text;
        }
    }
    return r.message;
}

} // namespace

void exportConversationCsv(TChatConversation& conversation, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    try {
        CsvWriter csv(&file);
        csv.addLine({QStringLiteral("time"), QStringLiteral("sender"), QStringLiteral("type"),
                     QStringLiteral("text")});
        for (int i = 0; i < conversation.count(); ++i)
            csv.addLine({conversation.row(i).date, conversation.senderName(i),
                         messageTypeName(conversation.row(i).type), csvText(conversation, i)});
        csv.finish();
    } catch (const Error& e) {
        file.cancelWriting();
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, e.message()));
    }
    if (!file.commit())
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}
