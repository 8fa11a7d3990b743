// RootWriter: opening its file or reporting why not, one permit per board.
#include "datapath/RootWriter.h"
#include "tests/MessageLog.h"

#include <QSemaphore>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(RootWriterTest, OpensOrReportsAndReturnsOnePermitPerBoard)
{
    QTemporaryDir dir;
    MessageLog log;
    QSemaphore semaphore(50);
    RootWriter writer(&semaphore);
    for (const QString& path : {dir.filePath("out.txt"), dir.filePath("missing/out.txt")})
        writer.setFileName(path);
    EXPECT_TRUE(log.contains(QtDebugMsg, "Data file opened: " + dir.filePath("out.txt")));
    EXPECT_TRUE(log.contains(QtCriticalMsg, "Can't open data file: " + dir.filePath("missing/out.txt")));
    writer.flushFile(); // with nothing open, nothing happens
    semaphore.acquire(2);
    writer.decodeData(DeviceData{});
    EXPECT_EQ(semaphore.available(), 49);
}
