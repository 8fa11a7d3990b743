// FileReader: the file map built by the scan, record reads, cancellation and
// progress of long scans, and streaming under flow control.
#include "datapath/EventEncoder.h"
#include "datapath/FileReader.h"
#include "tests/MessageLog.h"
#include "tests/datapath/Polling.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

namespace {

QByteArray event(quint32 evNum, int payloadBytes, char fill = 'x')
{
    return EventEncoder::eventRecord(evNum, QByteArray(payloadBytes, fill));
}

class FileReaderTest : public ::testing::Test {
protected:
    QString writeFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        return path;
    }

    // The last fileMapUpdated arguments: size, records, fraction.
    struct MapState {
        qint64 size;
        quint32 records;
        double part;
    };
    static MapState mapState(const QSignalSpy& spy, int index = -1)
    {
        const QList<QVariant> args = index < 0 ? spy.last() : spy.at(index);
        return {args.at(0).toLongLong(), args.at(2).toUInt(), args.at(3).toDouble()};
    }

    // Reads every mapped record and returns (evNum, bytes) in map order.
    QList<QPair<quint32, QByteArray>> readAll(quint32 records)
    {
        QSignalSpy data(&reader, &FileReader::dataAccuired);
        QSignalSpy read(&reader, &FileReader::eventRead);
        for (quint32 r = 1; r <= records; ++r)
            reader.readRecord(int(r));
        QList<QPair<quint32, QByteArray>> out;
        for (int i = 0; i < data.count(); ++i) {
            EXPECT_EQ(read.at(i).at(1).toUInt(), 12u);
            out.append({read.at(i).at(0).toUInt(), data.at(i).at(0).toByteArray()});
        }
        return out;
    }

    QTemporaryDir dir;
    MessageLog log;
    QSemaphore semaphore{50};
    FileReader reader{&semaphore};
    QSignalSpy mapSpy{&reader, &FileReader::fileMapUpdated};
};

TEST_F(FileReaderTest, MapsEventsInEventNumberOrderSteppingOverOtherRecords)
{
    const QByteArray e5 = event(5, 40), e3 = event(3, 0), e9 = event(9, 100);
    const QByteArray bytes = EventEncoder::encodeStartRecord("run 12") + e5 + EventEncoder::encodeAuxRecord("aux") + e3
                             + e9 + EventEncoder::encodeStopRecord("end of run 12");
    const QString path = writeFile("run.dat", bytes);

    reader.setFileName(path);

    ASSERT_EQ(mapSpy.count(), 1);
    EXPECT_EQ(mapSpy.last().at(0).toLongLong(), bytes.size());
    EXPECT_EQ(mapSpy.last().at(1).toString(), QFileInfo(path).lastModified().toString());
    EXPECT_EQ(mapSpy.last().at(2).toUInt(), 3u);
    EXPECT_DOUBLE_EQ(mapSpy.last().at(3).toDouble(), 1.0);
    EXPECT_TRUE(log.contains(QString("Source file '%1' was opened").arg(path)));
    EXPECT_TRUE(log.contains("Start creating file map:"));
    EXPECT_TRUE(
        log.contains(QString("updateFileMap completed: parsed %1/%1 bytes; 3 event records").arg(bytes.size())));

    const auto records = readAll(3);
    ASSERT_EQ(records.size(), 3);
    EXPECT_EQ(records[0], qMakePair(3u, e3));
    EXPECT_EQ(records[1], qMakePair(5u, e5));
    EXPECT_EQ(records[2], qMakePair(9u, e9));
    // Stepping backwards through the map finds the same records.
    QSignalSpy read(&reader, &FileReader::eventRead);
    reader.readRecord(2);
    reader.readRecord(1);
    EXPECT_EQ(read.at(0).at(0).toUInt(), 5u);
    EXPECT_EQ(read.at(1).at(0).toUInt(), 3u);
}

