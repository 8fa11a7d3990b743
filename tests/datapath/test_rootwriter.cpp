// RootWriter, the feature log: the exact bytes of a record, when they reach
// the disk, reopening and closing, and the two ways writing fails (no file,
// no space); one permit per board record in every case.
#include "datapath/RootWriter.h"
#include "tests/MessageLog.h"

#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QByteArray Header = "evNum,serial,type,channel,baseline,noise,amplitude,peak,integral\n";

// Board 0x0a1b2c3d of type 0xd9 in event 7, channels 0 and 5.
DeviceData smallRecord()
{
    DeviceEvent board;
    board.serial = 0x0A1B2C3D;
    board.deviceType = 0xD9;
    board.evNum = 7;
    board.channels[0].ch = 0;
    board.channels[0].features = {100, 2.5, -0.125, 0, -1};
    board.channels[5].ch = 5;
    board.channels[5].features = {1999.75, 0.1, 3000, -12345.5, 41};
    return {board.serial, board.deviceType, {board}, {}};
}
const QByteArray SmallRecordLines = "7,169552957,217,0,100,2.5,-0.125,-1,0\n"
                                    "7,169552957,217,5,1999.75,0.1,3000,41,-12345.5\n";

QByteArray contents(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

class RootWriterTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath("features.csv");
    QSemaphore semaphore{50};
    RootWriter writer{&semaphore};
    QSignalSpy logs{&writer, &RootWriter::addLog};
    QSignalSpy status{&writer, &RootWriter::outputStatusUpdated};

    // Hands the writer `count` records as the analyzer does, permit taken first.
    void hand(int count)
    {
        for (int i = 0; i < count; ++i) {
            semaphore.acquire();
            writer.decodeData(smallRecord());
        }
    }
};

} // namespace

TEST_F(RootWriterTest, WritesTheHeaderAndOneLinePerChannelReachingTheDiskOnEachFlush)
{
    writer.setFileName(path);
    hand(1);
    EXPECT_EQ(writer.linesWritten(), 2);
    // Each way of flushing puts everything handed over so far on the disk.
    const std::vector<std::pair<const char*, std::function<void()>>> flushes{{"flushFile", [&] { writer.flushFile(); }},
                                                                             {"tick", [&] { writer.tett(); }}};
    for (const auto& flush : flushes) {
        hand(1);
        flush.second();
        EXPECT_EQ(contents(path), Header + SmallRecordLines.repeated(int(writer.linesWritten() / 2))) << flush.first;
    }
    ASSERT_FALSE(status.isEmpty());
    EXPECT_EQ(status.last(), (QVariantList{path, qint64(6)})); // the tick tells the count
    EXPECT_EQ(semaphore.available(), 50);
    EXPECT_TRUE(logs.isEmpty());
}

TEST_F(RootWriterTest, DestructionFlushesWhatIsStillBuffered)
{
    {
        RootWriter last(&semaphore);
        last.setFileName(path);
        last.decodeData(smallRecord());
        semaphore.acquire();
    }
    EXPECT_EQ(contents(path), Header + SmallRecordLines);
}

TEST_F(RootWriterTest, ReopeningTruncatesAndAnEmptyNameCloses)
{
    writer.setFileName(path);
    hand(2);
    writer.setFileName(path);
    hand(1);
    writer.setFileName(QString());
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(status.last(), (QVariantList{QString(), qint64(0)}));
    hand(1); // nothing open: not written, permit still returned
    EXPECT_EQ(contents(path), Header + SmallRecordLines);
    EXPECT_EQ(semaphore.available(), 50);
}

TEST_F(RootWriterTest, AnUnwritablePathOpensNothing)
{
    MessageLog messages;
    const QString missing = dir.filePath("missing/features.csv");
    writer.setFileName(missing);
    EXPECT_TRUE(messages.contains(QtCriticalMsg, "Can't open data file: " + missing));
    EXPECT_FALSE(writer.isOpen());
    hand(1);
    writer.flushFile();
    EXPECT_EQ(semaphore.available(), 50);
    EXPECT_TRUE(logs.isEmpty());
}

// /dev/full takes the open and fails every write that reaches it.
TEST_F(RootWriterTest, AFullDiskIsReportedOnceAndClosesTheFile)
{
    writer.setFileName("/dev/full");
    ASSERT_TRUE(writer.isOpen());
    hand(1);
    writer.tett();
    hand(3);
    writer.flushFile();
    ASSERT_EQ(logs.size(), 1);
    EXPECT_EQ(logs[0][0].toString(), "Can't write data file: /dev/full (No space left on device); it is closed");
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(status.last(), (QVariantList{QString(), qint64(0)}));
    EXPECT_EQ(semaphore.available(), 50);
}
