// The playback dialog wired to a real FileReader on its own thread, as the
// main window wires them: the file chooser, the map progress, stepping,
// playing and stopping, the saved interval, geometry and visibility; bad,
// large and sparse files end in a clear message with the dialog still usable.

#include "app/FileReaderDialog.h"
#include "app/ViewerSettings.h"
#include "datapath/EventEncoder.h"
#include "datapath/FileReader.h"
#include "datapath/SampleGenerator.h"
#include "datapath/StreamFormat.h"
#include "tests/MessageLog.h"
#include "tests/WaitUntil.h"
#include "tests/app/TempSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

constexpr int WaitMs = 30000; // generous: other builds share this machine

// Generated events of one board, each one encoded event record.
QByteArrayList generatedRecords(int count, int channels = 4, int samples = 64)
{
    SampleGenerator::Options options;
    options.boards = 1;
    options.channels = channels;
    options.samples = samples;
    SampleGenerator generator(options);
    QByteArrayList records;
    for (int i = 0; i < count; ++i)
        records << EventEncoder::encodeEvent(generator.nextEvent());
    return records;
}

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        reader = new FileReader(&sourceSemaphore);
        // The main window's connections between the dialog and the reader.
        QObject::connect(&dialog, &FileReaderDialog::fileNameUpdated, reader, &FileReader::setFileName);
        QObject::connect(&dialog, &FileReaderDialog::changeRecord, reader, &FileReader::readRecord);
        QObject::connect(reader, &FileReader::fileMapUpdated, &dialog, &FileReaderDialog::fileMapUpdated);
        QObject::connect(reader, &FileReader::eventRead, &dialog, &FileReaderDialog::eventRead);
        // Stands in for the analyzer: takes each block, returns its permit.
        QObject::connect(reader, &FileReader::dataAccuired, &analyzer, [this](const QByteArray& block) {
            blocks << block;
            sourceSemaphore.release();
        });
        QObject::connect(reader, &QObject::destroyed, &readerThread, &QThread::quit, Qt::DirectConnection);
        reader->moveToThread(&readerThread);
        readerThread.start();
        // The longest gap between ticks of the event loop: whether the dialog froze.
        QObject::connect(&heartbeat, &QTimer::timeout, [this] { longestGap = qMax(longestGap, sinceTick.restart()); });
        sinceTick.start();
        heartbeat.start(20);
    }

    void TearDown() override
    {
        readerThread.requestInterruption(); // cancels a scan at its next checkpoint
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
    int progress() const { return widget<QProgressBar>("progressBarDecoded")->value(); }

    // Set file, then types the path and presses Open, or cancels when the path
    // is empty; `beforeTheReaderSeesIt` runs once the chooser has its answer.
    // Returns the chooser's caption and start folder.
    QStringList choose(const QString& path, std::function<void()> beforeTheReaderSeesIt = {})
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
            // selectFile() leaves the name field alone once it has the focus.
            chooser->findChild<QLineEdit*>("fileNameEdit")->setText(path);
            static_cast<QDialog*>(chooser)->accept(); // Open: checks the file exists
            if (beforeTheReaderSeesIt)
                beforeTheReaderSeesIt();
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
    QList<quint32> receivedEvNums() const
    {
        QList<quint32> evNums;
        for (const QByteArray& block : blocks)
            evNums << StreamFormat::readWord(block.constData() + 8);
        return evNums;
    }

    TempSettings temp;
    MessageLog messages;
    ViewerSettings settings;
    FileReaderDialog dialog{&settings};
    QSemaphore sourceSemaphore{50};
    QThread readerThread;
    FileReader* reader = nullptr;
    QObject analyzer;
    QByteArrayList blocks;
    QTimer heartbeat;
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
};

