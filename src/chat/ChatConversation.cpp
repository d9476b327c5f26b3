#include "chat/ChatConversation.h"

#include "chat/ChatMedia.h"
#include "chat/ChatPage.h"
#include "chat/FriendInfo.h"
#include "util/Error.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <optional>

bool isSkippedMessage(int type, const QString& message)
{
    if (type == 1)
        return message.startsWith(QLatin1String("<mmreader>"));
    return type == 42 || type == 47 || type == 48;
}

TChatConversation::TChatConversation(TChatSession& session, const TFriendInfo& contact,
                                     std::vector<TChatRow> rows)
    : m_session(session),
      m_contact(contact),
      m_rows(std::move(rows)),
      m_group(contact.UsrName.contains(QLatin1String("@chatroom"))),
      m_h(contact.mediaFolderName())
{
}

QString TChatConversation::entry(int index)
{
    return render(index, nullptr);
}

QString TChatConversation::entry(int index, const TMediaPlacement& placement)
{
    return render(index, &placement);
}

QString TChatConversation::range(int first, int last)
{
    QString out;
    for (int i = std::max(0, first); i < std::min(last, count()); ++i)
        out += entry(i) + QLatin1String("\r\n");
    return out;
}

namespace {

// The group member's id at the head of a received group message, "" when it has none.
QString groupSenderId(const QString& raw)
{
    const qsizetype colon = raw.indexOf(QLatin1Char(':'));
    return colon < 0 ? QString() : raw.left(colon);
}

// Copies a prepared temporary file into an export's media folder under name.
QString placeCopy(const QString& source, const TMediaPlacement& placement, const QString& name)
{
    CopyFileReplacing(source, placement.folder + name);
    return placement.prefix + name;
}

// The WAV header for raw voice samples as the playback window plays them (16-bit stereo at
// 11780 Hz), so an exported voice message sounds as it does in the viewer.
QByteArray wavHeader(quint32 dataBytes)
{
    constexpr quint32 kRate = 11780;
    constexpr quint16 kChannels = 2;
    constexpr quint16 kBits = 16;
    QByteArray h;
    auto u32 = [&h](quint32 v) {
        for (int i = 0; i < 4; ++i)
            h.append(char((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&h](quint16 v) {
        h.append(char(v & 0xFF));
        h.append(char(v >> 8));
    };
    h.append("RIFF");
    u32(36 + dataBytes);
    h.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(kChannels);
    u32(kRate);
    u32(kRate * kChannels * kBits / 8);
    u16(kChannels * kBits / 8);
    u16(kBits);
    h.append("data");
    u32(dataBytes);
    return h;
}

void writeWav(const QString& pcmPath, const QString& wavPath)
{
    QFile in(pcmPath);
    if (!in.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("cannot open %1: %2").arg(pcmPath, in.errorString()));
    QFile out(wavPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Error(QStringLiteral("cannot write %1: %2").arg(wavPath, out.errorString()));
    const qint64 size = std::min<qint64>(in.size(), 0xFFFFFF00LL) & ~qint64(3);
    bool ok = out.write(wavHeader(quint32(size))) == 44;
    qint64 left = size;
    while (ok && left > 0) {
        const QByteArray block = in.read(std::min<qint64>(left, 1 << 20));
        ok = !block.isEmpty() && out.write(block) == block.size();
        left -= block.size();
    }
    if (!ok)
        throw Error(QStringLiteral("cannot write %1: %2").arg(wavPath, out.errorString()));
}

} // namespace

QString TChatConversation::senderName(int index) const
{
    const TChatRow& r = row(index);
    if (r.sent)
        return QStringLiteral("我");
    if (!m_group)
        return m_contact.DisplayName;
    QString s = groupSenderId(r.message);
    if (s.isEmpty())
        s = QStringLiteral("系统提示");
    if (const TFriendInfo* sender = m_session.friendInfo(s))
        return trimControls(sender->RemarkName).isEmpty() ? sender->NickName : sender->RemarkName;
    return s;
}

QString TChatConversation::render(int index, const TMediaPlacement* placement)
{
    const TChatRow& r = row(index);
    const QString& raw = r.message;
    const int t = r.type;
    const qint64 id = r.localId;
    const QString number = QString::number(id);

    // Whether c is the message's own text (escaped), so that a group sender's id heads it.
    bool text = false;
    QString c;
    switch (t) {
    case 3: {
        const TChatSession::ImageMessage image = m_session.PrepareImageMessage(m_h, id);
        const QString imageFile = m_session.tempFolder("Image") + image.imageName;
        if (image.unsupported) {
            c = placement ? unsupportedPictureHtml(
                                placeCopy(imageFile, *placement, image.imageName), false)
                          : unsupportedPictureHtml(image.imageName, true);
        } else if (placement) {
            const QString thumb = placeCopy(image.thumbCopy, *placement, number + ".thumb.jpg");
            placeCopy(imageFile, *placement, image.imageName);
            c = imageMessageHtml(thumb, image.imageName, placement->prefix);
        } else {
            c = imageMessageHtml(image.thumbCopy, image.imageName);
            m_files.insert(QDir::cleanPath(image.thumbCopy));
        }
        break;
    }
    case 34: {
        // An export plays outside the program: its voice is decoded here.
        QString playName = m_session.PrepareVoiceMessage(
            m_h, id, m_hooks.pumpEvents, placement || !m_hooks.decodeVoiceOnPlay);
        std::optional<int> seconds;
        try {
            seconds = voiceSeconds(raw);
        } catch (const Error& e) {
            // The voice still plays; only its length label is unknown.
            if (m_hooks.showMessage)
                m_hooks.showMessage(
                    QStringLiteral("Unreadable voice message %1: %2").arg(id).arg(e.message()));
        }
        if (placement) {
            const QString played = m_session.tempFolder("Audio") + playName;
            if (playName.endsWith(QLatin1String(".pcm"))) {
                // The decoder may have written nothing: the link then names a missing file,
                // as the viewer's does.
                playName = number + QStringLiteral(".wav");
                if (QFile::exists(played))
                    writeWav(played, placement->folder + playName);
            } else {
                placeCopy(played, *placement, playName);
            }
            c = voiceMessageHtml(r.sent, seconds, playName, placement->prefix);
        } else {
            c = voiceMessageHtml(r.sent, seconds, playName);
        }
        break;
    }
    case 43:
    case 62: {
        const TChatSession::VideoMessage video = m_session.PrepareVideoMessage(m_h, id);
        if (placement) {
            const QString thumb = placeCopy(video.thumbCopy, *placement, number + ".thumb.jpg");
            placeCopy(m_session.tempFolder("Video") + video.videoName, *placement,
                      video.videoName);
            c = videoMessageHtml(thumb, video.videoName, placement->prefix);
        } else {
            c = videoMessageHtml(video.thumbCopy, video.videoName);
            m_files.insert(QDir::cleanPath(video.thumbCopy));
        }
        break;
    }
    case 49: {
        QString address;
        c = sharedLinkHtml(raw, m_hooks.showMessage, &address);
        if (!address.isEmpty() && !placement)
            m_links.push_back(address);
        break;
    }
    case 50:
        c = callHtml(raw, m_hooks.showMessage);
        break;
    default:
        text = true;
        c = htmlEscape(raw);
    }

    QString header;
    if (r.sent) {
        header = m_group ? QStringLiteral("我  ") + r.date : r.date;
    } else {
        const QString who = htmlEscape(senderName(index));
        // The name takes the id's place at the head of the text only: replaced across the
        // entry, an id like "src" would rewrite the page's own tags.
        const qsizetype colon = raw.indexOf(QLatin1Char(':'));
        if (m_group && text && colon > 0)
            c = who + htmlEscape(raw.mid(colon));
        header = who + QStringLiteral("  ") + r.date;
    }
    return messageEntry(r.sent, t, header, c);
}
