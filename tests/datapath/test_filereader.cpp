// FileReader: the file map built by the scan, record reads, cancellation and
// progress of long scans, and streaming under flow control.
#include "datapath/EventEncoder.h"
#include "datapath/FileReader.h"
#include "datapath/SampleGenerator.h"
#include "tests/MessageLog.h"
#include "tests/WaitUntil.h"
#include "tests/datapath/AnalyzerProbe.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
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
        QFile out(dir.filePath(name));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        return out.fileName();
    }
    quint32 mappedRecords(int index = -1) const
    {
        return (index < 0 ? mapSpy.last() : mapSpy.at(index)).at(2).toUInt();
    }
    double mappedPart(int index = -1) const { return (index < 0 ? mapSpy.last() : mapSpy.at(index)).at(3).toDouble(); }

    // Reads the records backwards (each read seeks on its own) and returns
    // them in map order.
    QByteArrayList readAll(int records)
    {
        QSignalSpy data(&reader, &FileReader::dataAccuired);
        for (int r = records; r >= 1; --r)
            reader.readRecord(r);
        QByteArrayList out;
        for (const QList<QVariant>& block : data)
            out.prepend(block.at(0).toByteArray());
        return out;
    }

    QTemporaryDir dir;
    MessageLog log;
    QSemaphore semaphore{50};
    FileReader reader{&semaphore};
    QSignalSpy mapSpy{&reader, &FileReader::fileMapUpdated};
    QSignalSpy finishedSpy{&reader, &FileReader::fileMapFinished};
    QSignalSpy openFailedSpy{&reader, &FileReader::fileOpenFailed};
};

// The arguments of a fileMapFinished signal.
QVariantList finished(qint64 size, int records, qint64 scanned, bool completed)
{
    return {size, quint32(records), scanned, completed};
}

// Records of every size around the scan's read windows, other record kinds
// and repeated event numbers (the later record counts): the map is in event
// number order and each mapped record reads back whole.
TEST_F(FileReaderTest, MapsEventsInEventNumberOrderAcrossReadWindows)
{
    QRandomGenerator random(11);
    QByteArray bytes = EventEncoder::encodeStartRecord("run 12");
    QMap<quint32, QByteArray> expected;
    for (int i = 0; i < 3000; ++i) {
        const int payload = int(random.bounded(i % 50 == 0 ? 200000 : 3000));
        if (random.bounded(4) == 0) {
            bytes += EventEncoder::encodeAuxRecord(QByteArray(payload, 'a'));
            continue;
        }
        const quint32 evNum = random.bounded(2500u);
        expected[evNum] = event(evNum, payload, char('A' + i % 26));
        bytes += expected[evNum];
    }
    bytes += EventEncoder::encodeStopRecord("end of run 12");
    const QString path = writeFile("mixed.dat", bytes);
    reader.setFileName(path);

    ASSERT_EQ(mapSpy.count(), 1);
    EXPECT_EQ(mapSpy.last().at(1).toString(), QFileInfo(path).lastModified().toString());
    EXPECT_TRUE(log.contains(QString("Source file '%1' was opened").arg(path)));
    EXPECT_TRUE(log.contains("Start creating file map:"));
    EXPECT_TRUE(log.contains(QString("updateFileMap completed: parsed %1/%1 bytes; %2 event records")
                                 .arg(bytes.size())
                                 .arg(expected.size())));
    EXPECT_TRUE(readAll(expected.size()) == expected.values());
    EXPECT_EQ(finishedSpy.last(), finished(bytes.size(), expected.size(), bytes.size(), true));
}