TEST_F(PlaybackTest, ChosenFilesAreMappedSteppedPlayedAndStoppedBadOnesLeaveTheDialogUsable)
{
    QSignalSpy names(&dialog, &FileReaderDialog::fileNameUpdated);
    choose(QString()); // cancelled: nothing changes
    EXPECT_TRUE(names.isEmpty());
    EXPECT_EQ(text("labelFileName"), "empty");

    const QByteArrayList records = generatedRecords(30);
    const QString path = temp.write("run.dat", records.join());
    settings.lastFile = temp.folder() + "/old.dat";
    EXPECT_EQ(choose(path), (QStringList{"Set source file", temp.folder()}));
    EXPECT_EQ(names.size(), 1);
    EXPECT_EQ(text("labelFileName"), path);

    ASSERT_EVENTUALLY_EQ(text("labelRecords"), QString("30"), WaitMs);
    const QFileInfo info(path);
    EXPECT_EQ(text("labelFileSize"), QString("%1 bytes").arg(info.size()));
    EXPECT_EQ(text("labelModDate"), info.lastModified().toString());
    EXPECT_EQ(progress(), 100);
    ASSERT_EVENTUALLY_EQ(blocks.size(), 1, WaitMs);
    EXPECT_EQ(blocks.first(), records.first());

    recordBox()->setValue(4);
    playAndWaitForStop("pushButtonForward");
    ASSERT_EVENTUALLY_EQ(text("labelEvNum"), QString("30"), WaitMs);
    playAndWaitForStop("pushButtonBackward");
    ASSERT_EVENTUALLY_EQ(text("labelEvNum"), QString("1"), WaitMs);
    QList<quint32> expected = {1};
    for (quint32 n = 4; n <= 30; ++n)
        expected << n;
    for (quint32 n = 29; n >= 1; --n)
        expected << n;
    ASSERT_EVENTUALLY_EQ(blocks.size(), expected.size(), WaitMs);
    EXPECT_EQ(receivedEvNums(), expected);
    EXPECT_EQ(blocks.at(3), records.at(5)); // record 6 on the way forward

    // Stop halts playback at once.
    widget<QSpinBox>("spinBoxInterval")->setValue(100);
    widget("pushButtonForward")->click();
    ASSERT_EVENTUALLY(recordBox()->value() >= 3, WaitMs);
    widget("pushButtonStop")->click();
    const int stoppedAt = recordBox()->value();
    QTest::qWait(300);
    EXPECT_EQ(recordBox()->value(), stoppedAt);

    // A new file while playing closes the record box: playback stops at the
    // next tick. (This one is gone before the reader sees it.)
    widget("pushButtonForward")->click();
    const QString gone = temp.write("gone.dat", {});
    choose(gone, [&] { QFile::remove(gone); });
    EXPECT_EQ(recordBox()->value(), 0);
    ASSERT_EVENTUALLY(widget("pushButtonStop")->isChecked(), WaitMs);
    ASSERT_EVENTUALLY_EQ(text("labelRecords"), QString("0"), WaitMs);
    EXPECT_FALSE(recordBox()->isEnabled());

    // A damaged file ends the scan before its first report: no map, nothing
    // to play. A truncated one after it plays its complete records. (The
    // reader's own tests check the messages of each kind of bad file.)
    const QByteArrayList five = generatedRecords(5);
    blocks.clear();
    choose(temp.write("damaged.dat", five.join().replace(2 * five[0].size(), 4, "JUNK")));
    ASSERT_EVENTUALLY(messages.contains(QtWarningMsg, "Unknown Kep header sync-word: 0x4b4e554a"), WaitMs);
    QTest::qWait(100);
    EXPECT_FALSE(recordBox()->isEnabled());
    choose(temp.write("cut.dat", five.join().chopped(3)));
    ASSERT_EVENTUALLY_EQ(text("labelRecords"), QString("4"), WaitMs);
    playAndWaitForStop("pushButtonForward");
    ASSERT_EVENTUALLY_EQ(blocks, five.mid(0, 4), WaitMs);
}

