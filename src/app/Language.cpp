#include "app/Language.h"

#include "app/InstalledFiles.h"
#include "util/Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QPointer>

#include <algorithm>

namespace {
Q_LOGGING_CATEGORY(lcLanguage, "ferrowick.language", QtWarningMsg)
}

QString GetUserLanguage()
{
    return QLocale::languageToCode(QLocale().language());
}

TLanguageTable TLanguageTable::parse(const QByteArray& utf8)
{
    QByteArrayView bytes(utf8);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    const QString text = QString::fromUtf8(bytes);

    TLanguageTable table;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != QLatin1Char('\r') &&
               text[end] != QLatin1Char('\n'))
            ++end;
        const QStringView line = QStringView(text).mid(start, end - start);
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals >= 0) {
            const QString source = line.left(equals).toString();
            if (!table.m_entries.contains(source)) {
                const QString translation = line.mid(equals + 1).toString();
                table.m_entries.insert(source, translation);
                table.addPattern(source, translation);
            }
        }
        if (end < text.size() && text[end] == QLatin1Char('\r') && end + 1 < text.size() &&
            text[end + 1] == QLatin1Char('\n'))
            ++end;
        start = end + 1;
    }
    std::stable_sort(
        table.m_patterns.begin(), table.m_patterns.end(),
        [](const Pattern& a, const Pattern& b) { return a.fixedLength > b.fixedLength; });
    return table;
}

void TLanguageTable::addPattern(const QString& source, const QString& translation)
{
    static const QRegularExpression placeholder(QStringLiteral("%([1-9])"));
    QString expression = QStringLiteral("\\A");
    Pattern pattern;
    qsizetype done = 0;
    for (auto it = placeholder.globalMatch(source); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString fixed = source.mid(done, m.capturedStart() - done);
        expression += QRegularExpression::escape(fixed) + QStringLiteral("(.*?)");
        pattern.fixedLength += fixed.size();
        pattern.numbers.push_back(m.captured(1).toInt());
        done = m.capturedEnd();
    }
    if (pattern.numbers.empty())
        return;
    const QString rest = source.mid(done);
    pattern.fixedLength += rest.size();
    // A bare "%1" would match every message.
    if (pattern.fixedLength == 0)
        return;
    expression += QRegularExpression::escape(rest) + QStringLiteral("\\z");
    pattern.source.setPattern(expression);
    pattern.source.setPatternOptions(QRegularExpression::DotMatchesEverythingOption);
    pattern.translation = translation;
    m_patterns.push_back(std::move(pattern));
}

QString TLanguageTable::lookupMessage(const QString& message) const
{
    for (const Pattern& pattern : m_patterns) {
        const QRegularExpressionMatch m = pattern.source.match(message);
        if (!m.hasMatch())
            continue;
        // One pass over the translation, so a piece holding "%2" stays as it is.
        QString result;
        const QString& t = pattern.translation;
        for (qsizetype i = 0; i < t.size(); ++i) {
            if (t[i] == QLatin1Char('%') && i + 1 < t.size() && t[i + 1] >= QLatin1Char('1') &&
                t[i + 1] <= QLatin1Char('9')) {
                const int number = t[i + 1].digitValue();
                const auto at = std::find(pattern.numbers.begin(), pattern.numbers.end(), number);
                if (at != pattern.numbers.end()) {
                    result += m.captured(int(at - pattern.numbers.begin()) + 1);
                    ++i;
                    continue;
                }
            }
            result += t[i];
        }
        return result;
    }
    return {};
}

TLanguageTable TLanguageTable::load(const QString& file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        throw Error(
            QStringLiteral("cannot read the language file %1: %2").arg(file, in.errorString()));
    return parse(in.readAll());
}

TTableTranslator::TTableTranslator(TLanguageTable table, QObject* parent)
    : QTranslator(parent), m_table(std::move(table))
{
}

QString TTableTranslator::translate(const char*, const char* sourceText, const char*, int) const
{
    if (!sourceText)
        return {};
    return m_table.lookup(QString::fromUtf8(sourceText));
}

namespace {
QPointer<TTableTranslator>& installedTranslator()
{
    static QPointer<TTableTranslator> translator;
    return translator;
}

std::vector<QPointer<QTranslator>>& qtTranslators()
{
    static std::vector<QPointer<QTranslator>> translators;
    return translators;
}

void removeQtTranslations()
{
    for (QPointer<QTranslator>& translator : qtTranslators()) {
        if (translator) {
            QCoreApplication::removeTranslator(translator);
            delete translator.data(); // owned by the application object until now
        }
    }
    qtTranslators().clear();
}
} // namespace

void installLanguageTable(TLanguageTable table)
{
    removeLanguageTable();
    // Owned by the application object, so it lives as long as any window may ask it.
    auto* translator = new TTableTranslator(std::move(table), QCoreApplication::instance());
    installedTranslator() = translator;
    QCoreApplication::installTranslator(translator);
}

void removeLanguageTable()
{
    removeQtTranslations();
    if (TTableTranslator* old = installedTranslator()) {
        QCoreApplication::removeTranslator(old);
        delete old; // owned by the application object until now
    }
}

QString translateMessage(const QString& text)
{
    const QByteArray source = text.toUtf8();
    const QString translated = QCoreApplication::translate("Ferrowick", source.constData());
    if (translated != text)
        return translated;
    if (const TTableTranslator* translator = installedTranslator()) {
        const QString made = translator->table().lookupMessage(text);
        if (!made.isNull())
            return made;
    }
    return text;
}

QStringList installQtTranslations(const QLocale& locale)
{
    removeQtTranslations();
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    QStringList loaded;
    // "qt" gathers Qt's modules (qtbase and others); WebEngine has a file of its own.
    for (const char* catalog : {"qt", "qtwebengine"}) {
        auto* translator = new QTranslator(QCoreApplication::instance());
        if (!translator->load(locale, QLatin1String(catalog), QStringLiteral("_"), folder)) {
            delete translator;
            qCDebug(lcLanguage, "no %s translation for %s in %s", catalog,
                    qUtf8Printable(locale.name()), qUtf8Printable(folder));
            continue;
        }
        QCoreApplication::installTranslator(translator);
        qtTranslators().emplace_back(translator);
        loaded << translator->filePath();
        qCDebug(lcLanguage, "Qt translation %s", qUtf8Printable(translator->filePath()));
    }
    return loaded;
}

void LoadUserLanguage()
{
    if (!GetUserLanguage().contains(QLatin1String("zh")))
        return;
    const QString name = QStringLiteral("zh.txt");
    const QString file = findLanguageFile(name);
    if (file.isEmpty())
        throw Error(QStringLiteral("cannot find the language file Lang/%1 in %2")
                        .arg(name, languageFolders(QCoreApplication::applicationDirPath(),
                                                   QDir::currentPath())
                                       .join(QStringLiteral(", "))));
    installLanguageTable(TLanguageTable::load(file));
    qCDebug(lcLanguage, "language table %s", qUtf8Printable(file));
    installQtTranslations(QLocale());
}
