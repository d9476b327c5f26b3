#include "WechatData.h"
#include "app/InstalledFiles.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

// The Debian package: scripts/package.sh builds and checks it (lintian, desktop-file-validate,
// appstreamcli), this test looks at what it holds and installs it on this machine with apt,
// runs what was installed, and removes it again, whatever the outcome.
class TestPackage final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void holds_data();
    void holds();
    void holdsNothingElse();
    void dependsOnDebianRuntimePackages();
    void installsWithApt();
    void installedDecoderDecodes();
    void installedProgramFindsItsFiles();

private:
    struct Run
    {
        int exitCode = -1;
        QString out;
        QString err;
    };
    static Run run(const QString& program, const QStringList& args, int timeoutMs = 120000,
                   const QString& workingDir = {});
    static Run runAsRoot(const QStringList& command, int timeoutMs = 600000);
    static QString packageStatus();

    QString m_deb;
    QStringList m_files;
    bool m_installed = false;
};

namespace {

const QString kAppId = QStringLiteral(FERROWICK_APP_ID);

} // namespace

TestPackage::Run TestPackage::run(const QString& program, const QStringList& args, int timeoutMs,
                                  const QString& workingDir)
{
    QProcess p;
    if (!workingDir.isEmpty())
        p.setWorkingDirectory(workingDir);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("%1 did not finish: %2").arg(program, p.errorString());
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

TestPackage::Run TestPackage::runAsRoot(const QStringList& command, int timeoutMs)
{
    // Another apt may hold the lock for a while (another build installing what it needs).
    QStringList args = command;
    if (args.value(0) == QLatin1String("apt-get"))
        args.insert(1, QStringLiteral("-o=DPkg::Lock::Timeout=600"));
    if (::geteuid() == 0)
        return run(args.takeFirst(), args, timeoutMs);
    return run(QStringLiteral("sudo"), QStringList{QStringLiteral("-n")} + args, timeoutMs);
}

QString TestPackage::packageStatus()
{
    return run(QStringLiteral("dpkg-query"),
               {QStringLiteral("-W"), QStringLiteral("-f=${Status}"), QStringLiteral("ferrowick")})
        .out;
}

void TestPackage::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dpkg")).isEmpty())
        QSKIP("not a Debian system");
    if (::geteuid() != 0 && run(QStringLiteral("sudo"), {"-n", "true"}).exitCode != 0)
        QSKIP("installing the package needs root or sudo without a password");
    // A ferrowick package someone installed is theirs: the test would replace and remove it.
    if (packageStatus().contains(QLatin1String("installed")))
        QSKIP("a ferrowick package is installed on this machine; remove it (apt-get remove "
              "ferrowick) to run this test");

    // Minutes: a build of the program with Debian's flags, then the checks.
    const Run made = run(QStringLiteral("bash"),
                         {QStringLiteral(FERROWICK_SOURCE_DIR "/scripts/package.sh"),
                          QStringLiteral(FERROWICK_BINARY_DIR "/package")},
                         50 * 60 * 1000);
    QVERIFY2(made.exitCode == 0, qPrintable(made.out.right(4000) + made.err.right(4000)));
    m_deb = made.out.trimmed().split(QLatin1Char('\n')).constLast();
    QVERIFY2(m_deb.endsWith(QLatin1String(".deb")) && QFileInfo(m_deb).isFile(), qPrintable(m_deb));
    QVERIFY2(QFileInfo(m_deb).fileName().startsWith(QLatin1String("ferrowick_0.1-1_")),
             qPrintable(m_deb));

    const Run listing = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_deb});
    QCOMPARE(listing.exitCode, 0);
    for (const QString& line : listing.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        m_files << line.section(QLatin1Char(' '), -1).remove(QRegularExpression("^\\."));
}

void TestPackage::cleanupTestCase()
{
    if (!m_installed)
        return;
    // The machine as it was: the package and its files gone (what apt pulled in stays).
    const Run removed = runAsRoot({"apt-get", "purge", "-y", "-q", "ferrowick"});
    QVERIFY2(removed.exitCode == 0, qPrintable(removed.out + removed.err));
    QVERIFY(!packageStatus().contains(QLatin1String("installed")));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/usr/bin/ferrowick")));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/usr/libexec/ferrowick")));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/usr/share/ferrowick")));
}