// A cut last record is not mapped (the scan steps past the end over it); a
// header is read only while more than twelve bytes remain.
TEST_F(FileReaderTest, ShortAndCutFiles)
{
    const QByteArray empty7 = QByteArray::fromHex("502a502a0000000007000000");
    const QByteArray three = event(1, 20) + event(2, 20) + event(3, 20);
    const struct {
        QByteArray bytes;
        int records;
        double part;
        const char* completed;
    } cases[] = {
        {three.chopped(3), 2, 1.0, "parsed 96/93 bytes; 2 event records"},
        {empty7, 0, 0.0, "parsed 0/12 bytes; 0 event records"},
        {event(1, 8) + empty7, 1, 20 / 32.0, "parsed 20/32 bytes; 1 event records"},
        {QByteArray(), 0, 1.0, "parsed 0/0 bytes; 0 event records"}, // nothing left to scan
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.completed);
        log.clear();
        reader.setFileName(writeFile(QString("short%1.dat").arg(++n), c.bytes));
        EXPECT_DOUBLE_EQ(mappedPart(), c.part);
        EXPECT_TRUE(log.contains(QString("updateFileMap completed: ") + c.completed));
        EXPECT_EQ(readAll(c.records).size(), c.records);
    }
}

TEST_F(FileReaderTest, MissingUnopenableAndDamagedFiles)
{
    const QString missing = dir.filePath("missing.dat");
    reader.setFileName(missing);
    ASSERT_EQ(mapSpy.count(), 1);
    EXPECT_DOUBLE_EQ(mappedPart(), 0.0); // nothing could be scanned
    EXPECT_TRUE(log.contains(QString("Failed to open file '%1': No such file or directory").arg(missing)));
    ASSERT_EQ(openFailedSpy.count(), 1);
    EXPECT_EQ(openFailedSpy.last(), (QVariantList{missing, "No such file or directory"}));
    EXPECT_EQ(finishedSpy.last(), finished(0, 0, 0, true));

    // A directory cannot be opened but has a size: the scan gives up at once.
    reader.setFileName(dir.path());
    EXPECT_EQ(mapSpy.count(), 1);
    EXPECT_EQ(openFailedSpy.count(), 2);
    EXPECT_EQ(finishedSpy.count(), 1); // the cancelled scan did not finish
    EXPECT_TRUE(readAll(1).isEmpty()); // no file open: nothing, not even a warning
    EXPECT_FALSE(log.contains("Record number is out of range"));

    // A damaged sync word keeps the partial map without a final signal.
    log.clear();
    QByteArray bytes = event(4, 8) + event(6, 8);
    EventEncoder::appendWord(bytes, 0xDEADBEEF);
    const QString path = writeFile("bad.dat", bytes + QByteArray(20, '\0') + event(3, 8));
    reader.setFileName(path);
    EXPECT_TRUE(log.contains(QtWarningMsg, "Unknown Kep header sync-word: 0xdeadbeef"));
    EXPECT_EQ(mapSpy.count(), 1);
    EXPECT_EQ(finishedSpy.last(), finished(bytes.size() + 20 + 20, 2, bytes.size() - 4, false));
    EXPECT_EQ(readAll(2).size(), 2);
    reader.readRecord(3);
    EXPECT_TRUE(log.contains("Record number is out of range"));

    // The file loses bytes of its second record after mapping.
    QFile(path).resize(event(4, 8).size() + 10);
    QSignalSpy data(&reader, &FileReader::dataAccuired);
    reader.readRecord(2);
    EXPECT_TRUE(log.contains(QtWarningMsg, "Incomplete event: 6"));
    EXPECT_EQ(data.count(), 0);
}

