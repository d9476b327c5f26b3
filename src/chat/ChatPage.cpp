#include "chat/ChatPage.h"

#include "app/Language.h"
#include "chat/ChatStyle.h"
#include "chat/FriendInfo.h"
#include "chat/PagedView.h"
#include "util/Error.h"

#include <QSaveFile>
#include <QUrl>

#include <pugixml.hpp>

namespace {

const QString kReplace = QStringLiteral("%REPLACE%");
const QString kReplaceName = QStringLiteral("%REPLACE_NAME%");
const QString kReplaceWidth = QStringLiteral("%REPLACE_WIDTH%");

const QString kLeftColumn =
    QStringLiteral("\t<div class=\"leftd\">\r\n\t\t%REPLACE%\r\n\t</div>\r\n");
const QString kLeftHeader =
    QStringLiteral("<div class=\"leftimg\">\r\n\t\t\t%REPLACE%\r\n\t\t</div>\r\n");
const QString kLeftBubble =
    QStringLiteral("<div class=\"speech left\">\r\n\t\t\t%REPLACE%\r\n\t\t</div>");
const QString kLeftClass = QStringLiteral("class=\"speech left\"");
const QString kLeftClassCentred = QStringLiteral("class=\"speech left\" align=\"center\"");
const QString kRightColumn =
    QStringLiteral("\t<div class=\"rightd\">\r\n\t\t%REPLACE%\r\n\t</div>\r\n");
const QString kRightHeader =
    QStringLiteral("<div class=\"rightimg\">\r\n\t\t\t%REPLACE%\r\n\t\t</div>\r\n");
const QString kRightBubble =
    QStringLiteral("<div class=\"speech right\">\r\n\t\t\t%REPLACE%\r\n\t\t</div>");
const QString kRightClass = QStringLiteral("class=\"speech right\"");
const QString kRightClassCentred = QStringLiteral("class=\"speech right\" align=\"center\"");

const QString kThumbStart =
    QStringLiteral("<IMG style=\"cursor:hand;max-width:150px;max-height:150px\" src=\"");
const QString kImageThumbEnd = QStringLiteral(
    "\" onclick=\"location.href='image://%REPLACE_NAME%';\" style=\"cursor: pointer;\">");
// The play icon sits over the thumbnail: its class must name the play-button rule, and the
// thumbnail's tag closes once, or a stray ">" shows below the picture.
const QString kVideoBlock = QStringLiteral(
    "<div class=\"block\" onclick=\"location.href='video://%REPLACE%';\" style=\"cursor: "
    "pointer;\"><span class=\"play-button\" onclick=\"location.href='video://%REPLACE%';\" "
    "style=\"cursor: pointer;\"><span onclick=\"location.href='video://%REPLACE%';\" "
    "style=\"cursor: pointer;\"></span></span></div>\r\n");
const QString kVideoThumbEnd = QStringLiteral(
    "\" onclick=\"location.href='video://%REPLACE_NAME%';\" style=\"cursor: pointer;\">");

const QString kVoiceLenLeft =
    QStringLiteral("\t\t<div class=\"audio_len left\">%REPLACE%</div>\r\n");
const QString kVoiceLenRight =
    QStringLiteral("\t\t<div class=\"audio_len right\">%REPLACE%</div>\r\n");
const QString kVoiceIconLeft = QStringLiteral(
    "\t\t<div class=\"sound_block left\" onclick=\"location.href='audio://%REPLACE_NAME%';\" "
    "style=\"cursor: pointer;\">\r\n\t\t\t<div id=\"sound1\" class=\"sound1 "
    "left\"></div>\r\n\t\t\t<div "
    "id=\"sound2\" class=\"sound2 left\"></div>\r\n\t\t\t<div id=\"sound3\" class=\"sound3 "
    "left\"></div>\r\n\t\t</div>\r\n");
const QString kVoiceIconRight = QStringLiteral(
    "\t\t<div class=\"sound_block right\" onclick=\"location.href='audio://%REPLACE_NAME%';\" "
    "style=\"cursor: pointer;\">\r\n\t\t\t<div id=\"sound1\" class=\"sound1 "
    "right\"></div>\r\n\t\t\t<div "
    "id=\"sound2\" class=\"sound2 right\"></div>\r\n\t\t\t<div id=\"sound3\" class=\"sound3 "
    "right\"></div>\r\n\t\t</div>\r\n");
const QString kVoiceBarLeft =
    QStringLiteral("\t\t<div class=\"speech left audio\" style=\"width:%REPLACE_WIDTH%px\" "
                   "onclick=\"location.href='audio://%REPLACE_NAME%';\" style=\"cursor: "
                   "pointer;\">&nbsp;&nbsp;&nbsp;&nbsp;</div>\r\n");
const QString kVoiceBarRight =
    QStringLiteral("\t\t<div class=\"speech right audio\" style=\"width:%REPLACE_WIDTH%px\" "
                   "onclick=\"location.href='audio://%REPLACE_NAME%';\" style=\"cursor: "
                   "pointer;\">&nbsp;&nbsp;&nbsp;&nbsp;</div>\r\n");

const QString kLinkWithAddress = QStringLiteral(
    "分享链接：<a href=\"%1\" target=\"_blank\">%2</br><a style=\"color:#888\">%3</a></a>");
const QString kLinkWithoutAddress =
    QStringLiteral("分享链接：<a>%1</br><a style=\"color:#888\">%2</a></a>");
const QString kLiveLocation = QStringLiteral("<a style=\"color:#888\"> 实时位置信息... </a>");
const QString kCall = QStringLiteral("<a style=\"color:#888\">通话时长：%1:%2:%3</a>");
const QString kPageBody =
    QStringLiteral("<body oncontextmenu=\"return false;\">\r\n%REPLACE%</body>\r\n");

QString fill(QString templ, const QString& placeholder, const QString& value)
{
    return templ.replace(placeholder, value);
}

// An integer as Delphi's StrToInt reads it; anything else is a failure of the build.
int toInteger(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || text.trimmed() != text)
        throw Error(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

// All text below a node, as an XML DOM's text property gives it.
QString nodeText(const pugi::xml_node& node)
{
    QByteArray text;
    struct Collect : pugi::xml_tree_walker
    {
        QByteArray* out;
        bool for_each(pugi::xml_node& n) override
        {
            if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata)
                out->append(n.value());
            return true;
        }
    } walker;
    walker.out = &text;
    if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
        text = node.value();
    else
        const_cast<pugi::xml_node&>(node).traverse(walker);
    return QString::fromUtf8(text);
}

// Loads a payload; reports a parse failure and returns false, leaving doc empty.
bool loadPayload(pugi::xml_document& doc, const QString& xml, const PayloadFailure& failure)
{
    doc.reset();
    const QByteArray bytes = xml.toUtf8();
    const pugi::xml_parse_result result = doc.load_buffer(bytes.constData(), size_t(bytes.size()));
    if (result)
        return true;
    doc.reset();
    if (failure)
        failure(QStringLiteral("Invalid XML payload: %1 (at offset %2)")
                    .arg(QString::fromUtf8(result.description()))
                    .arg(qint64(result.offset)));
    return false;
}

// The text of the first node matching xpath below the document element, or empty.
QString selectText(const pugi::xml_document& doc, const char* xpath)
{
    const pugi::xml_node root = doc.document_element();
    if (!root)
        return {};
    const pugi::xpath_node found = root.select_node(xpath);
    return found ? nodeText(found.node()) : QString();
}

} // namespace