void TestPackage::holds_data()
{
    QTest::addColumn<QString>("path");
    for (const QString& p :
         {QStringLiteral("/usr/bin/ferrowick"),
          QStringLiteral("/usr/libexec/ferrowick/SilkDecoder"),
          QStringLiteral("/usr/libexec/ferrowick/node_modules/silk-wasm/package.json"),
          QStringLiteral("/usr/libexec/ferrowick/node_modules/silk-wasm/lib/index.cjs"),
          QStringLiteral("/usr/libexec/ferrowick/node_modules/silk-wasm/lib/silk.wasm"),
          QStringLiteral("/usr/share/ferrowick/Lang/zh.txt"),
          QStringLiteral("/usr/share/applications/%1.desktop").arg(kAppId),
          QStringLiteral("/usr/share/metainfo/%1.metainfo.xml").arg(kAppId),
          QStringLiteral("/usr/share/icons/hicolor/scalable/apps/%1.svg").arg(kAppId),
          QStringLiteral("/usr/share/icons/hicolor/16x16/apps/%1.png").arg(kAppId),
          QStringLiteral("/usr/share/icons/hicolor/48x48/apps/%1.png").arg(kAppId),
          QStringLiteral("/usr/share/icons/hicolor/256x256/apps/%1.png").arg(kAppId),
          QStringLiteral("/usr/share/man/man1/ferrowick.1.gz"),
          QStringLiteral("/usr/share/doc/ferrowick/README.html"),
          QStringLiteral("/usr/share/doc/ferrowick/docs/main-window.png"),
          QStringLiteral("/usr/share/doc/ferrowick/docs/playback-window.png"),
          QStringLiteral("/usr/share/doc/ferrowick/copyright"),
          QStringLiteral("/usr/share/doc/ferrowick/changelog.Debian.gz")})
        QTest::newRow(qPrintable(p)) << p;
}

void TestPackage::holds()
{
    QFETCH(QString, path);
    QVERIFY2(m_files.contains(path), qPrintable(m_files.join(QLatin1Char('\n'))));
}

void TestPackage::holdsNothingElse()
{
    QVERIFY(!m_files.isEmpty());
    for (const QString& f : m_files) {
        QVERIFY2(f.startsWith(QLatin1String("/usr/")) && !f.startsWith(QLatin1String("/usr/local")),
                 qPrintable(f));
        // No test programs, development tools or sources.
        QVERIFY2(!f.contains(QLatin1String("tst_")) && !f.contains(QLatin1String("samplegen")) &&
                     !f.contains(QLatin1String("bench")) && !f.endsWith(QLatin1String(".cpp")),
                 qPrintable(f));
    }
    // No path of the build machine inside the installed text files.
    QTemporaryDir tree;
    QCOMPARE(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, tree.path()}).exitCode,
             0);
    for (const QString& text : {QStringLiteral("usr/libexec/ferrowick/SilkDecoder"),
                                QStringLiteral("usr/share/doc/ferrowick/README.html"),
                                "usr/share/applications/" + kAppId + ".desktop"}) {
        QFile f(tree.filePath(text));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY2(!bytes.contains(FERROWICK_SOURCE_DIR) && !bytes.contains(FERROWICK_BINARY_DIR),
                 qPrintable(text));
    }
}

void TestPackage::dependsOnDebianRuntimePackages()
{
    const Run control =
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb, QStringLiteral("Depends")});
    QCOMPARE(control.exitCode, 0);
    QStringList names;
    for (const QString& dep : control.out.trimmed().split(QLatin1Char(','))) {
        // "a (>= 1) | b" names a and b.
        for (const QString& alternative : dep.split(QLatin1Char('|')))
            names << alternative.trimmed().section(QLatin1Char(' '), 0, 0);
    }
    // What the program links, found by dpkg-shlibdeps, and what it loads at run time.
    for (const char* needed :
         {"libqt6widgets6", "libqt6webenginewidgets6", "libqt6sql6", "libqt6dbus6", "libavcodec59",
          "libavformat59", "libavfilter8", "libswresample4", "libsdl2-2.0-0", "libsdl2-mixer-2.0-0",
          "libplist3", "libpugixml1v5", "libqt6sql6-sqlite", "qt6-qpa-plugins",
          "libqt6webenginecore6-bin", "nodejs"})
        QVERIFY2(names.contains(QLatin1String(needed)), needed);
    // Each one a package this system's Debian release has, none a development package.
    for (const QString& name : names) {
        QVERIFY2(!name.endsWith(QLatin1String("-dev")), qPrintable(name));
        const Run known = run(QStringLiteral("apt-cache"), {QStringLiteral("show"), name});
        QVERIFY2(known.exitCode == 0 && !known.out.isEmpty(), qPrintable(name));
    }
}

