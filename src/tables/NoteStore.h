#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

class QSqlDatabase;

// The notes of NoteStore.sqlite (iOS 9 and later). A note's body, ZICNOTEDATA.ZDATA, is a gzip
// stream of a protobuf document: field 2 (the document) -> field 3 (the note) -> field 2 is the
// text in UTF-8; U+FFFC marks where an attachment sits. Locked notes hold ciphertext instead.

// Inflates a gzip or zlib stream, stopping with nothing past maxSize bytes of output (a small
// blob may inflate to gigabytes) or on any error.
std::optional<QByteArray> inflateGzip(QByteArrayView data, qsizetype maxSize = 64 * 1024 * 1024);

// The first length-delimited value of field number fieldNumber at the top level of the
// protobuf message, walking every other field by its wire type; nothing when the message is
// malformed or has no such field. Never reads outside message.
std::optional<QByteArrayView> protobufField(QByteArrayView message, quint64 fieldNumber);

// The text of a note from its ZDATA; nothing when the data is no gzip (a locked note's
// ciphertext) or holds no text.
std::optional<QString> noteStoreText(QByteArrayView zdata);

// Makes note_text(blob) known to the connection: the note's text, or NULL (see noteStoreText).
void registerNoteFunctions(const QSqlDatabase& db);