QString htmlEscape(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

int voiceSeconds(const QString& message)
{
    static const QString key = QStringLiteral("voicelength=\"");
    const qsizetype at = message.indexOf(key);
    if (at < 0)
        throw Error(QStringLiteral("voice message without voicelength"));
    const qsizetype from = at + key.size();
    const qsizetype to = message.indexOf(QLatin1Char('"'), from);
    const int ms = toInteger(message.mid(from, to < 0 ? -1 : to - from));
    return ms / 1000 + (ms % 1000) / 500;
}

int voiceWidth(int seconds)
{
    return std::min(seconds * 10 + 60, 190);
}

namespace {

// The templates name the view's schemes; an exported page links its files instead. Only the
// templates' own text holds the scheme: the names filled in are ours.
QString withLinks(QString html, const char* scheme, const QString& linkPrefix)
{
    if (linkPrefix != QLatin1String(scheme))
        html.replace(QLatin1String(scheme), htmlEscape(linkPrefix));
    return html;
}

} // namespace

QString imageMessageHtml(const QString& thumbCopy, const QString& imageName,
                         const QString& linkPrefix)
{
    return fill(withLinks(kThumbStart + htmlEscape(thumbCopy) + kImageThumbEnd, "image://",
                          linkPrefix),
                kReplaceName, imageName);
}

QString videoMessageHtml(const QString& thumbCopy, const QString& videoName,
                         const QString& linkPrefix)
{
    const QString block = fill(kVideoBlock, kReplace, videoName);
    return fill(withLinks(block + kThumbStart + htmlEscape(thumbCopy) + kVideoThumbEnd,
                          "video://", linkPrefix),
                kReplaceName, videoName);
}

QString unsupportedPictureHtml(const QString& target, bool inView)
{
    const QString label = htmlEscape(translateMessage(QStringLiteral("Unsupported picture")));
    const QString action = htmlEscape(translateMessage(QStringLiteral("Save")));
    const QString link =
        inView ? QStringLiteral("<a style=\"cursor: pointer; text-decoration: underline\" "
                                "onclick=\"location.href='save://%1';\">%2</a>")
                     .arg(htmlEscape(target), action)
               : QStringLiteral("<a href=\"%1\">%2</a>").arg(htmlEscape(target), action);
    return QStringLiteral("<a style=\"color:#888\">%1</a> %2").arg(label, link);
}

QString voiceMessageHtml(bool sent, std::optional<int> seconds, const QString& playName,
                         const QString& linkPrefix)
{
    const QString lengthText = seconds ? QString::number(*seconds) + QLatin1Char('"') : QString();
    QString c = sent ? fill(kVoiceLenRight, kReplace, lengthText) + kVoiceIconRight + kVoiceBarRight
                     : fill(kVoiceLenLeft, kReplace, lengthText) + kVoiceIconLeft + kVoiceBarLeft;
    c = withLinks(c, "audio://", linkPrefix);
    c.replace(kReplaceWidth, QString::number(voiceWidth(seconds.value_or(0))));
    c.replace(kReplaceName, playName);
    return c;
}

QString sharedLinkHtml(const QString& message, const PayloadFailure& failure, QString* linked)
{
    const qsizetype msg = message.indexOf(QLatin1String("<msg>"));
    const QString x = msg >= 0 ? message.mid(msg) : message;
    pugi::xml_document doc;
    QString kind, title, des, url;
    if (loadPayload(doc, x, failure)) {
        kind = selectText(doc, "//type");
        title = selectText(doc, "//title");
        des = selectText(doc, "//des");
        url = selectText(doc, "//url");
    }
    if (kind == QLatin1String("17"))
        return kLiveLocation;
    const QString address = trimControls(url);
    const QUrl parsed(address);
    const QString scheme = parsed.scheme().toLower();
    if (!address.isEmpty() && parsed.isValid() &&
        (scheme == QLatin1String("http") || scheme == QLatin1String("https"))) {
        if (linked)
            *linked = address;
        return kLinkWithAddress.arg(htmlEscape(url), htmlEscape(title), htmlEscape(des));
    }
    return kLinkWithoutAddress.arg(htmlEscape(title), htmlEscape(des));
}

QString payloadField(const QString& message, const char* xpath)
{
    const qsizetype msg = message.indexOf(QLatin1String("<msg>"));
    pugi::xml_document doc;
    if (!loadPayload(doc, msg >= 0 ? message.mid(msg) : message, {}))
        return {};
    return selectText(doc, xpath);
}

QString callHtml(const QString& message, const PayloadFailure& failure)
{
    pugi::xml_document doc;
    QString d;
    if (loadPayload(doc, message, failure))
        d = selectText(doc, "//duration");
    if (d.isEmpty())
        d = QStringLiteral("0");
    int secs = 0;
    try {
        secs = toInteger(d);
    } catch (const Error& e) {
        // One unreadable call does not end the conversation: it shows as 0:0:0.
        if (failure)
            failure(QStringLiteral("Unreadable call duration: %1").arg(e.message()));
    }
    const int h = secs / 3600;
    const int mi = secs / 60 - h * 60;
    const int s = secs - h * 3600 - mi * 60;
    return kCall.arg(h).arg(mi).arg(s);
}

QString messageEntry(bool sent, int type, const QString& header, const QString& content)
{
    const QString& column = sent ? kRightColumn : kLeftColumn;
    QString bubble;
    if (type == 34) {
        bubble = content;
    } else {
        bubble = fill(sent ? kRightBubble : kLeftBubble, kReplace, content);
        if (type == 3 || type == 43) {
            // Only the template's own class attribute: the content was placed first, but the
            // escaped text cannot hold a raw quote, so no message text can match it.
            bubble.replace(sent ? kRightClass : kLeftClass,
                           sent ? kRightClassCentred : kLeftClassCentred);
        }
    }
    return fill(column, kReplace, fill(sent ? kRightHeader : kLeftHeader, kReplace, header)) +
           fill(column, kReplace, bubble);
}

void appendFileLines(QByteArray& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    const char* p = utf8.constData();
    const qsizetype n = utf8.size();
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char c = p[i];
        if (c != '\r' && c != '\n')
            continue;
        out.append(p + lineStart, i - lineStart);
        out.append("\r\n", 2);
        if (c == '\r' && i + 1 < n && p[i + 1] == '\n')
            ++i;
        lineStart = i + 1;
    }
    if (lineStart < n) {
        out.append(p + lineStart, n - lineStart);
        out.append("\r\n", 2);
    }
}