// Records of every size around the scan's read windows, mixed with other
// record kinds and repeated event numbers: each mapped record reads back whole.
TEST_F(FileReaderTest, MixedRecordSizesMapExactly)
{
    QRandomGenerator random(11);
    QByteArray bytes;
    QMap<quint32, QByteArray> expected;
    for (int i = 0; i < 3000; ++i) {
        const int payload = int(random.bounded(i % 50 == 0 ? 200000 : 3000));
        switch (random.bounded(8)) {
        case 0:
            bytes += EventEncoder::encodeAuxRecord(QByteArray(payload, 'a'));
            break;
        case 1:
            bytes += EventEncoder::encodeStartRecord(QByteArray(payload, 's'));
            break;
        default: {
            const quint32 evNum = random.bounded(2500u);
            expected[evNum] = event(evNum, payload, char('A' + i % 26));
            bytes += expected[evNum];
        }
        }
    }
    bytes += EventEncoder::encodeStopRecord(QByteArray(16, 'e'));
    reader.setFileName(writeFile("mixed.dat", bytes));

    ASSERT_EQ(mapState(mapSpy).records, quint32(expected.size()));
    const auto records = readAll(quint32(expected.size()));
    ASSERT_EQ(records.size(), expected.size());
    auto it = expected.constBegin();
    for (const auto& record : records) {
        EXPECT_EQ(record.first, it.key());
        EXPECT_TRUE(record.second == it.value()) << "event " << it.key();
        ++it;
    }
}

TEST_F(FileReaderTest, DuplicateEventNumberKeepsTheLaterRecord)
{
    const QByteArray later = event(7, 16, 'b');
    reader.setFileName(writeFile("dup.dat", event(7, 16, 'a') + event(8, 4) + later));

    EXPECT_EQ(mapState(mapSpy).records, 2u);
    EXPECT_EQ(readAll(2).first(), qMakePair(7u, later));
}

TEST_F(FileReaderTest, TruncatedLastEventIsNotMapped)
{
    QByteArray bytes = event(1, 20) + event(2, 20) + event(3, 20);
    bytes.chop(3);
    reader.setFileName(writeFile("cut.dat", bytes));

    EXPECT_EQ(mapState(mapSpy).records, 2u);
    // The scan steps past the end over the cut record; the fraction stays 1.
    EXPECT_TRUE(log.contains(QString("updateFileMap completed: parsed %1/%2 bytes; 2 event records")
                                 .arg(bytes.size() + 3)
                                 .arg(bytes.size())));
    EXPECT_DOUBLE_EQ(mapState(mapSpy).part, 1.0);
}

TEST_F(FileReaderTest, HeaderIsReadOnlyWhileMoreThanTwelveBytesRemain)
{
    const QByteArray empty7 = QByteArray::fromHex("502a502a0000000007000000");
    reader.setFileName(writeFile("twelve.dat", empty7));
    EXPECT_EQ(mapState(mapSpy).records, 0u);
    EXPECT_TRUE(log.contains("updateFileMap completed: parsed 0/12 bytes; 0 event records"));

    reader.setFileName(writeFile("tail.dat", event(1, 8) + empty7));
    EXPECT_EQ(mapState(mapSpy).records, 1u);
    EXPECT_EQ(readAll(1).first().first, 1u);
}

TEST_F(FileReaderTest, EmptyMissingAndUnopenableFiles)
{
    reader.setFileName(writeFile("empty.dat", QByteArray()));
    EXPECT_EQ(mapState(mapSpy).records, 0u);
    EXPECT_DOUBLE_EQ(mapState(mapSpy).part, 1.0); // nothing left to scan

    const QString missing = dir.filePath("missing.dat");
    reader.setFileName(missing);
    ASSERT_EQ(mapSpy.count(), 2);
    EXPECT_EQ(mapState(mapSpy).records, 0u);
    EXPECT_DOUBLE_EQ(mapState(mapSpy).part, 0.0); // nothing could be scanned
    EXPECT_EQ(log.countStartingWith(QString("Failed to open file '%1': ").arg(missing)), 1);

    // A directory cannot be opened but has a size: the scan gives up at once.
    log.clear();
    reader.setFileName(dir.path());
    EXPECT_EQ(mapSpy.count(), 2);
    EXPECT_EQ(log.countStartingWith(QString("Failed to open file '%1': ").arg(dir.path())), 1);
    EXPECT_TRUE(log.contains(QtWarningMsg, "Creation of file map was canceled."));
    QSignalSpy data(&reader, &FileReader::dataAccuired);
    reader.readRecord(1); // no file open: nothing, not even a warning
    EXPECT_EQ(data.count(), 0);
    EXPECT_FALSE(log.contains("Record number is out of range"));
}

TEST_F(FileReaderTest, DamagedMagicKeepsThePartialMapWithoutFinalSignal)
{
    QByteArray bytes = event(1, 8) + event(2, 8);
    EventEncoder::appendWord(bytes, 0xDEADBEEF);
    bytes += QByteArray(20, '\0') + event(3, 8);
    reader.setFileName(writeFile("bad.dat", bytes));

    EXPECT_TRUE(log.contains(QtWarningMsg, "Unknown Kep header sync-word: 0xdeadbeef"));
    EXPECT_EQ(log.countStartingWith("updateFileMap completed"), 0);
    EXPECT_EQ(mapSpy.count(), 0);
    EXPECT_EQ(readAll(3).size(), 2); // records 1 and 2 are there, 3 is out of range
    EXPECT_EQ(log.count("Record number is out of range"), 1);
}

