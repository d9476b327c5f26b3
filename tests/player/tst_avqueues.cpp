#include "player/AVPlayer.h"
#include "player/FrameQueue.h"
#include "player/PacketQueue.h"

#include <QTest>

#include <thread>

namespace {

const char kFlush[] = "FLUSH";
const char kEof[] = "EOF";

PacketPointer marker(const char* text)
{
    PacketPointer pkt = makePacket();
    pkt->data = reinterpret_cast<uint8_t*>(const_cast<char*>(text));
    return pkt;
}

PacketPointer payload(int size)
{
    PacketPointer pkt = makePacket();
    av_new_packet(pkt.get(), size);
    return pkt;
}

} // namespace

class TestAVQueues : public QObject
{
    Q_OBJECT
private slots:
    void packetQueueEdges_data();
    void packetQueueEdges();
    void serialsAcrossStarts();
    void getReturnsInPutOrderWithSizes();
    void blockingGetWakesOnAbort();
    void frameQueueCapsAt16();
    void keepLastKeepsReadFrame();
    void abortWakesFrameQueueWaits();
    void alignWidth_data();
    void alignWidth();
    void decoderMarkersAndDrain();

private:
    PacketPointer m_flush = marker(kFlush);
    PacketPointer m_eof = marker(kEof);
};

void TestAVQueues::packetQueueEdges_data()
{
    QTest::addColumn<bool>("started");
    QTest::addColumn<bool>("aborted");
    QTest::addColumn<QString>("put"); // "data", "flush", "eof" or "" for none
    QTest::addColumn<int>("putResult");
    QTest::addColumn<int>("getResult");

    QTest::newRow("get on a never-started queue") << false << false << "" << 0 << -1;
    QTest::newRow("put of data after abort") << true << true << "data" << -1 << -1;
    QTest::newRow("put of flush marker after abort") << true << true << "flush" << -1 << -1;
    QTest::newRow("put of eof marker after abort") << true << true << "eof" << -1 << -1;
    QTest::newRow("put of data on a never-started queue") << false << false << "data" << -1 << -1;
}

void TestAVQueues::packetQueueEdges()
{
    QFETCH(bool, started);
    QFETCH(bool, aborted);
    QFETCH(QString, put);
    QFETCH(int, putResult);
    QFETCH(int, getResult);

    TAVPacketQueue q(m_flush.get(), m_eof.get());
    if (started)
        q.Start();
    if (aborted)
        q.Abort();
    if (put == QLatin1String("data")) {
        PacketPointer pkt = payload(100);
        QCOMPARE(q.Put(pkt.get()), putResult);
        // A refused packet is released, not left to leak.
        QVERIFY(!pkt->buf);
        QCOMPARE(pkt->size, 0);
    } else if (!put.isEmpty()) {
        AVPacket* m = put == QLatin1String("flush") ? m_flush.get() : m_eof.get();
        const uint8_t* data = m->data;
        QCOMPARE(q.Put(m), putResult);
        // A refused marker stays intact, so later markers are still recognised.
        QCOMPARE(m->data, data);
        QVERIFY(put == QLatin1String("flush") ? q.IsFlush(m) : q.IsEof(m));
    }
    PacketPointer out = makePacket();
    int serial = -5;
    QCOMPARE(q.Get(out.get(), false, &serial), getResult);
    QCOMPARE(q.Get(out.get(), true, &serial), getResult); // aborted: no wait either
    QCOMPARE(q.NbPackets(), started ? 1 : 0);             // only the flush marker of Start
}

void TestAVQueues::serialsAcrossStarts()
{
    TAVPacketQueue q(m_flush.get(), m_eof.get());
    QCOMPARE(q.Serial(), 0);
    q.Start();
    QCOMPARE(q.Serial(), 1);
    q.Start();
    QCOMPARE(q.Serial(), 2);

    // A packet put between a flush and the next get carries the new serial.
    q.Flush();
    QVERIFY(q.Put(m_flush.get()) == 0);
    PacketPointer pkt = payload(10);
    QCOMPARE(q.Put(pkt.get()), 0);
    PacketPointer out = makePacket();
    int serial = -1;
    QCOMPARE(q.Get(out.get(), false, &serial), 1);
    QVERIFY(q.IsFlush(out.get()));
    QCOMPARE(serial, 3);
    QCOMPARE(q.Get(out.get(), false, &serial), 1);
    QCOMPARE(out->size, 10);
    QCOMPARE(serial, 3);
    QCOMPARE(q.Get(out.get(), false, &serial), -1); // empty reads like aborted without block
}

