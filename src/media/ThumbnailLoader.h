#pragma once

#include "util/ExportFile.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QThreadPool>

#include <vector>

// Makes the thumbnails of a list of pictures on pool threads and keeps them as small JPEG
// files in a cache folder (the loaded backup's private working folder), so a picture is
// decoded once per session. The GUI thread only schedules: it picks the next picture (the
// most recently wanted first, then the rest in order), resolves its file (an encrypted
// backup's copy is decrypted there, by the resolver, which is GUI-thread only) and hands it
// to the pool; the results come back as queued signals.
//
// Called from the GUI thread only.
class TThumbnailLoader final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TThumbnailLoader)

public:
    // side: the square thumbnails fit into. An empty resolver opens files as they are.
    TThumbnailLoader(QString cacheFolder, QSize side, TFileResolver resolve = {},
                     QObject* parent = nullptr);
    // Drops what is queued and waits for the pictures being decoded.
    ~TThumbnailLoader() override;

    // A new list; what was wanted for the old one is dropped and its results never arrive.
    void setFiles(std::vector<QString> srcFiles);
    // Picture index is wanted soon (it is on screen): it goes before everything queued. A
    // thumbnail made before is read again from its cache file (the caller let it go).
    void want(int index);
    // Every picture of the list is made, after the wanted ones.
    void wantAll();

    QSize side() const { return m_side; }
    int count() const { return int(m_files.size()); }
    int finishedCount() const { return m_finished; }
    // Nothing queued and nothing being decoded.
    bool isIdle() const { return m_inFlight == 0 && !hasQueued(); }

    // The cache file of srcFile's thumbnail at side (it may not exist yet).
    static QString cacheFileName(const QString& cacheFolder, const QString& srcFile, QSize side);

signals:
    void ready(int index, const QImage& thumbnail);
    void failed(int index, const QString& error);
    void idle();

private:
    enum class State : quint8
    {
        None,
        Running,
        Finished,
        Failed
    };
    bool hasQueued() const;
    int nextIndex();
    void dispatch();
    void finished(quint64 generation, int index, QImage image, QString error);

    QString m_cacheFolder;
    QSize m_side;
    TFileResolver m_resolve;
    std::vector<QString> m_files;
    std::vector<State> m_state;
    std::vector<bool> m_counted; // finished once: counted in m_finished
    std::vector<int> m_wanted; // a stack: the last wanted is on top
    bool m_all = false;
    size_t m_nextInOrder = 0;
    int m_inFlight = 0;
    int m_finished = 0;
    quint64 m_generation = 0;
    QThreadPool m_pool; // last: its threads end before the fields they read
};
