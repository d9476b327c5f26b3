#pragma once

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>

// Every file below folder with the SHA-1 of its content: equal snapshots before and after
// an operation prove that nothing was written, added or removed there.
inline QMap<QString, QByteArray> folderSnapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    const QDir base(folder);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        QByteArray digest = "unreadable";
        if (file.open(QIODevice::ReadOnly)) {
            QCryptographicHash hash(QCryptographicHash::Sha1);
            hash.addData(&file);
            digest = hash.result().toHex();
        }
        files.insert(base.relativeFilePath(path), digest);
    }
    return files;
}
