#include "chat/MessagesPage.h"

#include "chat/ChatPage.h"
#include "chat/PagedView.h"
#include "chat/WebViewPolicy.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("Messages", text);
}

QString extensionOf(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

QString localTime(qint64 ms)
{
    if (ms == 0)
        return QString();
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms).toLocalTime(),
                              QLocale::ShortFormat);
}

QString sizeText(qint64 bytes)
{
    return bytes > 0 ? QLocale().formattedDataSize(bytes) : QString();
}

constexpr char32_t kObjectReplacement = 0xFFFC;

} // namespace

TAttachmentKind attachmentKind(const TMessageAttachment& attachment)
{
    const QString mime = attachment.mimeType.toLower();
    if (mime.startsWith(QLatin1String("image/")))
        return TAttachmentKind::akPicture;
    if (mime.startsWith(QLatin1String("video/")))
        return TAttachmentKind::akVideo;
    if (mime.startsWith(QLatin1String("audio/")))
        return TAttachmentKind::akAudio;
    const QString uti = attachment.uti.toLower();
    if (uti == QLatin1String("public.jpeg") || uti == QLatin1String("public.png") ||
        uti == QLatin1String("public.heic") || uti == QLatin1String("public.heif") ||
        uti == QLatin1String("com.compuserve.gif"))
        return TAttachmentKind::akPicture;
    if (uti == QLatin1String("com.apple.quicktime-movie") || uti == QLatin1String("public.mpeg-4"))
        return TAttachmentKind::akVideo;
    if (uti == QLatin1String("com.apple.coreaudio-format") || uti == QLatin1String("org.3gpp.adaptive-multi-rate-audio") ||
        uti == QLatin1String("com.apple.m4a-audio"))
        return TAttachmentKind::akAudio;
    QString ext = extensionOf(attachment.name);
    if (ext.isEmpty())
        ext = extensionOf(attachment.path);
    static const QStringList pictures = {QStringLiteral("jpg"),  QStringLiteral("jpeg"),
                                         QStringLiteral("png"),  QStringLiteral("gif"),
                                         QStringLiteral("heic"), QStringLiteral("heif")};
    static const QStringList videos = {QStringLiteral("mov"), QStringLiteral("mp4"),
                                       QStringLiteral("m4v")};
    static const QStringList audio = {QStringLiteral("caf"), QStringLiteral("amr"),
                                      QStringLiteral("m4a"), QStringLiteral("mp3"),
                                      QStringLiteral("wav")};
    if (pictures.contains(ext))
        return TAttachmentKind::akPicture;
    if (videos.contains(ext))
        return TAttachmentKind::akVideo;
    if (audio.contains(ext))
        return TAttachmentKind::akAudio;
    return TAttachmentKind::akFile;
}

bool isHeifAttachment(const TMessageAttachment& attachment)
{
    const QString mime = attachment.mimeType.toLower();
    if (mime == QLatin1String("image/heic") || mime == QLatin1String("image/heif"))
        return true;
    const QString uti = attachment.uti.toLower();
    if (uti == QLatin1String("public.heic") || uti == QLatin1String("public.heif"))
        return true;
    const QString ext = extensionOf(attachment.name.isEmpty() ? attachment.path : attachment.name);
    return ext == QLatin1String("heic") || ext == QLatin1String("heif");
}

QString reactionGlyph(const TMessageReaction& reaction)
{
    switch (reaction.type) {
    case 2000:
        return QStringLiteral("\u2764\uFE0F");
    case 2001:
        return QStringLiteral("\U0001F44D");
    case 2002:
        return QStringLiteral("\U0001F44E");
    case 2003:
        return QStringLiteral("\U0001F602");
    case 2004:
        return QStringLiteral("\u203C\uFE0F");
    case 2005:
        return QStringLiteral("\u2753");
    case 2006:
        return reaction.emoji;
    default:
        return QString();
    }
}

TMessagesRenderer::TMessagesRenderer(const TConversation& conversation,
                                     const std::vector<TMessage>& messages,
                                     const TContactNames& names, Links links)
    : m_conversation(conversation), m_messages(messages), m_names(names),
      m_hooks(std::move(links))
{
}

QString TMessagesRenderer::nameOf(const QString& handle) const
{
    if (handle.isEmpty())
        return tr("Unknown");
    const QString name = m_names.nameOf(handle);
    return name.isEmpty() ? handle : name;
}

QString TMessagesRenderer::senderName(const TMessage& message) const
{
    return message.fromMe ? tr("Me") : nameOf(message.sender);
}