TEST_F(FileReaderTest, RecordNumbersOutOfRangeAndShrunkFiles)
{
    const QString path = writeFile("two.dat", event(4, 8) + event(6, 8));
    reader.setFileName(path);
    QSignalSpy data(&reader, &FileReader::dataAccuired);
    reader.readRecord(0);
    reader.readRecord(3);
    reader.readRecord(-1);
    EXPECT_EQ(log.count("Record number is out of range"), 3);

    // The file loses its last bytes after mapping.
    QFile(path).resize(QFileInfo(path).size() - 1);
    reader.readRecord(2);
    EXPECT_TRUE(log.contains(QtWarningMsg, "Incomplete event: 6"));
    EXPECT_EQ(data.count(), 0);
    reader.readRecord(1);
    EXPECT_EQ(data.count(), 1);
}

// Every block sent takes a permit so that the analyzer's release keeps the
// semaphore at its size; a record never waits for one.
TEST_F(FileReaderTest, RecordReadsKeepTheSemaphoreBalanced)
{
    QSemaphore one(1);
    FileReader single(&one);
    QSignalSpy data(&single, &FileReader::dataAccuired);
    single.setFileName(writeFile("three.dat", event(1, 8) + event(2, 8) + event(3, 8)));

    single.readRecord(1);
    single.readRecord(2); // no permit free: sent all the same
    EXPECT_EQ(data.count(), 2);
    EXPECT_EQ(one.available(), 0);
    one.release(2); // the analyzer processed both
    single.readRecord(3);
    EXPECT_EQ(data.count(), 3);
    EXPECT_EQ(one.available(), 0);
    one.release();
    EXPECT_EQ(one.available(), 1);
}

TEST_F(FileReaderTest, QueuedCloseFileCancelsTheScan)
{
    const QString path = writeFile("many.dat", event(1, 100) + event(2, 100));
    QMetaObject::invokeMethod(&reader, &FileReader::closeFile, Qt::QueuedConnection);
    reader.setFileName(path);

    EXPECT_TRUE(log.contains(QtWarningMsg, "Creation of file map was canceled."));
    EXPECT_EQ(log.countStartingWith("updateFileMap completed"), 0);
    EXPECT_EQ(mapSpy.count(), 0);
}

// A 10 GB sparse file: 3000 records of 1000 bytes, then a few records of
// several GB each reaching the end of the file.
class LargeFileTest : public FileReaderTest {
protected:
    static constexpr qint64 Size = 10000000000LL;
    static constexpr int SmallRecords = 3000;
    static constexpr int BigRecords = 3;

    QString writeLargeFile()
    {
        const QString path = dir.filePath("large.dat");
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        for (int i = 0; i < SmallRecords; ++i)
            out.write(event(quint32(i), 1000 - 12));
        qint64 left = Size - out.pos();
        for (int i = 0; i < BigRecords; ++i) {
            const qint64 total = i == BigRecords - 1 ? left : left / (BigRecords - i);
            out.write(eventHeader(quint32(SmallRecords + i), quint32(total - 12)));
            out.seek(out.pos() + total - 12);
            left -= total;
        }
        out.resize(Size);
        return path;
    }
    static QByteArray eventHeader(quint32 evNum, quint32 length)
    {
        QByteArray header;
        EventEncoder::appendWord(header, 0x2A502A50);
        EventEncoder::appendWord(header, length);
        EventEncoder::appendWord(header, evNum);
        return header;
    }
};

TEST_F(LargeFileTest, MapsTenGigabytesAndRefusesGiantRecords)
{
    const QString path = writeLargeFile();
    ASSERT_EQ(QFileInfo(path).size(), Size);
    reader.setFileName(path);

    ASSERT_EQ(mapSpy.count(), 1);
    EXPECT_EQ(mapState(mapSpy).size, Size);
    EXPECT_EQ(mapState(mapSpy).records, quint32(SmallRecords + BigRecords));
    EXPECT_DOUBLE_EQ(mapState(mapSpy).part, 1.0);

    QSignalSpy data(&reader, &FileReader::dataAccuired);
    reader.readRecord(SmallRecords + 1);
    EXPECT_EQ(data.count(), 0);
    EXPECT_EQ(log.countStartingWith(QString("Event %1 is too large to read: ").arg(SmallRecords)), 1);
}

