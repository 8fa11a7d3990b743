// RootWriter: opening and truncating its file, unwritable paths, permits.
#include "datapath/RootWriter.h"
#include "tests/MessageLog.h"

#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(RootWriterTest, SettingTheSameNameAgainTruncatesTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out.txt");
    MessageLog log;
    {
        QSemaphore semaphore(50);
        RootWriter writer(&semaphore);
        writer.setFileName(path);
        EXPECT_TRUE(log.contains(QtDebugMsg, "Data file opened: " + path));
        ASSERT_TRUE(QFileInfo::exists(path));

        QFile other(path); // someone else writes into it meanwhile
        ASSERT_TRUE(other.open(QIODevice::Append));
        other.write("stale");
        other.close();
        ASSERT_EQ(QFileInfo(path).size(), 5);

        writer.setFileName(path);
        EXPECT_EQ(QFileInfo(path).size(), 0);
        writer.flushFile();
    }
    EXPECT_EQ(QFileInfo(path).size(), 0);
}

TEST(RootWriterTest, UnwritablePathLeavesNoFileOpen)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("missing/dir/out.txt");
    MessageLog log;
    QSemaphore semaphore(50);
    RootWriter writer(&semaphore);
    writer.setFileName(path);
    EXPECT_TRUE(log.contains(QtCriticalMsg, "Can't open data file: " + path));
    writer.flushFile(); // nothing open: nothing happens
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(RootWriterTest, ReturnsOnePermitPerBoardRecord)
{
    QSemaphore semaphore(50);
    semaphore.acquire(3);
    RootWriter writer(&semaphore);
    DeviceData board;
    board.serial = 0x1234;
    writer.decodeData(board);
    writer.decodeData(board);
    EXPECT_EQ(semaphore.available(), 49);
}

} // namespace