QString TMessagesRenderer::eventText(const TMessage& message) const
{
    const QString actor = message.fromMe ? tr("You") : nameOf(message.sender);
    switch (message.itemType) {
    case 1:
        if (message.groupActionType == 1)
            return QCoreApplication::translate("Messages", "%1 removed %2")
                .arg(actor, nameOf(message.otherHandle));
        return QCoreApplication::translate("Messages", "%1 added %2")
            .arg(actor, nameOf(message.otherHandle));
    case 2:
        return QCoreApplication::translate("Messages", "%1 named the conversation \"%2\"")
            .arg(actor, message.groupTitle);
    case 3:
        if (message.groupActionType == 0)
            return QCoreApplication::translate("Messages", "%1 left the conversation").arg(actor);
        return QCoreApplication::translate("Messages", "%1 changed the group photo").arg(actor);
    default:
        return QCoreApplication::translate("Messages", "%1 changed the conversation").arg(actor);
    }
}

QString TMessagesRenderer::textHtml(const QString& text) const
{
    // Addresses are found in the raw text and escaped piece by piece, so nothing of the text
    // can close the markup around it.
    static const QRegularExpression web(QStringLiteral(R"(https?://[^\s<>"'\x{FFFC}]+)"),
                                        QRegularExpression::CaseInsensitiveOption);
    QString out;
    qsizetype at = 0;
    for (auto it = web.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString address = m.captured();
        while (!address.isEmpty() && QStringLiteral(".,;:!?)]}").contains(address.back()))
            address.chop(1);
        const QUrl url(address, QUrl::StrictMode);
        if (!url.isValid() || url.host().isEmpty() || !isWebAddress(url))
            continue;
        out += htmlEscape(text.mid(at, m.capturedStart() - at));
        out += QStringLiteral("<a class=\"web\" href=\"%1\">%2</a>")
                   .arg(htmlEscape(url.toString(QUrl::FullyEncoded)), htmlEscape(address));
        m_webLinks.insert(comparableAddress(url).toString());
        at = m.capturedStart() + address.size();
    }
    out += htmlEscape(text.mid(at));
    return out;
}

bool TMessagesRenderer::showsLink(const QUrl& url) const
{
    return isWebAddress(url) && m_webLinks.contains(comparableAddress(url).toString());
}

QString TMessagesRenderer::attachmentHtml(int m, int a) const
{
    const TMessageAttachment& att = m_messages[size_t(m)].attachments[size_t(a)];
    const QString name = htmlEscape(att.name.isEmpty() ? tr("Attachment") : att.name);
    if (!m_hooks.available || !m_hooks.available(m, a))
        return QStringLiteral("<span class=\"att missing\">%1 \u2014 %2</span>")
            .arg(name, htmlEscape(tr("not in this backup")));
    const QString open = htmlEscape(m_hooks.open(m, a));
    switch (attachmentKind(att)) {
    case TAttachmentKind::akPicture:
        return QStringLiteral("<a class=\"att\" href=\"%1\" title=\"%2\"><img class=\"pic\" "
                              "src=\"%3\" alt=\"%2\"></a>")
            .arg(open, name, htmlEscape(m_hooks.picture(m, a)));
    case TAttachmentKind::akVideo:
    case TAttachmentKind::akAudio:
        return QStringLiteral("<a class=\"att file play\" href=\"%1\">\u25B6 %2</a>").arg(open, name);
    case TAttachmentKind::akFile:
        break;
    }
    const QString size = sizeText(att.totalBytes);
    return QStringLiteral("<a class=\"att file\" href=\"%1\">%2%3</a>")
        .arg(open, name, size.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(htmlEscape(size)));
}

QString TMessagesRenderer::entry(int index) const
{
    if (index < 0 || index >= count())
        return QString();
    const TMessage& msg = m_messages[size_t(index)];
    if (msg.itemType != 0) {
        QString when = localTime(msg.dateMs);
        return QStringLiteral("<div class=\"ev\" id=\"m%1\">%2%3</div>\n")
            .arg(index)
            .arg(htmlEscape(eventText(msg)),
                 when.isEmpty() ? QString() : QStringLiteral(" \u00B7 ") + htmlEscape(when));
    }

    QString html = QStringLiteral("<div class=\"m %1%2\" id=\"m%3\">")
                       .arg(msg.fromMe ? QLatin1String("out") : QLatin1String("in"),
                            msg.service.compare(QLatin1String("SMS"), Qt::CaseInsensitive) == 0
                                ? QLatin1String(" sms")
                                : QLatin1String(""))
                       .arg(index);
    if (!msg.fromMe && m_conversation.isGroup)
        html += QStringLiteral("<div class=\"who\">%1</div>").arg(htmlEscape(senderName(msg)));

    QString body;
    if (msg.unsent) {
        body = QStringLiteral("<span class=\"unsent\">%1</span>")
                   .arg(htmlEscape(tr("This message was unsent")));
    } else {
        // Attachments stand where the text marks them, the rest after the text.
        const QStringList pieces = msg.text.split(QChar(kObjectReplacement));
        const int attachments = int(msg.attachments.size());
        int placed = 0;
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            body += textHtml(pieces[i]);
            if (i + 1 < pieces.size() && placed < attachments)
                body += attachmentHtml(index, placed++);
        }
        while (placed < attachments)
            body += attachmentHtml(index, placed++);
    }
    if (!body.trimmed().isEmpty())
        html += QStringLiteral("<div class=\"b\">%1</div>").arg(body);

    QStringList meta;
    const QString when = localTime(msg.dateMs);
    if (!when.isEmpty())
        meta << htmlEscape(when);
    if (!msg.service.isEmpty())
        meta << htmlEscape(msg.service);
    if (msg.edited && !msg.unsent)
        meta << htmlEscape(tr("Edited"));
    if (!meta.isEmpty())
        html += QStringLiteral("<div class=\"meta\">%1</div>").arg(meta.join(QStringLiteral(" \u00B7 ")));

    if (!msg.reactions.empty()) {
        html += QStringLiteral("<div class=\"rx\">");
        for (const TMessageReaction& r : msg.reactions) {
            const QString glyph = reactionGlyph(r);
            if (glyph.isEmpty())
                continue;
            const QString who = r.fromMe ? tr("Me") : nameOf(r.sender);
            html += QStringLiteral("<span title=\"%1\">%2</span>").arg(htmlEscape(who), htmlEscape(glyph));
        }
        html += QStringLiteral("</div>");
    }
    html += QStringLiteral("</div>\n");
    return html;
}