// A record whose length runs into the start of the next one (a writer that
// died mid-record, then a new run): its read leaves that start pending in the
// analyzer, which must not swallow the next record read on its own.
TEST_F(FileReaderTest, ARecordReadAfterADamagedOneDecodesWhole)
{
    SampleGenerator::Options options;
    options.boards = 1;
    options.channels = 2;
    options.samples = 8;
    SampleGenerator small(options);
    options.samples = 512;
    SampleGenerator large(options);
    QByteArray damaged = EventEncoder::encodeEvent(small.nextEvent());
    // The start of a record larger than the next one read: completed with
    // that one's bytes, it would hide it until more records came.
    const QByteArray cutStart = EventEncoder::encodeEvent(large.nextEvent()).left(20);
    QByteArray length; // the payload's, stretched over the cut start
    EventEncoder::appendWord(length, quint32(damaged.size() - 12 + cutStart.size()));
    damaged.replace(4, 4, length);
    const EventData after = small.nextEvent();
    reader.setFileName(writeFile("cut.dat", damaged + cutStart + EventEncoder::encodeEvent(after)));
    ASSERT_EQ(mappedRecords(), 2u);

    AnalyzerProbe probe;
    QObject::connect(&reader, &FileReader::streamStarted, &probe.analyzer, &ADCAnalyzer::streamStarted);
    QObject::connect(&reader, &FileReader::dataAccuired, &probe.analyzer, &ADCAnalyzer::dataAccuired);
    reader.readRecord(1);
    ASSERT_EQ(probe.analyzer.pendingBytes(), cutStart.size()); // waits for a rest that never comes
    reader.readRecord(2);
    ASSERT_FALSE(probe.events.isEmpty());
    EXPECT_TRUE(probe.events.last() == after) << "last decoded: " << probe.events.last().evNum;
    EXPECT_EQ(probe.analyzer.pendingBytes(), 0);
}

// A record read while no permit is free is sent and owed; later reads pay the
// debt from free permits before their own, so once the analyzer has processed
// every block the semaphore is back at its size: no permit taken twice, none
// left unpaid.
TEST_F(FileReaderTest, RecordReadsOwePermitsAndSettleThem)
{
    QSemaphore one(1);
    FileReader debtor(&one);
    QSignalSpy data(&debtor, &FileReader::dataAccuired);
    debtor.setFileName(writeFile("debt.dat", event(1, 8) + event(2, 8)));
    const struct {
        int reads;    // records read, each sent as a block
        int releases; // blocks the analyzer processed
        int available;
    } steps[] = {
        {3, 0, 0},            // one paid, two owed
        {0, 1, 1}, {1, 0, 0}, // pays one owed, owes its own: two owed
        {0, 3, 3}, {1, 0, 0}, // pays both owed and its own
        {0, 1, 1},            // every block processed: back at its size
    };
    int sent = 0;
    for (const auto& step : steps) {
        for (int i = 0; i < step.reads; ++i)
            debtor.readRecord(1 + sent++ % 2);
        one.release(step.releases);
        SCOPED_TRACE(sent);
        EXPECT_EQ(one.available(), step.available);
    }
    EXPECT_EQ(data.count(), sent);
}

// A 10 GB sparse file: 3000 records of 1000 bytes, then a few records of
// several GB each reaching the end of the file.
constexpr qint64 Size = 10000000000LL;
constexpr int SmallRecords = 3000, BigRecords = 3;

QString writeLargeFile(const QString& path)
{
    QFile out(path);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    for (int i = 0; i < SmallRecords; ++i)
        out.write(event(quint32(i), 1000 - 12));
    for (int i = 0; i < BigRecords; ++i) {
        const qint64 left = Size - out.pos();
        const qint64 total = i == BigRecords - 1 ? left : left / (BigRecords - i);
        QByteArray header;
        for (quint32 word : {0x2A502A50u, quint32(total - 12), quint32(SmallRecords + i)})
            EventEncoder::appendWord(header, word);
        out.write(header);
        out.seek(out.pos() + total - 12);
    }
    out.resize(Size);
    return path;
}

