#pragma once

#include <QByteArray>
#include <QString>

class SampleBackup;

// The databases and recordings of a current iPhone (iOS 15 to 17) in the formats the phone
// writes them, with only the tables and columns the viewer reads plus a few neighbours. Their
// rows exercise the record tables and the recordings window: each kind of call, plain, long,
// locked, deleted and offloaded notes, and voice memos titled each way the app titles them.
namespace CurrentDatabases {

// Library/CallHistoryDB/CallHistory.storedata (Core Data): ZCALLRECORD with an outgoing, an
// incoming and a missed phone call, FaceTime video and audio calls and a call of another
// app; numbers in other forms than the address book's, one kept as text instead of a blob.
QByteArray callHistoryStore();

// NoteStore.sqlite of the Notes group container: ZICCLOUDSYNCINGOBJECT and ZICNOTEDATA, with
// entity numbers unlike the real iOS 15 file's.
QByteArray noteStore();

// A note body as the phone stores it: gzip of the protobuf document holding text.
QByteArray noteBody(const QString& text);

// Recordings/CloudRecordings.db of the Voice Memos group container.
QByteArray cloudRecordings();

// An AAC recording (.m4a) of a sine tone made by the ffmpeg tool, with a title tag unless
// title is empty.
QByteArray titledRecording(double seconds, double frequency, const QString& title);

// The texts the generated notes hold, for the tests.
QString longNoteText();

} // namespace CurrentDatabases

// Adds the call history, the notes and the voice memos (CloudRecordings.db and its .m4a files,
// one row without its file) to backup under the domains and paths a current iPhone uses.
void addCurrentDatabases(SampleBackup& backup);