QString TMessagesRenderer::range(int first, int last) const
{
    first = std::max(first, 0);
    last = std::min(last, count());
    QString out;
    for (int i = first; i < last; ++i)
        out += entry(i);
    return out;
}

namespace {

const char* const kStyle = R"(
body{font-family:sans-serif;font-size:14px;margin:0;padding:8px 16px;background:#fff;color:#000;overflow-anchor:none}
#list{display:flex;flex-direction:column}
.m{display:flex;flex-direction:column;max-width:70%;margin:3px 0}
.m.in{align-self:flex-start;align-items:flex-start}
.m.out{align-self:flex-end;align-items:flex-end}
.who{font-size:12px;color:#666;margin:8px 12px 2px}
.b{padding:7px 12px;border-radius:17px;white-space:pre-wrap;overflow-wrap:anywhere}
.in .b{background:#e9e9eb}
.out .b{background:#1d7bf5;color:#fff}
.out.sms .b{background:#34a853}
.out .b a.web{color:#fff}
.meta{font-size:11px;color:#8a8a8e;margin:2px 12px}
.rx{margin:0 8px;font-size:15px}
.rx span{margin-right:2px}
.ev{align-self:center;text-align:center;font-size:12px;color:#6d6d72;margin:10px 0}
.unsent{font-style:italic;opacity:.8}
.att{display:block;margin:4px 0}
img.pic{height:160px;max-width:240px;object-fit:contain;border-radius:10px;display:block}
a.file{color:inherit}
.missing{font-style:italic;opacity:.7}
#more{align-self:center;font-size:12px;color:#8a8a8e;margin:8px}
)";

} // namespace

QString messagesPageShell(const QString& title, const QString& newestEntries, int first,
                          int total, const QString& rangeUrl, const QString& nonce)
{
    TPagedViewScript view;
    view.first = first;
    view.total = total;
    view.rangeUrl = rangeUrl;
    view.entrySelector = QStringLiteral(":scope > .m, :scope > .ev");
    // The script is the page's only one (its nonce).
    return QStringLiteral(
               "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
               "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
               "img-src ferrowick-messages:; connect-src ferrowick-messages:; style-src "
               "'unsafe-inline'; script-src 'nonce-%1'\">"
               "<title>%2</title><style>%3</style></head>\n<body>"
               "<div id=\"list\"><div id=\"more\">%4</div>\n%5</div>"
               "<script nonce=\"%1\">%6</script></body></html>\n")
        .arg(nonce, htmlEscape(title), QLatin1String(kStyle),
             htmlEscape(tr("Loading older messages…")), newestEntries,
             pagedViewScript(view));
}

QString messagesExportPage(const QString& title, const QString& entries)
{
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                          "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src "
                          "'none'; img-src 'self'; media-src 'self'; style-src 'unsafe-inline'\">"
                          "<title>%1</title><style>%2#more{display:none}</style></head>\n<body>"
                          "<h1 style=\"font-size:18px\">%1</h1><div id=\"list\">\n%3</div>"
                          "</body></html>\n")
        .arg(htmlEscape(title), QLatin1String(kStyle), entries);
}
