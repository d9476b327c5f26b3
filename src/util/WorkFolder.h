#pragma once

#include <QString>

#include <memory>

class QFile;
class QTemporaryDir;

// The program's private working folder: one per process, under the platform's temporary
// folder, mode 0700, made on first use. Everything the program writes as a temporary file
// (decrypted copies, the chat page and its media, decoded voice, image copies) goes below it:
// these are someone's messages and photos, so no other user may read them, no name can be
// planted in advance, and nothing outlives the program's use of it.
class TWorkFolder final
{
    Q_DISABLE_COPY_MOVE(TWorkFolder)

public:
    // The process-wide root, made on first use. Throws Error when it cannot be made.
    static QString root();
    // Removes the root and everything below it (normal exit, SIGINT, SIGTERM). A later root()
    // makes a fresh one.
    static void removeAll();
    // Whether path lies inside the root (both made absolute and clean; links not followed).
    static bool contains(const QString& path);

    // A fresh sub-folder of the root, mode 0700, named prefix plus a random part; removed with
    // everything in it when this object goes away. Throws Error when it cannot be made.
    explicit TWorkFolder(const QString& prefix);
    ~TWorkFolder();

    const QString& path() const { return m_path; }
    QString filePath(const QString& name) const;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

// Opens path as a new file (it must not exist: no planted file or link is followed) for
// writing, mode 0600. Throws Error naming the file on failure.
void createPrivateFile(QFile& file, const QString& path);
