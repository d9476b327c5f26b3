// Writes the seed corpus of every fuzz target into FOLDER/<target>/, from the project's own
// sample-backup generator (and the real keybag beside the clone, when it is there).
#include "AttributedBody.h"
#include "CurrentDatabases.h"
#include "SampleBackup.h"
#include "SampleEncryption.h"
#include "WechatData.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <cstdio>

namespace {

void seed(const QString& folder, const QString& target, const QByteArray& bytes)
{
    const QDir dir(QDir(folder).filePath(target));
    QDir().mkpath(dir.path());
    QFile out(dir.filePath(
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex())));
    if (out.open(QIODevice::WriteOnly))
        out.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

SampleBackup small(SampleBackup::Catalog catalog)
{
    SampleBackup b;
    b.catalog = catalog;
    b.addFiller(40, 3);
    b.addFile("HomeDomain", "Library/SMS/sms.db", "sms");
    b.addDirectory("HomeDomain", "Library");
    return b;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir tmp;
    int n = 0;
    for (bool encrypted : {false, true}) {
        for (auto catalog : {SampleBackup::Catalog::Mbdb, SampleBackup::Catalog::Db}) {
            for (auto form : {SampleBackup::InfoForm::Xml, SampleBackup::InfoForm::Binary}) {
                SampleBackup b = small(catalog);
                b.infoForm = form;
                if (encrypted)
                    b.encryption = SampleEncryption{"pw", 1, 1, quint32(n)};
                const QString folder = tmp.filePath(QString::number(n++));
                b.write(folder);
                const QDir dir(folder);
                seed(out, "plist", readFile(dir.filePath("Info.plist")));
                if (encrypted)
                    seed(out, "plist", readFile(dir.filePath("Manifest.plist")));
                if (catalog == SampleBackup::Catalog::Mbdb) {
                    seed(out, "mbdb", readFile(dir.filePath("Manifest.mbdb")));
                    continue;
                }
                if (encrypted)
                    continue;
                QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "seeds");
                db.setDatabaseName(dir.filePath("Manifest.db"));
                if (db.open()) {
                    QSqlQuery q(db);
                    q.exec("select file from Files limit 12");
                    while (q.next())
                        seed(out, "mbfile", q.value(0).toByteArray());
                }
                db.close();
                db = QSqlDatabase();
                QSqlDatabase::removeDatabase("seeds");
            }
        }
    }
    for (bool modern : {false, true})
        seed(out, "keybag", SampleKeys(SampleEncryption{"pw", 1, 1, 9}, modern).keybag());
    seed(out, "keybag",
         readFile(
             QStringLiteral(FERROWICK_SOURCE_DIR "/../shared/real-data/keybags/keybag-zeros.bin")));
    for (const char* payload :
         {"<msg><voicemsg voicelength=\"2400\" length=\"3000\"/></msg>",
          "<msg><appmsg><title>Trip report</title><des>Ten days</des>"
          "<url>https://example.com/trip</url></appmsg></msg>",
          "<msg><appmsg><title>Where I am</title><type>17</type></appmsg></msg>",
          "<voipmsg><duration>3725</duration></voipmsg>",
          "wxid_abc:\n<msg><voicemsg voicelength=\"1499\"/></msg>"})
        seed(out, "chatpayload", QByteArray(payload));
    for (const QString& text : {QStringLiteral("hi"), QString(200, QChar(0x4F60)),
                                QStringLiteral("\uFFFC photo")})
        seed(out, "typedstream", attributedBodyFor(text));
    seed(out, "contactremark", wechat::contactRemark(QStringLiteral("Grace"), QStringLiteral("g"),
                                                     QStringLiteral("Gracie")));
    seed(out, "contactremark", wechat::contactRemark({}, QStringLiteral("ivy_88"), {}));
    const QDir real(QStringLiteral(FERROWICK_SOURCE_DIR "/../shared/real-data/typedstream"));
    for (const QString& name : real.entryList({QStringLiteral("*.bin")}))
        seed(out, "typedstream", readFile(real.filePath(name)));
    for (const QString& text : {QStringLiteral("Shopping\nMilk"), CurrentDatabases::longNoteText()})
        seed(out, "notestore", CurrentDatabases::noteBody(text));
    // The real notes' bodies, plain and locked.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "notes");
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY"));
        db.setDatabaseName(QStringLiteral("file:" FERROWICK_SOURCE_DIR
                                          "/../shared/real-data/notes-ios15/NoteStore.sqlite"
                                          "?mode=ro&immutable=1"));
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("SELECT ZDATA FROM ZICNOTEDATA WHERE ZDATA IS NOT NULL"));
            while (q.next())
                seed(out, "notestore", q.value(0).toByteArray());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("notes");
    seed(out, "mp4title", CurrentDatabases::titledRecording(0.2, 440, QStringLiteral("Idea")));
    seed(out, "mp4title", CurrentDatabases::titledRecording(0.2, 440, QString()));
    return 0;
}
