#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// Pieces of the chat history page. Every literal here is the page's output format; the page is
// a local file that runs script, so text written by other people is escaped before it goes in.

// Escapes &, <, >, " and ' so that the text shows as text, also inside an attribute.
QString htmlEscape(const QString& text);

// Seconds of a voice message from its payload's voicelength="ms" attribute, a half second
// going up. Throws an Error when the attribute is missing or is no integer.
int voiceSeconds(const QString& message);
// The voice bar's width: 10 px a second over 60, at most 190.
int voiceWidth(int seconds);

// A click goes to linkPrefix + the media file's name: the view's private scheme by default,
// or a relative folder ("media/") for a page exported with its media.
QString imageMessageHtml(const QString& thumbCopy, const QString& imageName,
                         const QString& linkPrefix = QStringLiteral("image://"));
QString videoMessageHtml(const QString& thumbCopy, const QString& videoName,
                         const QString& linkPrefix = QStringLiteral("video://"));
// Without seconds (an unreadable length) the length label stays empty and the bar is shortest.
QString voiceMessageHtml(bool sent, std::optional<int> seconds, const QString& playName,
                         const QString& linkPrefix = QStringLiteral("audio://"));
// A picture in WeChat's own format: a notice in place of the picture. In the view a click
// asks to save the file (save://name); exported, target is the copy's relative path.
QString unsupportedPictureHtml(const QString& target, bool inView);

// Reports an unreadable payload; the build goes on with empty values.
using PayloadFailure = std::function<void(const QString& text)>;

// Type 49: a shared link, or the live-location notice. Only http and https addresses become
// links; the address, title and description are escaped. A link made sets *address to it.
QString sharedLinkHtml(const QString& message, const PayloadFailure& failure,
                       QString* address = nullptr);
// Type 50: the call's duration as h:m:s. A duration that is no integer is reported as a
// failure and reads 0.
QString callHtml(const QString& message, const PayloadFailure& failure);

// The text of the first node matching xpath in a message's XML payload (from its "<msg>" on),
// empty when there is none or the payload is no XML.
QString payloadField(const QString& message, const char* xpath);

// One message's entry: the header column followed by the content column. Types 3 and 43 centre
// their bubble; type 34 brings its own markup and gets no bubble.
QString messageEntry(bool sent, int type, const QString& header, const QString& content);

// The page: style block, then the body holding the entries, each followed by CR LF. Entries are
// kept as the file's bytes already (UTF-8, CR LF line ends): a 100,000-message page is built
// and written without ever holding the whole text twice.
class ChatPageWriter final
{
    Q_DISABLE_COPY_MOVE(ChatPageWriter)

public:
    ChatPageWriter() = default;

    void addEntry(const QString& entry);
    bool isEmpty() const { return m_count == 0; }
    qsizetype count() const { return m_count; }

    // Writes the page as SaveTextToFile would write its whole text. Throws an Error on failure.
    void save(const QString& path) const;

    // An entry as the page file holds it: UTF-8, CR LF line ends, followed by CR LF.
    static QByteArray encodeEntry(const QString& entry);
    // Writes the page of entries already in the file's bytes, as save() writes its own.
    static void save(const QString& path, const std::vector<QByteArray>& entries);

private:
    QByteArray m_entries;
    qsizetype m_count = 0;
};

// The page a view loads first, from a private scheme: the same style and entries as the page
// file (each entry in the file's bytes, wrapped in an element of class "e" that takes no box of
// its own, so the layout is the file's), the newest ones of [first, total), and the script that
// asks rangeUrl + "/<a>/<b>" for others as the user scrolls (see pagedViewScript). Its content
// policy lets it load pictures and entries of scheme only; the entries' own click handlers run.
QByteArray chatPageShell(const QByteArray& newestEntries, int first, int total,
                         const QString& rangeUrl, const QString& scheme, int page, int keep);
// Entries in the file's bytes as the view's page holds them.
void appendViewEntry(QByteArray& out, const QByteArray& entry);

// Appends text as UTF-8 with every line end (CR, LF or CR LF) written as CR LF, and a CR LF
// after a last line that has none.
void appendFileLines(QByteArray& out, const QString& text);

// Writes text as UTF-8 with a byte-order mark, every line ended by CR LF. Replaces the file;
// throws an Error naming the path on failure.
void SaveTextToFile(const QString& text, const QString& path);