void TestAVQueues::getReturnsInPutOrderWithSizes()
{
    TAVPacketQueue q(m_flush.get(), m_eof.get());
    q.Start();
    PacketPointer out = makePacket();
    QCOMPARE(q.Get(out.get(), false, nullptr), 1); // the flush marker of Start
    QCOMPARE(q.Size(), 0);
    for (int size : {100, 200, 300}) {
        PacketPointer pkt = payload(size);
        QCOMPARE(q.Put(pkt.get()), 0);
    }
    QCOMPARE(q.Put(m_eof.get()), 0);
    QCOMPARE(q.put_nullpacket(3), 0);
    QCOMPARE(q.NbPackets(), 5);
    QCOMPARE(q.Size(), 600 + 5 * TAVPacketQueue::kNodeOverhead);
    for (int size : {100, 200, 300}) {
        QCOMPARE(q.Get(out.get(), true, nullptr), 1);
        QCOMPARE(out->size, size);
    }
    QCOMPARE(q.Get(out.get(), true, nullptr), 1);
    QVERIFY(q.IsEof(out.get()));
    QCOMPARE(q.Get(out.get(), true, nullptr), 1);
    QVERIFY(!out->data);
    QCOMPARE(out->stream_index, 3);
    QCOMPARE(q.Size(), 0);
    // Flush drops what is queued and keeps the serial.
    PacketPointer pkt = payload(50);
    q.Put(pkt.get());
    q.Flush();
    QCOMPARE(q.NbPackets(), 0);
    QCOMPARE(q.Size(), 0);
    QCOMPARE(q.Serial(), 1);
}

