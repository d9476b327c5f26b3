// ferrowick-samplegen: writes a synthetic backup folder.
#include "SampleBackup.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <stdexcept>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes a synthetic iPhone backup folder."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("folder"),
                                 QStringLiteral("backup folder to write"));
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("the demo backup of the run command"));
    const QCommandLineOption demoCurrent(
        QStringLiteral("demo-current"),
        QStringLiteral("the run command's second demo backup, of a current iPhone"));
    const QCommandLineOption format(QStringLiteral("format"), QStringLiteral("catalog: mbdb or db"),
                                    QStringLiteral("format"), QStringLiteral("db"));
    const QCommandLineOption records(QStringLiteral("records"),
                                     QStringLiteral("number of filler records"),
                                     QStringLiteral("n"), QStringLiteral("1000"));
    const QCommandLineOption name(QStringLiteral("device-name"), QStringLiteral("device name"),
                                  QStringLiteral("name"));
    const QCommandLineOption date(QStringLiteral("date"),
                                  QStringLiteral("last backup date, ISO 8601 UTC"),
                                  QStringLiteral("date"));
    const QCommandLineOption binary(QStringLiteral("binary-plist"),
                                    QStringLiteral("binary Info.plist"));
    const QCommandLineOption wal(QStringLiteral("wal"), QStringLiteral("Manifest.db in WAL mode"));
    const QCommandLineOption noCopies(QStringLiteral("no-copies"),
                                      QStringLiteral("write the catalog only"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("random seed"),
                                  QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption password(QStringLiteral("password"),
                                      QStringLiteral("encrypt the backup with this password"),
                                      QStringLiteral("password"));
    const QCommandLineOption dpic(
        QStringLiteral("dpic"), QStringLiteral("SHA-256 rounds of the key derivation (iOS 10.2+)"),
        QStringLiteral("n"), QStringLiteral("10000000"));
    const QCommandLineOption iter(QStringLiteral("iter"),
                                  QStringLiteral("SHA-1 rounds of the key derivation"),
                                  QStringLiteral("n"), QStringLiteral("10000"));
    parser.addOptions(
        {demo, demoCurrent, format, records, name, date, binary, wal, noCopies, seed, password, dpic, iter});
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);

    try {
        SampleBackup backup;
        const bool anyDemo = parser.isSet(demo) || parser.isSet(demoCurrent);
        if (parser.isSet(demo)) {
            backup = SampleBackup::demo();
        } else if (parser.isSet(demoCurrent)) {
            backup = SampleBackup::demoCurrent();
        } else {
            bool ok = false;
            const int n = parser.value(records).toInt(&ok);
            if (!ok || n < 0)
                throw std::runtime_error("--records takes a whole number");
            backup.addFiller(n, parser.value(seed).toUInt());
        }
        const QString fmt = parser.value(format);
        if (fmt != QLatin1String("db") && fmt != QLatin1String("mbdb"))
            throw std::runtime_error("--format takes mbdb or db");
        if (parser.isSet(format) || !anyDemo)
            backup.catalog = fmt == QLatin1String("db") ? SampleBackup::Catalog::Db
                                                        : SampleBackup::Catalog::Mbdb;
        if (parser.isSet(name))
            backup.deviceName = parser.value(name);
        if (parser.isSet(date)) {
            QDateTime when = QDateTime::fromString(parser.value(date), Qt::ISODate);
            if (!when.isValid())
                throw std::runtime_error("--date takes an ISO 8601 date and time");
            backup.lastBackup = when.toUTC();
        }
        if (parser.isSet(binary))
            backup.infoForm = SampleBackup::InfoForm::Binary;
        backup.walCatalog = parser.isSet(wal);
        backup.writeCopies = !parser.isSet(noCopies);
        if (parser.isSet(password)) {
            SampleEncryption encryption;
            encryption.password = parser.value(password).toUtf8();
            bool okDpic = false;
            bool okIter = false;
            encryption.dpic = parser.value(dpic).toUInt(&okDpic);
            encryption.iter = parser.value(iter).toUInt(&okIter);
            if (!okDpic || !okIter || encryption.dpic == 0 || encryption.iter == 0)
                throw std::runtime_error("--dpic and --iter take a positive whole number");
            backup.encryption = encryption;
        }
        backup.write(parser.positionalArguments().constFirst());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ferrowick-samplegen: %s\n", e.what());
        return 1;
    }
    return 0;
}