// Progress comes only at checkpoints after 3 s without one; a closeFile queued
// meanwhile stops the scan at the next checkpoint with the map found so far.
TEST_F(LargeFileTest, ReportsProgressAtCheckpointsAndCancelsMidScan)
{
    const QString path = writeLargeFile();
    const auto stallReaderThread = [this] {
        QMetaObject::invokeMethod(
            &reader, [] { QThread::msleep(FileReader::ProgressIntervalMs + 100); }, Qt::QueuedConnection);
    };
    QObject::connect(&reader, &FileReader::fileMapUpdated, &reader, [&] {
        if (mapSpy.count() == 1)
            stallReaderThread();
        else
            QMetaObject::invokeMethod(&reader, &FileReader::closeFile, Qt::QueuedConnection);
    });
    stallReaderThread();
    reader.setFileName(path);

    ASSERT_EQ(mapSpy.count(), 2);
    EXPECT_EQ(mapState(mapSpy, 0).records, 0u);
    EXPECT_DOUBLE_EQ(mapState(mapSpy, 0).part, 0.0);
    EXPECT_EQ(mapState(mapSpy, 1).records, 1000u); // records starting before byte 1,000,000
    EXPECT_DOUBLE_EQ(mapState(mapSpy, 1).part, 1e6 / double(Size));
    EXPECT_EQ(log.countStartingWith("Completed 0.0% "), 2);
    EXPECT_TRUE(log.contains(QtWarningMsg, "Creation of file map was canceled."));
    EXPECT_EQ(log.countStartingWith("updateFileMap completed"), 0);
}

// On its own thread like in the viewer: deleting the reader while it scans
// (the window's shutdown) ends the scan without touching the deleted reader.
TEST_F(LargeFileTest, DeletionDuringScanOnWorkerThread)
{
    const QString path = writeLargeFile();
    QThread thread;
    auto* worker = new FileReader(&semaphore);
    worker->moveToThread(&thread);
    QObject::connect(worker, &QObject::destroyed, &thread, &QThread::quit, Qt::DirectConnection);
    QSemaphore scanning, deletePosted;
    QMetaObject::invokeMethod(
        worker,
        [&, worker] {
            // Runs at the scan's first checkpoint, holding the scan there.
            QMetaObject::invokeMethod(
                worker,
                [&] {
                    scanning.release();
                    deletePosted.acquire();
                },
                Qt::QueuedConnection);
            worker->setFileName(path);
        },
        Qt::QueuedConnection);
    thread.start();
    scanning.acquire();
    worker->deleteLater();
    deletePosted.release();
    ASSERT_TRUE(thread.wait(30000));
    EXPECT_TRUE(log.contains(QtWarningMsg, "Creation of file map was canceled."));
    EXPECT_EQ(log.countStartingWith("updateFileMap completed"), 0);
}

TEST_F(FileReaderTest, StreamingWaitsForPermitsAndStopsAtTheEnd)
{
    const QString path = dir.filePath("stream.dat");
    QFile sparse(path);
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly));
    sparse.resize(45000000);
    sparse.close();

    QSemaphore one(1);
    FileReader streamer(&one);
    streamer.setFileName(path); // zeros: the map stays empty, the stream does not care
    QSignalSpy chunks(&streamer, &FileReader::dataAccuired);
    streamer.readFile();
    ASSERT_EQ(chunks.count(), 1);
    EXPECT_EQ(log.countStartingWith("["), 1);
    EXPECT_TRUE(log.texts().last().endsWith("] file read delayed (analyzer is slow)"));

    one.release(); // the analyzer took the first chunk: the timer goes on
    ASSERT_TRUE(waitUntil([&] { return chunks.count() == 2; }));
    one.release();
    ASSERT_TRUE(waitUntil([&] { return log.contains("File was read."); }));
    ASSERT_EQ(chunks.count(), 3);
    EXPECT_EQ(chunks.at(0).at(0).toByteArray().size(), 20000000);
    EXPECT_EQ(chunks.at(1).at(0).toByteArray().size(), 20000000);
    EXPECT_EQ(chunks.at(2).at(0).toByteArray().size(), 5000000);

    // The timer stopped at the end: no more reads, no repeated line.
    one.release();
    QTest::qWait(100);
    EXPECT_EQ(log.count("File was read."), 1);
    EXPECT_EQ(chunks.count(), 3);
}

} // namespace
