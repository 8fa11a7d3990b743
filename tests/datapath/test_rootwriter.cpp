// RootWriter: opening and truncating its file, unwritable paths, permits.
#include "datapath/RootWriter.h"
#include "tests/MessageLog.h"

#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(RootWriterTest, OpensTruncatingOrReportsAndReturnsOnePermitPerBoard)
{
    QTemporaryDir dir;
    const struct {
        QString path;
        QtMsgType type;
        QString text;
    } cases[] = {{dir.filePath("out.txt"), QtDebugMsg, "Data file opened: "},
                 {dir.filePath("missing/dir/out.txt"), QtCriticalMsg, "Can't open data file: "}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        MessageLog log;
        QSemaphore semaphore(50);
        RootWriter writer(&semaphore);
        writer.setFileName(c.path);
        EXPECT_TRUE(log.contains(c.type, c.text + c.path));
        const bool opened = c.type == QtDebugMsg;
        ASSERT_EQ(QFileInfo::exists(c.path), opened);
        if (opened) {
            QFile other(c.path); // someone else writes into it meanwhile
            ASSERT_TRUE(other.open(QIODevice::Append) && other.write("stale") == 5);
            other.close();
            writer.setFileName(c.path); // the same name again truncates
            EXPECT_EQ(QFileInfo(c.path).size(), 0);
        }
        writer.flushFile(); // with nothing open, nothing happens
        semaphore.acquire(3);
        writer.decodeData(DeviceData{});
        writer.decodeData(DeviceData{});
        EXPECT_EQ(semaphore.available(), 49);
        EXPECT_EQ(QFileInfo(c.path).size(), 0);
    }
}