void TestAVQueues::blockingGetWakesOnAbort()
{
    TAVPacketQueue q(m_flush.get(), m_eof.get());
    q.Start();
    q.Flush();
    int result = 0;
    std::thread reader([&] {
        PacketPointer out = makePacket();
        result = q.Get(out.get(), true, nullptr);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    q.Abort();
    reader.join();
    QCOMPARE(result, -1);
}

void TestAVQueues::frameQueueCapsAt16()
{
    TAVPacketQueue q(m_flush.get(), m_eof.get());
    q.Start();
    TFrameQueue fq(&q, 20, 0);
    QCOMPARE(fq.max_size(), 16);
    for (int i = 0; i < 16; ++i) {
        TVideoFrame* vp = fq.peek_writable();
        QVERIFY(vp);
        vp->serial = i;
        fq.push();
    }
    QCOMPARE(fq.nb_remaining(), 16);
    // The ring is full: a writer would wait; an abort releases it with none.
    bool gotSlot = true;
    std::thread writer([&] { gotSlot = fq.peek_writable() != nullptr; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    q.Abort();
    fq.signal();
    writer.join();
    QVERIFY(!gotSlot);
}

void TestAVQueues::keepLastKeepsReadFrame()
{
    TAVPacketQueue q(m_flush.get(), m_eof.get());
    q.Start();
    TFrameQueue fq(&q, 4, 1);
    TVideoFrame* vp = fq.peek_writable();
    vp->pos = 1234;
    vp->serial = q.Serial();
    av_frame_unref(vp->frame.get());
    vp->frame->format = AV_PIX_FMT_GRAY8;
    vp->frame->width = vp->frame->height = 4;
    QCOMPARE(av_frame_get_buffer(vp->frame.get(), 0), 0);
    fq.push();
    QCOMPARE(fq.nb_remaining(), 1);
    QVERIFY(fq.peek_readable(false));
    QCOMPARE(fq.last_pos(), -1); // nothing read yet

    fq.next();
    QCOMPARE(fq.nb_remaining(), 0);
    QCOMPARE(fq.rindex_shown(), 1);
    QVERIFY(!fq.peek_readable(false));
    QCOMPARE(fq.peek_last()->pos, 1234);
    QVERIFY(fq.peek_last()->frame->buf[0]);
    QCOMPARE(fq.last_pos(), 1234);

    // The next next releases it (after a new frame arrived).
    TVideoFrame* second = fq.peek_writable();
    second->pos = 99;
    fq.push();
    fq.next();
    QVERIFY(!vp->frame->buf[0]);
    QCOMPARE(fq.peek_last()->pos, 99);
}

void TestAVQueues::abortWakesFrameQueueWaits()
{
    TAVPacketQueue q(m_flush.get(), m_eof.get());
    q.Start();
    TFrameQueue fq(&q, 9, 1);
    TVideoFrame* got = reinterpret_cast<TVideoFrame*>(1);
    std::thread reader([&] { got = fq.peek_readable(true); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    q.Abort();
    fq.signal();
    reader.join();
    QVERIFY(!got);
}

void TestAVQueues::alignWidth_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("aligned");
    QTest::newRow("854") << 854 << 848;
    QTest::newRow("1000") << 1000 << 1008;
    QTest::newRow("1920") << 1920 << 1920;
    QTest::newRow("100") << 100 << 96;
    QTest::newRow("never below 16") << 3 << 16;
    QTest::newRow("half rounds up") << 24 << 32;
}

void TestAVQueues::alignWidth()
{
    QFETCH(int, width);
    QFETCH(int, aligned);
    QCOMPARE(AlignWidth(width), aligned);
}

// A raw-sample decoder fed by hand: the end-of-input marker is reported once and decoding goes
// on after it; a null packet with nothing left drains the decoder.
void TestAVQueues::decoderMarkersAndDrain()
{
    TAVPlayer player;
    TAVPacketQueue q(m_flush.get(), m_eof.get());
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_PCM_S16LE);
    CodecPointer ctx(avcodec_alloc_context3(codec));
    ctx->sample_rate = 8000;
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->pkt_timebase = {1, 8000};
    QCOMPARE(avcodec_open2(ctx.get(), codec, nullptr), 0);
    std::condition_variable emptyQueue;
    TDecoder dec(&player, &emptyQueue, &q, std::move(ctx));
    dec.start(nullptr);

    auto putSamples = [&](int64_t pts) {
        PacketPointer pkt = payload(160);
        pkt->pts = pts;
        QCOMPARE(q.Put(pkt.get()), 0);
    };
    putSamples(0);
    q.Put(m_eof.get());
    putSamples(80);
    q.put_nullpacket(0);

    FramePointer frame = makeFrame();
    QCOMPARE(dec.decode_frame(frame.get(), nullptr), 1);
    QCOMPARE(frame->nb_samples, 80);
    QCOMPARE(frame->pts, 0);
    QVERIFY(!player.PlaybackFinished());
    av_frame_unref(frame.get());

    QCOMPARE(dec.decode_frame(frame.get(), nullptr), 1);
    QVERIFY(player.PlaybackFinished()); // the marker passed on the way to the next packet
    player.clearPlaybackFinished();
    QCOMPARE(frame->pts, 80);
    av_frame_unref(frame.get());

    QCOMPARE(dec.decode_frame(frame.get(), nullptr), 0);
    QCOMPARE(dec.finished, q.Serial());
    QVERIFY(!player.PlaybackFinished());

    // A seek's flush marker clears the drained state; then an abort ends decoding.
    q.Flush();
    q.Put(m_flush.get());
    putSamples(400);
    QCOMPARE(dec.decode_frame(frame.get(), nullptr), 1);
    QCOMPARE(dec.finished, 0);
    QCOMPARE(dec.pkt_serial, q.Serial());
    q.Abort();
    QCOMPARE(dec.decode_frame(frame.get(), nullptr), -1);
}

QTEST_GUILESS_MAIN(TestAVQueues)
#include "tst_avqueues.moc"
