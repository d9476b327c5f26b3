#include "media/ThumbnailLoader.h"

#include "media/PictureReader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <exception>

namespace {

// Wanted pictures beyond this many are left to the in-order pass: a fast scroll over
// thousands of rows must not pile up work for rows long gone.
constexpr size_t kMaxWanted = 512;

// Written under a name of its own, then renamed: a reader never sees half a file.
void writeCache(const QImage& image, const QString& file)
{
    QImage flat = image;
    if (flat.hasAlphaChannel()) {
        flat = QImage(image.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter(&flat).drawImage(0, 0, image);
    }
    const QString part = file + QStringLiteral(".part");
    {
        QFile out(part);
        if (!out.open(QIODevice::WriteOnly))
            return;
        QImageWriter writer(&out, "jpeg");
        writer.setQuality(85);
        if (!writer.write(flat)) {
            out.remove();
            return;
        }
    }
    QFile::remove(file);
    if (!QFile::rename(part, file))
        QFile::remove(part);
}

} // namespace

TThumbnailLoader::TThumbnailLoader(QString cacheFolder, QSize side, TFileResolver resolve,
                                   QObject* parent)
    : QObject(parent), m_cacheFolder(std::move(cacheFolder)), m_side(side),
      m_resolve(std::move(resolve))
{
    QDir().mkpath(m_cacheFolder);
    QFile::setPermissions(m_cacheFolder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

TThumbnailLoader::~TThumbnailLoader()
{
    m_pool.clear();
    m_pool.waitForDone();
}

QString TThumbnailLoader::cacheFileName(const QString& cacheFolder, const QString& srcFile,
                                        QSize side)
{
    // Named by a digest: names in the backup never choose a path here.
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(srcFile.toUtf8());
    hash.addData(QStringLiteral("|%1x%2").arg(side.width()).arg(side.height()).toUtf8());
    return QDir(cacheFolder).filePath(QString::fromLatin1(hash.result().toHex()) +
                                      QStringLiteral(".jpg"));
}

void TThumbnailLoader::setFiles(std::vector<QString> srcFiles)
{
    ++m_generation;
    m_pool.clear(); // queued, not started: they will never report
    m_files = std::move(srcFiles);
    m_state.assign(m_files.size(), State::None);
    m_counted.assign(m_files.size(), false);
    m_wanted.clear();
    m_all = false;
    m_nextInOrder = 0;
    m_finished = 0;
    // Pictures of the old list still being decoded report into the old generation.
    m_inFlight = 0;
}

void TThumbnailLoader::want(int index)
{
    if (index < 0 || size_t(index) >= m_files.size())
        return;
    State& state = m_state[size_t(index)];
    if (state == State::Finished)
        state = State::None; // from the cache file this time
    if (state != State::None)
        return;
    m_wanted.push_back(index);
    if (m_wanted.size() > kMaxWanted)
        m_wanted.erase(m_wanted.begin());
    dispatch();
}

void TThumbnailLoader::wantAll()
{
    m_all = true;
    dispatch();
}

bool TThumbnailLoader::hasQueued() const
{
    for (int i : m_wanted)
        if (m_state[size_t(i)] == State::None)
            return true;
    if (m_all)
        for (size_t i = m_nextInOrder; i < m_state.size(); ++i)
            if (m_state[i] == State::None)
                return true;
    return false;
}

int TThumbnailLoader::nextIndex()
{
    while (!m_wanted.empty()) {
        const int i = m_wanted.back();
        m_wanted.pop_back();
        if (m_state[size_t(i)] == State::None)
            return i;
    }
    if (m_all)
        for (; m_nextInOrder < m_state.size(); ++m_nextInOrder)
            if (m_state[m_nextInOrder] == State::None)
                return int(m_nextInOrder++);
    return -1;
}

void TThumbnailLoader::dispatch()
{
    // A couple more than threads, so a thread never waits for the GUI thread to hand it work.
    const int limit = m_pool.maxThreadCount() + 2;
    while (m_inFlight < limit) {
        const int index = nextIndex();
        if (index < 0)
            break;
        const QString& srcFile = m_files[size_t(index)];
        const QString cacheFile = cacheFileName(m_cacheFolder, srcFile, m_side);
        QString path;
        if (!QFileInfo::exists(cacheFile)) {
            try {
                path = m_resolve ? m_resolve(srcFile) : srcFile;
            } catch (const std::exception& e) {
                m_state[size_t(index)] = State::Failed;
                if (!m_counted[size_t(index)]) {
                    m_counted[size_t(index)] = true;
                    ++m_finished;
                }
                emit failed(index, QString::fromUtf8(e.what()));
                continue;
            }
        }
        m_state[size_t(index)] = State::Running;
        ++m_inFlight;
        const quint64 generation = m_generation;
        const QSize side = m_side;
        m_pool.start([this, generation, index, path, cacheFile, side] {
            QString error;
            QImage image;
            if (path.isEmpty()) {
                QImageReader cached(cacheFile, "jpeg");
                image = cached.read();
                if (image.isNull()) {
                    error = cached.errorString();
                    QFile::remove(cacheFile); // made again next time
                }
            } else {
                image = readThumbnail(path, side, &error);
                if (!image.isNull())
                    writeCache(image, cacheFile);
            }
            QMetaObject::invokeMethod(
                this,
                [this, generation, index, image = std::move(image), error]() mutable {
                    finished(generation, index, std::move(image), error);
                },
                Qt::QueuedConnection);
        });
    }
    if (m_inFlight == 0 && !hasQueued())
        emit idle();
}

void TThumbnailLoader::finished(quint64 generation, int index, QImage image, QString error)
{
    if (generation != m_generation)
        return;
    --m_inFlight;
    m_state[size_t(index)] = image.isNull() ? State::Failed : State::Finished;
    if (!m_counted[size_t(index)]) {
        m_counted[size_t(index)] = true;
        ++m_finished;
    }
    if (image.isNull())
        emit failed(index, error);
    else
        emit ready(index, image);
    dispatch();
}
