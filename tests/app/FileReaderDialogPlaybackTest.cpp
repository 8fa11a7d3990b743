// The playback dialog wired to a real FileReader thread as the main window
// wires them; bad files end in a clear message with the dialog still usable.

#include "app/FileReaderDialog.h"
#include "app/ViewerSettings.h"
#include "datapath/EventEncoder.h"
#include "datapath/FileReader.h"
#include "datapath/SampleGenerator.h"
#include "tests/MessageLog.h"
#include "tests/WaitUntil.h"
#include "tests/app/TempSettings.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSemaphore>
#include <QSpinBox>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

constexpr int WaitMs = 30000; // generous: other builds share this machine

QByteArrayList generatedRecords(int count)
{
    SampleGenerator generator({1, 1, 4, 64}); // seed, boards, channels, samples
    QByteArrayList records;
    for (int i = 0; i < count; ++i)
        records << EventEncoder::encodeEvent(generator.nextEvent());
    return records;
}

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The main window's connections; the analyzer's part: take each block, return its permit.
        QObject::connect(&dialog, &FileReaderDialog::fileNameUpdated, reader, &FileReader::setFileName);
        QObject::connect(&dialog, &FileReaderDialog::changeRecord, reader, &FileReader::readRecord);
        QObject::connect(reader, &FileReader::fileMapUpdated, &dialog, &FileReaderDialog::fileMapUpdated);
        QObject::connect(reader, &FileReader::eventRead, &dialog, &FileReaderDialog::eventRead);
        QObject::connect(reader, &FileReader::dataAccuired, &dialog, [this](const QByteArray& block) {
            blocks << block;
            sourceSemaphore.release();
        });
        QObject::connect(reader, &QObject::destroyed, &readerThread, &QThread::quit, Qt::DirectConnection);
        reader->moveToThread(&readerThread);
        readerThread.start();
    }
    void TearDown() override
    {
        QMetaObject::invokeMethod(reader, &FileReader::closeFile, Qt::QueuedConnection);
        reader->deleteLater();
        EXPECT_TRUE(readerThread.wait(WaitMs));
    }

    template <typename T = QPushButton>
    T* widget(const char* name) const
    {
        return dialog.findChild<T*>(name);
    }
    QSpinBox* recordBox() const { return widget<QSpinBox>("spinBoxCurEvent"); }
    QString text(const char* label) const { return widget<QLabel>(label)->text(); }

    // Set file, then the path typed and Open pressed, or cancel for an empty
    // path. Returns the chooser's caption and start folder.
    QStringList choose(const QString& path)
    {
        QStringList seen;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!chooser || !chooser->isVisible() || !seen.isEmpty())
                return;
            seen << chooser->windowTitle() << chooser->directory().absolutePath();
            if (path.isEmpty())
                return chooser->reject();
            chooser->findChild<QLineEdit*>("fileNameEdit")->setText(path);
            static_cast<QDialog*>(chooser)->accept();
        });
        poll.start(10);
        widget("pushButtonSetFile")->click();
        EXPECT_EQ(seen.size(), 2) << "no file chooser";
        return seen;
    }
    void playAndWaitForStop(const char* button)
    {
        widget<QSpinBox>("spinBoxInterval")->setValue(10);
        widget(button)->click();
        ASSERT_EVENTUALLY(widget("pushButtonStop")->isChecked(), WaitMs);
    }

    TempSettings temp;
    MessageLog messages;
    ViewerSettings settings;
    FileReaderDialog dialog{&settings};
    QSemaphore sourceSemaphore{50};
    QThread readerThread;
    FileReader* reader = new FileReader(&sourceSemaphore);
    QByteArrayList blocks;
};

TEST_F(PlaybackTest, ChosenFilesAreMappedSteppedPlayedAndStoppedBadOnesLeaveTheDialogUsable)
{
    choose(QString()); // cancelled: nothing changes
    EXPECT_EQ(text("labelFileName"), "empty");

    const QByteArrayList records = generatedRecords(30);
    const QString path = temp.write("run.dat", records.join());
    settings.lastFile = temp.folder() + "/old.dat";
    EXPECT_EQ(choose(path), (QStringList{"Set source file", temp.folder()}));
    ASSERT_EVENTUALLY_EQ(text("labelRecords"), QString("30"), WaitMs);
    EXPECT_EQ(text("labelFileSize"), QString("%1 bytes").arg(QFileInfo(path).size()));

    recordBox()->setValue(4);
    playAndWaitForStop("pushButtonForward");
    playAndWaitForStop("pushButtonBackward");
    ASSERT_EVENTUALLY_EQ(blocks.size(), 1 + 27 + 29, WaitMs); // record 1, then 4..30 and back
    EXPECT_EQ(blocks.at(3), records.at(5));
    EXPECT_EQ(blocks.at(27), records.at(29));
    EXPECT_EQ(blocks.last(), records.first());
    ASSERT_EVENTUALLY_EQ(text("labelEvNum"), QString("1"), WaitMs);

    // A damaged file ends the scan before its first report: nothing to play.
    // A truncated one after it plays its complete records.
    const QByteArrayList five = generatedRecords(5);
    blocks.clear();
    choose(temp.write("damaged.dat", five.join().replace(2 * five[0].size(), 4, "JUNK")));
    ASSERT_EVENTUALLY(messages.contains(QtWarningMsg, "Unknown Kep header sync-word: 0x4b4e554a"), WaitMs);
    ASSERT_EVENTUALLY(!recordBox()->isEnabled(), WaitMs);
    choose(temp.write("cut.dat", five.join().chopped(3)));
    ASSERT_EVENTUALLY_EQ(text("labelRecords"), QString("4"), WaitMs);
    playAndWaitForStop("pushButtonForward");
    ASSERT_EVENTUALLY_EQ(blocks, five.mid(0, 4), WaitMs);
}

// Odd reports stay in range; record 1 is asked for once.
TEST_F(PlaybackTest, MapReportsRequestRecordOneOnceAndStayInRange)
{
    int requests = 0;
    QObject::connect(&dialog, &FileReaderDialog::changeRecord, [&] { ++requests; });
    for (auto report : std::initializer_list<std::pair<quint32, double>>{{0, qQNaN()}, {7, 1.5}, {0xFFFFFFFFu, 0.999}})
        dialog.fileMapUpdated(1234, "Tue Mar 5 10:11:12 2024", report.first, report.second);
    EXPECT_EQ(text("labelRecords"), "4294967295");
    EXPECT_EQ(recordBox()->maximum(), std::numeric_limits<int>::max());
    EXPECT_EQ(requests, 1);
}

} // namespace