void TestPackage::installsWithApt()
{
    const Run installed = runAsRoot({"apt-get", "install", "-y", "-q", m_deb});
    m_installed = true; // remove it afterwards even when apt stopped half-way
    QVERIFY2(installed.exitCode == 0, qPrintable(installed.out.right(3000) + installed.err));
    QCOMPARE(packageStatus(), QStringLiteral("install ok installed"));
    QVERIFY(QFileInfo(QStringLiteral("/usr/bin/ferrowick")).isExecutable());
    // The manual page is where man looks.
    const Run man = run(QStringLiteral("man"), {QStringLiteral("-w"), QStringLiteral("ferrowick")});
    QCOMPARE(man.out.trimmed(), QStringLiteral("/usr/share/man/man1/ferrowick.1.gz"));
}

void TestPackage::installedDecoderDecodes()
{
    if (!m_installed)
        QSKIP("not installed");
    // Where the program looks for its decoder, relative to the installed program.
    const QString decoder = findHelperProgram(QStringLiteral("SilkDecoder"), "/usr/bin");
    QCOMPARE(decoder, QStringLiteral("/usr/libexec/ferrowick/SilkDecoder"));
    // A voice message in the form the viewer hands over (without its first byte), decoded by
    // the installed decoder with the installed silk-wasm, from a folder that has none.
    QTemporaryDir dir;
    const QByteArray voice = wechat::silkVoice(1.0, 440.0).mid(1);
    QFile in(dir.filePath("v.silk"));
    QVERIFY(in.open(QIODevice::WriteOnly) && in.write(voice) == voice.size());
    in.close();
    const Run decoded =
        run(decoder, {dir.filePath("v.silk"), dir.filePath("v.pcm")}, 60000, dir.path());
    QVERIFY2(decoded.exitCode == 0, qPrintable(decoded.err));
    // One second of 16-bit stereo at 11780 Hz.
    QVERIFY2(qAbs(QFileInfo(dir.filePath("v.pcm")).size() - 11780 * 4) < 11780 * 4 / 10,
             qPrintable(QString::number(QFileInfo(dir.filePath("v.pcm")).size())));
}

void TestPackage::installedProgramFindsItsFiles()
{
    if (!m_installed)
        QSKIP("not installed");
    QCOMPARE(documentationFile("/usr/bin"), QStringLiteral("/usr/share/doc/ferrowick/README.html"));
    // The installed program, for a Chinese user, started from a folder without Lang/: it
    // reads the installed table and Qt's Chinese texts, and says so in its debug output.
    QTemporaryDir home;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LANG", "zh_CN.UTF-8");
    env.insert("LC_ALL", "zh_CN.UTF-8");
    env.insert("LANGUAGE", "zh_CN");
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("QT_LOGGING_RULES", "ferrowick.*.debug=true");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(home.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("/usr/bin/ferrowick"), {});
    QVERIFY(p.waitForStarted());
    QString output;
    const QString table = QStringLiteral("language table /usr/share/ferrowick/Lang/zh.txt");
    const QString qt = QStringLiteral("Qt translation /usr/share/qt6/translations/qt_zh_CN.qm");
    QDeadlineTimer deadline(30000);
    while (!(output.contains(table) && output.contains(qt)) && !deadline.hasExpired() &&
           p.state() == QProcess::Running) {
        p.waitForReadyRead(200);
        output += QString::fromUtf8(p.readAll());
    }
    const bool running = p.state() == QProcess::Running;
    p.terminate();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
    }
    QVERIFY2(running, qPrintable(output));
    QVERIFY2(output.contains(table), qPrintable(output));
    QVERIFY2(output.contains(qt), qPrintable(output));
    QVERIFY2(!output.contains(QLatin1String("cannot find the language file")), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