void ChatPageWriter::addEntry(const QString& entry)
{
    // Each entry ends with CR LF, so no line end is split between two entries.
    appendFileLines(m_entries, entry + QLatin1String("\r\n"));
    ++m_count;
}

QByteArray ChatPageWriter::encodeEntry(const QString& entry)
{
    QByteArray out;
    appendFileLines(out, entry + QLatin1String("\r\n"));
    return out;
}

namespace {

void writeFile(const QString& path, const std::vector<const QByteArray*>& parts)
{
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    for (const QByteArray* part : parts)
        ok = ok && file.write(*part) == part->size();
    if (!ok || !file.commit())
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

// The page's head and tail around its entries, as the file holds them.
std::pair<QByteArray, QByteArray> pageFrame()
{
    const qsizetype split = kPageBody.indexOf(kReplace);
    QByteArray head("\xEF\xBB\xBF");
    appendFileLines(head, chatStyleBlock() + kPageBody.left(split));
    QByteArray tail;
    appendFileLines(tail, kPageBody.mid(split + kReplace.size()));
    return {head, tail};
}

} // namespace

void ChatPageWriter::save(const QString& path) const
{
    const auto [head, tail] = pageFrame();
    writeFile(path, {&head, &m_entries, &tail});
}

void ChatPageWriter::save(const QString& path, const std::vector<QByteArray>& entries)
{
    const auto [head, tail] = pageFrame();
    std::vector<const QByteArray*> parts{&head};
    parts.reserve(entries.size() + 2);
    for (const QByteArray& entry : entries)
        parts.push_back(&entry);
    parts.push_back(&tail);
    writeFile(path, parts);
}

void appendViewEntry(QByteArray& out, const QByteArray& entry)
{
    out += "<div class=\"e\">";
    out += entry;
    out += "</div>";
}

QByteArray chatPageShell(const QByteArray& newestEntries, int first, int total,
                         const QString& rangeUrl, const QString& scheme, int page, int keep)
{
    TPagedViewScript view;
    view.first = first;
    view.total = total;
    view.rangeUrl = rangeUrl;
    view.entrySelector = QStringLiteral(":scope > .e");
    view.page = page;
    view.keep = keep;
    // No doctype, as the page file has none: the same quirks, the same layout.
    const qsizetype split = kPageBody.indexOf(kReplace);
    QByteArray out = QStringLiteral(
                         "<meta charset=\"utf-8\"><meta http-equiv=\"Content-Security-Policy\" "
                         "content=\"default-src 'none'; img-src %1:; connect-src %1:; style-src "
                         "'unsafe-inline'; script-src 'unsafe-inline'\">\r\n")
                         .arg(scheme)
                         .toUtf8();
    appendFileLines(out, chatStyleBlock() + kPageBody.left(split));
    out += "<style>.e{display:contents}#more{clear:both;text-align:center;color:#888;"
           "font-size:12px;padding:8px}</style><div id=\"list\"><div id=\"more\">";
    out += htmlEscape(translateMessage(QStringLiteral("Loading older messages…"))).toUtf8();
    out += "</div>\r\n";
    out += newestEntries;
    out += "</div><script>";
    out += pagedViewScript(view).toUtf8();
    out += "</script>";
    appendFileLines(out, kPageBody.mid(split + kReplace.size()));
    return out;
}

void SaveTextToFile(const QString& text, const QString& path)
{
    QByteArray out("\xEF\xBB\xBF");
    out.reserve(text.size() * 3 / 2 + 16);
    appendFileLines(out, text);
    writeFile(path, {&out});
}