// Progress comes only at checkpoints after 3 s without one; a closeFile queued
// meanwhile stops the scan at the next checkpoint with the map found so far.
// Scanned to its end, the file maps whole but its giant records are refused.
TEST_F(FileReaderTest, LargeFileProgressCancelAndGiantRecords)
{
    const QString path = writeLargeFile(dir.filePath("large.dat"));
    const auto stallReaderThread = [this] {
        QMetaObject::invokeMethod(
            &reader, [] { QThread::msleep(FileReader::ProgressIntervalMs + 100); }, Qt::QueuedConnection);
    };
    auto connection = QObject::connect(&reader, &FileReader::fileMapUpdated, &reader, [&] {
        if (mapSpy.count() == 1)
            stallReaderThread();
        else
            QMetaObject::invokeMethod(&reader, &FileReader::closeFile, Qt::QueuedConnection);
    });
    stallReaderThread();
    reader.setFileName(path);
    ASSERT_EQ(mapSpy.count(), 2);
    EXPECT_EQ(mappedRecords(0), 0u);
    EXPECT_EQ(mappedRecords(1), 1000u); // records starting before byte 1,000,000
    EXPECT_DOUBLE_EQ(mappedPart(1), 1e6 / double(Size));
    EXPECT_EQ(log.countStartingWith("Completed 0.0% "), 2);
    EXPECT_TRUE(log.contains(QtWarningMsg, "Creation of file map was canceled."));

    QObject::disconnect(connection);
    reader.setFileName(path);
    ASSERT_EQ(mapSpy.count(), 3);
    EXPECT_EQ(mapSpy.last().at(0).toLongLong(), Size);
    EXPECT_EQ(mappedRecords(), quint32(SmallRecords + BigRecords));
    EXPECT_DOUBLE_EQ(mappedPart(), 1.0);
    EXPECT_TRUE(readAll(SmallRecords + 1).size() == SmallRecords);
    EXPECT_EQ(log.countStartingWith(QString("Event %1 is too large to read: ").arg(SmallRecords)), 1);
}

// On its own thread like in the viewer: deleting the reader while it scans
// (the window's shutdown) ends the scan without touching the deleted reader.
TEST_F(FileReaderTest, LargeFileDeletionDuringScanOnWorkerThread)
{
    const QString path = writeLargeFile(dir.filePath("large.dat"));
    QThread thread;
    auto* worker = new FileReader(&semaphore);
    worker->moveToThread(&thread);
    QObject::connect(worker, &QObject::destroyed, &thread, &QThread::quit, Qt::DirectConnection);
    QSemaphore scanning, deletePosted;
    const auto holdScan = [&] { // runs at the scan's first checkpoint, holding the scan there
        scanning.release();
        deletePosted.acquire();
    };
    const auto scan = [&, worker] {
        QMetaObject::invokeMethod(worker, holdScan, Qt::QueuedConnection);
        worker->setFileName(path);
    };
    QMetaObject::invokeMethod(worker, scan, Qt::QueuedConnection);
    thread.start();
    scanning.acquire();
    worker->deleteLater();
    deletePosted.release();
    ASSERT_TRUE(thread.wait(30000));
    EXPECT_EQ(log.countStartingWith("updateFileMap completed"), 0);
}

TEST_F(FileReaderTest, StreamingWaitsForPermitsAndStopsAtTheEnd)
{
    QFile sparse(dir.filePath("stream.dat"));
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) && sparse.resize(45000000));
    sparse.close();
    QSemaphore one(1);
    FileReader streamer(&one);
    streamer.setFileName(sparse.fileName()); // zeros: the map stays empty, the stream does not care
    QSignalSpy chunks(&streamer, &FileReader::dataAccuired);
    QSignalSpy ended(&streamer, &FileReader::fileStreamEnded);
    streamer.readFile();
    ASSERT_EQ(chunks.count(), 1);
    EXPECT_TRUE(log.texts().last().endsWith("] file read delayed (analyzer is slow)"));

    one.release(); // the analyzer took the first chunk: the timer goes on
    ASSERT_EVENTUALLY(chunks.count() == 2, 15000);
    one.release();
    ASSERT_EVENTUALLY(log.contains("File was read."), 15000);
    ASSERT_EQ(chunks.count(), 3);
    EXPECT_EQ(chunks.at(2).at(0).toByteArray().size(), 5000000);
    EXPECT_EQ(ended, (QList<QVariantList>{{true}}));
    QFile::remove(sparse.fileName()); // gone: streaming ends at once, unsuccessfully
    streamer.readFile();
    EXPECT_EQ(ended.last(), QVariantList{false});
}

} // namespace
