#include "app/Language.h"

#include "util/Error.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QPointer>

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
            if (!table.m_entries.contains(source))
                table.m_entries.insert(source, line.mid(equals + 1).toString());
        }
        if (end < text.size() && text[end] == QLatin1Char('\r') && end + 1 < text.size() &&
            text[end + 1] == QLatin1Char('\n'))
            ++end;
        start = end + 1;
    }
    return table;
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
    if (TTableTranslator* old = installedTranslator()) {
        QCoreApplication::removeTranslator(old);
        delete old; // owned by the application object until now
    }
}