TEST_F(PlaybackTest, MapReportsRequestRecordOneOnceAndStayInRange)
{
    QSignalSpy requests(&dialog, &FileReaderDialog::changeRecord);
    const auto report = [&](quint32 records, double decodedPart) {
        dialog.fileMapUpdated(1234, "Tue Mar 5 10:11:12 2024", records, decodedPart);
    };
    report(0, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(progress(), 0);
    EXPECT_FALSE(recordBox()->isEnabled());
    report(7, 1.5);
    EXPECT_EQ(progress(), 100);
    EXPECT_EQ(recordBox()->value(), 1);
    report(0xFFFFFFFFu, 0.999);
    EXPECT_EQ(progress(), 99);
    EXPECT_EQ(text("labelRecords"), "4294967295");
    EXPECT_EQ(recordBox()->maximum(), std::numeric_limits<int>::max());
    EXPECT_EQ(requests.size(), 1);
}

TEST_F(PlaybackTest, IntervalIsSavedAtOnceAndGeometryAndVisibilityComeBack)
{
    widget<QSpinBox>("spinBoxInterval")->setValue(50);
    ViewerSettings stored;
    stored.loadSettings();
    EXPECT_EQ(stored.playbackInterval, 50);

    auto shown = std::make_unique<FileReaderDialog>(&stored);
    shown->show();
    shown->setGeometry(120, 90, 520, 430);
    const QRect shownAt = shown->geometry();
    shown.reset();
    shown = std::make_unique<FileReaderDialog>(&stored);
    EXPECT_FALSE(shown->isVisible()); // shown on the next event loop pass
    ASSERT_EVENTUALLY(shown->isVisible(), 5000);
    EXPECT_EQ(shown->geometry(), shownAt);
    shown->hide();
    shown.reset();
    FileReaderDialog hidden(&stored);
    QTest::qWait(50);
    EXPECT_FALSE(hidden.isVisible());
}

// The scan reports progress at most every 3 s. Large files on slow disks take
// that long; here a busy reader thread does, since every 1,000,000-byte
// checkpoint then spends its whole 100 ms event slice.
TEST_F(PlaybackTest, LongFileShowsProgressServesRecordsMeanwhileAndKeepsThePartBeforeDamage)
{
    QTimer* busyNeighbour = new QTimer;
    busyNeighbour->setInterval(0);
    busyNeighbour->moveToThread(&readerThread);
    QMetaObject::invokeMethod(busyNeighbour, qOverload<>(&QTimer::start), Qt::QueuedConnection);

    // 400 records of 64 channels x 1024 samples (about 53 MB: over 5 s of
    // scanning), numbered from 1, the magic of record 381 broken.
    const int recordCount = 400;
    const QByteArrayList distinct = generatedRecords(8, 64, 1024);
    QByteArray bytes;
    for (int i = 0; i < recordCount; ++i) {
        QByteArray record = distinct.at(i % distinct.size());
        qToLittleEndian(quint32(i + 1), record.data() + 8);
        if (i == recordCount - 20)
            record.replace(0, 4, "JUNK");
        bytes += record;
    }
    const QString path = temp.write("long.dat", bytes);
    bytes.clear();
    longestGap = 0, sinceTick.restart(); // from here on
    choose(path);

    // The first report with records opens the box and fetches record 1 from
    // the reader in the middle of its scan.
    ASSERT_EVENTUALLY(recordBox()->isEnabled(), WaitMs);
    ASSERT_EVENTUALLY_EQ(blocks.size(), 1, WaitMs);
    EXPECT_GT(progress(), 0);
    EXPECT_LT(progress(), 100) << "record 1 should arrive while the map is still being built";
    EXPECT_EQ(receivedEvNums(), QList<quint32>{1});

    ASSERT_EVENTUALLY(messages.contains(QtWarningMsg, "Unknown Kep header sync-word: 0x4b4e554a"), 2 * WaitMs);
    EXPECT_LT(longestGap, 1500) << "the dialog froze while the file was mapped";
    // The dialog keeps what the last progress report said, and plays it.
    const int playable = recordBox()->maximum();
    EXPECT_GT(playable, 0);
    EXPECT_LT(playable, recordCount - 20);
    EXPECT_EQ(text("labelRecords"), QString::number(playable));
    recordBox()->setValue(playable - 2);
    playAndWaitForStop("pushButtonForward");
    ASSERT_EVENTUALLY_EQ(blocks.size(), 4, WaitMs);
    EXPECT_EQ(receivedEvNums(), (QList<quint32>{1, quint32(playable - 2), quint32(playable - 1), quint32(playable)}));
    busyNeighbour->deleteLater();
}

TEST_F(PlaybackTest, TenGigabyteSparseFileIsMappedWhole)
{
    // Records of 1 MiB whose payload is a hole: only the headers take disk
    // space, and the scan reads nothing else.
    const qint64 recordSize = 1 << 20;
    const qint64 recordCount = 10240;
    const QString path = temp.write("sparse.dat", {});
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(recordSize * recordCount));
        for (qint64 i = 0; i < recordCount; ++i) {
            QByteArray header = EventEncoder::eventRecord(quint32(i + 1), QByteArray()).left(12);
            qToLittleEndian(quint32(recordSize - 12), header.data() + 4);
            file.seek(i * recordSize);
            file.write(header);
        }
    }
    longestGap = 0, sinceTick.restart(); // from here on
    choose(path);

    ASSERT_EVENTUALLY_EQ(text("labelRecords"), QString::number(recordCount), 2 * WaitMs);
    EXPECT_EQ(text("labelFileSize"), "10737418240 bytes");
    EXPECT_EQ(progress(), 100);
    recordBox()->setValue(int(recordCount));
    ASSERT_EVENTUALLY_EQ(blocks.size(), 2, WaitMs); // records 1 and the last
    EXPECT_EQ(blocks.last().size(), recordSize);
    EXPECT_EQ(receivedEvNums().last(), quint32(recordCount));
    EXPECT_EQ(text("labelEvNum"), QString::number(recordCount));
    EXPECT_LT(longestGap, 1500);
}

} // namespace
