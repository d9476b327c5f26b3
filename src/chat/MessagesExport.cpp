#include "chat/MessagesExport.h"

#include "chat/MessagesPage.h"
#include "tables/CsvWriter.h"
#include "util/Error.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QLocale>
#include <QSaveFile>
#include <QUrl>

namespace {

QString localTime(qint64 ms)
{
    return ms == 0 ? QString()
                   : QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms).toLocalTime(),
                                        QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void commitOrThrow(QSaveFile& file)
{
    if (!file.commit())
        throw Error(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
}

QString newFolderBelow(const QString& parent, const QString& name)
{
    QDir dir(parent);
    if (!dir.exists())
        throw Error(QStringLiteral("The folder %1 does not exist").arg(parent));
    for (int n = 1; n < 1000; ++n) {
        const QString candidate = n == 1 ? name : QStringLiteral("%1 (%2)").arg(name).arg(n);
        if (dir.exists(candidate))
            continue;
        if (!dir.mkdir(candidate))
            throw Error(QStringLiteral("cannot create %1").arg(dir.filePath(candidate)));
        return dir.filePath(candidate);
    }
    throw Error(QStringLiteral("cannot create %1").arg(dir.filePath(name)));
}

} // namespace

QString safeFileName(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c == u'/' || c == u'\\' || c.unicode() < 0x20 || c == QChar(0x7F))
            out += u'_';
        else
            out += c;
    }
    out = out.trimmed();
    while (out.startsWith(u'.'))
        out.remove(0, 1);
    if (out.size() > 100)
        out.truncate(100);
    if (out.isEmpty())
        out = QStringLiteral("Conversation");
    return out;
}

void saveConversationCsv(const QString& path, const TConversation& conversation,
                         const std::vector<TMessage>& messages, const TContactNames& names)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    // The renderer words senders and events as the page does; its links are not used.
    const TMessagesRenderer words(conversation, messages, names, {});
    CsvWriter csv(&file);
    csv.addLine({QStringLiteral("Date"), QStringLiteral("From"), QStringLiteral("Text"),
                 QStringLiteral("Attachments"), QStringLiteral("Service")});
    for (const TMessage& m : messages) {
        QStringList attachments;
        for (const TMessageAttachment& a : m.attachments)
            attachments << a.name;
        QString text = m.itemType != 0 ? words.eventText(m) : m.text;
        text.remove(QChar(0xFFFC));
        if (m.unsent)
            text = QCoreApplication::translate("Messages", "This message was unsent");
        csv.addLine({localTime(m.dateMs), words.senderName(m), text,
                     attachments.join(QStringLiteral("; ")), m.service});
    }
    csv.finish();
    commitOrThrow(file);
}

TConversationExport exportConversation(const QString& parent, const QString& title,
                                       const TConversation& conversation,
                                       const std::vector<TMessage>& messages,
                                       const TContactNames& names, const TAttachmentSource& source)
{
    TConversationExport result;
    result.folder = newFolderBelow(parent, safeFileName(title));
    const QDir out(result.folder);
    const QString media = QStringLiteral("attachments");

    // Attachment (m, a) -> the file a click opens and the picture the page shows, relative.
    struct Written
    {
        QString file;
        QString picture;
    };
    QHash<quint64, Written> written;
    auto id = [](int m, int a) { return (quint64(quint32(m)) << 32) | quint32(a); };
    for (int m = 0; m < int(messages.size()); ++m) {
        const auto& attachments = messages[size_t(m)].attachments;
        for (int a = 0; a < int(attachments.size()); ++a) {
            const TMessageAttachment& att = attachments[size_t(a)];
            const QString key = source.keyOf ? source.keyOf(att) : QString();
            if (key.isEmpty() || !source.available || !source.available(key)) {
                ++result.missing;
                continue;
            }
            if (written.isEmpty() && !out.exists(media) && !out.mkdir(media))
                throw Error(QStringLiteral("cannot create %1").arg(out.filePath(media)));
            const QString name = QStringLiteral("%1-%2 %3")
                                     .arg(m + 1)
                                     .arg(a + 1)
                                     .arg(safeFileName(att.name.isEmpty() ? QStringLiteral("file")
                                                                          : att.name));
            QSaveFile file(out.filePath(media + u'/' + name));
            if (!file.open(QIODevice::WriteOnly))
                throw Error(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
            source.writeContent(key, file);
            commitOrThrow(file);
            ++result.written;
            Written w{media + u'/' + name, media + u'/' + name};
            if (isHeifAttachment(att) && source.writeJpeg) {
                const QString jpeg = name + QStringLiteral(".jpg");
                if (source.writeJpeg(key, out.filePath(media + u'/' + jpeg)))
                    w.picture = media + u'/' + jpeg;
            }
            written.insert(id(m, a), w);
        }
    }

    TMessagesRenderer::Links links;
    links.available = [&](int m, int a) { return written.contains(id(m, a)); };
    auto relative = [](const QString& path) {
        QString encoded;
        for (const QString& part : path.split(u'/'))
            encoded += (encoded.isEmpty() ? QString() : QStringLiteral("/")) +
                       QString::fromUtf8(QUrl::toPercentEncoding(part));
        return encoded;
    };
    links.picture = [&](int m, int a) { return relative(written.value(id(m, a)).picture); };
    links.open = [&](int m, int a) { return relative(written.value(id(m, a)).file); };
    const TMessagesRenderer renderer(conversation, messages, names, links);
    const QString entries = renderer.range(0, renderer.count());

    QSaveFile html(out.filePath(QStringLiteral("messages.html")));
    if (!html.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("cannot write %1: %2").arg(html.fileName(), html.errorString()));
    html.write(messagesExportPage(title, entries).toUtf8());
    commitOrThrow(html);
    saveConversationCsv(out.filePath(QStringLiteral("messages.csv")), conversation, messages, names);
    return result;
}
