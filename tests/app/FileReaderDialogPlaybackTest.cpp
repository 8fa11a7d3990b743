// The playback dialog wired to a real FileReader on its own thread, as the
// main window wires them: files chosen through the dialog are mapped, the map
// progress comes back, and stepping and playing fetch the records. Data files
// come from the project's generator; bad and large files are made on the fly.

#include "app/FileReaderDialog.h"
#include "app/ViewerSettings.h"
#include "datapath/EventEncoder.h"
#include "datapath/FileReader.h"
#include "datapath/SampleGenerator.h"
#include "datapath/StreamFormat.h"
#include "tests/MessageLog.h"
#include "tests/app/FileChooser.h"
#include "tests/app/TempSettings.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSpinBox>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

constexpr int WaitMs = 30000; // generous: other builds share this machine

// Generated events, each one encoded event record.
QList<QByteArray> generatedRecords(int count, int channels = 4, int samples = 64)
{
    SampleGenerator::Options options;
    options.boards = 1;
    options.channels = channels;
    options.samples = samples;
    SampleGenerator generator(options);
    QList<QByteArray> records;
    for (int i = 0; i < count; ++i)
        records << EventEncoder::encodeEvent(generator.nextEvent());
    return records;
}

quint32 evNumOf(const QByteArray& record)
{
    return StreamFormat::readWord(record.constData() + 8);
}

void setEvNum(QByteArray& record, quint32 evNum)
{
    qToLittleEndian(evNum, record.data() + 8);
}

// A file of `count` records of 64 channels x 1024 samples, numbered from 1:
// a few distinct generated events repeated, so that large files are quick to
// write. Returns the offset of each record.
QList<qint64> writeLongFile(const QString& path, int count)
{
    const QList<QByteArray> distinct = generatedRecords(8, 64, 1024);
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QList<qint64> offsets;
    for (int i = 0; i < count; ++i) {
        QByteArray record = distinct.at(i % distinct.size());
        setEvNum(record, quint32(i + 1));
        offsets << file.pos();
        file.write(record);
    }
    return offsets;
}

// The main thread's event loop ticks every 20 ms; the longest gap between two
// ticks tells whether the dialog froze.
class Heartbeat {
public:
    Heartbeat()
    {
        QObject::connect(&timer, &QTimer::timeout,
                         [this] { longestGapMs = std::max(longestGapMs, sinceLastTick.restart()); });
        sinceLastTick.start();
        timer.start(20);
    }
    qint64 longestGap() const { return longestGapMs; }

private:
    QTimer timer;
    QElapsedTimer sinceLastTick;
    qint64 longestGapMs = 0;
};

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        reader = new FileReader(&sourceSemaphore);
        // Connections of the main window between the dialog and the reader.
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
    }

    void TearDown() override
    {
        readerThread.requestInterruption(); // cancels a scan at its next checkpoint
        QMetaObject::invokeMethod(reader, &FileReader::closeFile, Qt::QueuedConnection);
        reader->deleteLater();
        EXPECT_TRUE(readerThread.wait(WaitMs));
    }

    template <typename T>
    T* widget(const char* name) const
    {
        return dialog.findChild<T*>(name);
    }
    QSpinBox* recordBox() const { return widget<QSpinBox>("spinBoxCurEvent"); }
    QString text(const char* label) const { return widget<QLabel>(label)->text(); }
    int progress() const { return widget<QProgressBar>("progressBarDecoded")->value(); }

    QString writeFile(const QString& name, const QByteArray& bytes) const
    {
        QFile file(temp.folder() + "/" + name);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
        return file.fileName();
    }
    static QByteArray joined(const QList<QByteArray>& records)
    {
        QByteArray bytes;
        for (const QByteArray& record : records)
            bytes += record;
        return bytes;
    }

    // What the operator does: Set file, pick the path, Open.
    void choose(const QString& path, std::function<void()> beforeTheReaderSeesIt = {})
    {
        FileChooser chooser(path, std::move(beforeTheReaderSeesIt));
        widget<QPushButton>("pushButtonSetFile")->click();
        ASSERT_TRUE(chooser.wasShown());
    }
    void playAndWaitForStop(const char* buttonName)
    {
        widget<QSpinBox>("spinBoxInterval")->setValue(10);
        widget<QPushButton>(buttonName)->click();
        QTRY_VERIFY_WITH_TIMEOUT(widget<QPushButton>("pushButtonStop")->isChecked(), WaitMs);
    }
    QList<quint32> receivedEvNums() const
    {
        QList<quint32> evNums;
        for (const QByteArray& block : blocks)
            evNums << evNumOf(block);
        return evNums;
    }
    // from, ..., to counting up or down.
    static QList<quint32> range(qint64 from, qint64 to)
    {
        QList<quint32> numbers;
        const int step = from <= to ? 1 : -1;
        for (qint64 n = from; n != to + step; n += step)
            numbers << quint32(n);
        return numbers;
    }
    // The reader's warnings, without the platform plugin's own notes.
    QStringList warnings() const
    {
        QStringList lines = messages.texts(QtWarningMsg);
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [](const QString& line) { return line.contains("propagateSizeHints"); }),
                    lines.end());
        return lines;
    }

    // After a bad file the dialog still maps, fetches and plays a good one.
    void expectAGoodFileStillPlays()
    {
        const QList<QByteArray> records = generatedRecords(3);
        blocks.clear();
        choose(writeFile("good.dat", joined(records)));
        QTRY_COMPARE_WITH_TIMEOUT(text("labelRecords"), QString("3"), WaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(blocks.size(), 1, WaitMs);
        playAndWaitForStop("pushButtonForward");
        QTRY_COMPARE_WITH_TIMEOUT(blocks.size(), 3, WaitMs);
        EXPECT_EQ(blocks, records);
    }

    TempSettings temp;
    MessageLog messages;
    ViewerSettings settings;
    FileReaderDialog dialog{&settings};
    QSemaphore sourceSemaphore{50};
    QThread readerThread;
    FileReader* reader = nullptr;
    QObject analyzer;
    QList<QByteArray> blocks;
};

TEST_F(PlaybackTest, ChosenFileIsMappedAndItsFirstRecordFetched)
{
    const QList<QByteArray> records = generatedRecords(5);
    const QString path = writeFile("run.dat", joined(records));
    choose(path);

    QTRY_COMPARE_WITH_TIMEOUT(text("labelRecords"), QString("5"), WaitMs);
    const QFileInfo info(path);
    EXPECT_EQ(text("labelFileName"), path);
    EXPECT_EQ(text("labelFileSize"), QString("%1 bytes").arg(info.size()));
    EXPECT_EQ(text("labelModDate"), info.lastModified().toString());
    EXPECT_EQ(progress(), 100);
    EXPECT_TRUE(recordBox()->isEnabled());
    EXPECT_EQ(recordBox()->minimum(), 1);
    EXPECT_EQ(recordBox()->maximum(), 5);

    QTRY_COMPARE_WITH_TIMEOUT(text("labelEvNum"), QString("1"), WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(blocks.size(), 1, WaitMs);
    EXPECT_EQ(blocks.first(), records.first());
    EXPECT_TRUE(messages.contains(QtDebugMsg, QString("Source file '%1' was opened").arg(path)));
    EXPECT_TRUE(messages.contains(
        QtDebugMsg, QString("updateFileMap completed: parsed %1/%1 bytes; 5 event records").arg(info.size())));
}

TEST_F(PlaybackTest, SteppingAndPlayingBothWaysFetchEveryRecordInOrder)
{
    const QList<QByteArray> records = generatedRecords(30);
    choose(writeFile("run.dat", joined(records)));
    QTRY_COMPARE_WITH_TIMEOUT(blocks.size(), 1, WaitMs);

    recordBox()->setValue(4);
    QTRY_COMPARE_WITH_TIMEOUT(text("labelEvNum"), QString("4"), WaitMs);

    playAndWaitForStop("pushButtonForward");
    QTRY_COMPARE_WITH_TIMEOUT(text("labelEvNum"), QString("30"), WaitMs);
    playAndWaitForStop("pushButtonBackward");
    QTRY_COMPARE_WITH_TIMEOUT(text("labelEvNum"), QString("1"), WaitMs);

    QList<quint32> expected = {1};
    expected << range(4, 30) << range(29, 1);
    QTRY_COMPARE_WITH_TIMEOUT(blocks.size(), expected.size(), WaitMs);
    EXPECT_EQ(receivedEvNums(), expected);
    EXPECT_EQ(blocks.at(3), records.at(5)); // record 6 on the way forward
    EXPECT_EQ(recordBox()->value(), 1);
}

TEST_F(PlaybackTest, MissingFileGivesAnEmptyMapAndTheDialogGoesOn)
{
    const QString path = writeFile("gone.dat", joined(generatedRecords(2)));
    choose(path, [path] { QFile::remove(path); });

    QTRY_COMPARE_WITH_TIMEOUT(text("labelRecords"), QString("0"), WaitMs);
    EXPECT_EQ(text("labelFileSize"), "0 bytes");
    EXPECT_FALSE(recordBox()->isEnabled());
    EXPECT_TRUE(
        messages.contains(QtWarningMsg, QString("Failed to open file '%1': No such file or directory").arg(path)));
    EXPECT_TRUE(blocks.isEmpty());
    expectAGoodFileStillPlays();
}

TEST_F(PlaybackTest, UnreadableFileCancelsTheMapAndTheDialogGoesOn)
{
    // A folder in place of the chosen file cannot be opened, even by root.
    const QString path = writeFile("locked.dat", joined(generatedRecords(2)));
    choose(path, [path, this] {
        QFile::remove(path);
        QDir(temp.folder()).mkdir("locked.dat");
    });

    QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QtWarningMsg, "Creation of file map was canceled."), WaitMs);
    const QStringList openFailures = warnings().filter(QString("Failed to open file '%1': ").arg(path));
    EXPECT_EQ(openFailures.size(), 1);
    // No final map update: the dialog still shows no map at all.
    EXPECT_EQ(text("labelRecords"), "");
    EXPECT_FALSE(recordBox()->isEnabled());
    expectAGoodFileStillPlays();
}

TEST_F(PlaybackTest, EmptyFileHasNoRecordsToPlay)
{
    choose(writeFile("empty.dat", QByteArray()));
    QTRY_COMPARE_WITH_TIMEOUT(text("labelFileSize"), QString("0 bytes"), WaitMs);
    EXPECT_EQ(text("labelRecords"), "0");
    EXPECT_FALSE(recordBox()->isEnabled());
    widget<QPushButton>("pushButtonForward")->click();
    QTRY_VERIFY_WITH_TIMEOUT(widget<QPushButton>("pushButtonStop")->isChecked(), WaitMs);
    EXPECT_TRUE(blocks.isEmpty());
    EXPECT_TRUE(warnings().isEmpty()) << warnings().join('\n').toStdString();
    expectAGoodFileStillPlays();
}

TEST_F(PlaybackTest, TruncatedFilePlaysTheCompleteRecordsOnly)
{
    const QList<QByteArray> records = generatedRecords(5);
    choose(writeFile("cut.dat", joined(records).chopped(3)));
    QTRY_COMPARE_WITH_TIMEOUT(text("labelRecords"), QString("4"), WaitMs);

    playAndWaitForStop("pushButtonForward");
    QTRY_COMPARE_WITH_TIMEOUT(blocks.size(), 4, WaitMs);
    EXPECT_EQ(blocks, records.mid(0, 4));
    EXPECT_EQ(text("labelEvNum"), "4");
}

TEST_F(PlaybackTest, DamagedShortFileEndsTheMapWithoutARecordAndTheDialogGoesOn)
{
    QList<QByteArray> records = generatedRecords(5);
    qToLittleEndian(quint32(0xDEADBEEF), records[2].data());
    choose(writeFile("damaged.dat", joined(records)));

    QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QtWarningMsg, "Unknown Kep header sync-word: 0xdeadbeef"), WaitMs);
    // The scan stopped before its first progress report: nothing to play.
    QTest::qWait(100);
    EXPECT_EQ(text("labelRecords"), "");
    EXPECT_FALSE(recordBox()->isEnabled());
    EXPECT_TRUE(blocks.isEmpty());
    expectAGoodFileStillPlays();
}

// The scan reports progress at most every 3 s. Large files on slow disks take
// that long; here a busy reader thread does, since every 1,000,000-byte
// checkpoint then spends its whole 100 ms event slice.
class LongScanTest : public PlaybackTest {
protected:
    void SetUp() override
    {
        PlaybackTest::SetUp();
        busyNeighbour = new QTimer;
        busyNeighbour->setInterval(0);
        busyNeighbour->moveToThread(&readerThread);
        QMetaObject::invokeMethod(busyNeighbour, qOverload<>(&QTimer::start), Qt::QueuedConnection);
        QObject::connect(widget<QProgressBar>("progressBarDecoded"), &QProgressBar::valueChanged,
                         [this](int percent) { progressSeen << percent; });
    }
    void TearDown() override
    {
        busyNeighbour->deleteLater();
        PlaybackTest::TearDown();
    }

    QTimer* busyNeighbour = nullptr;
    QList<int> progressSeen;
};

TEST_F(LongScanTest, ProgressShowsWhileMappingAndRecordsArriveMeanwhile)
{
    const QString path = temp.folder() + "/long.dat";
    const int recordCount = 400; // about 53 MB: over 5 s of scanning
    writeLongFile(path, recordCount);
    const qint64 size = QFileInfo(path).size();
    Heartbeat heartbeat;
    choose(path);

    // The first report with records opens the box and fetches record 1 from
    // the reader in the middle of its scan.
    QTRY_VERIFY_WITH_TIMEOUT(recordBox()->isEnabled(), WaitMs);
    const int recordsAtFirstReport = recordBox()->maximum();
    EXPECT_GT(recordsAtFirstReport, 0);
    EXPECT_LT(recordsAtFirstReport, recordCount);
    QTRY_COMPARE_WITH_TIMEOUT(blocks.size(), 1, WaitMs);
    EXPECT_LT(progress(), 100) << "record 1 should arrive while the map is still being built";

    QTRY_COMPARE_WITH_TIMEOUT(text("labelRecords"), QString::number(recordCount), 2 * WaitMs);
    EXPECT_EQ(progress(), 100);
    EXPECT_EQ(text("labelFileSize"), QString("%1 bytes").arg(size));
    ASSERT_GE(progressSeen.size(), 2);
    EXPECT_GT(progressSeen.first(), 0);
    EXPECT_LT(progressSeen.first(), 100);
    EXPECT_EQ(recordBox()->maximum(), recordCount);
    EXPECT_EQ(evNumOf(blocks.first()), 1u);
    EXPECT_TRUE(messages.texts(QtDebugMsg).filter(QRegularExpression("^Completed \\d+\\.\\d% \\d+ ms$")).size() >= 1);
    EXPECT_LT(heartbeat.longestGap(), 1500) << "the dialog froze while the file was mapped";
}

TEST_F(LongScanTest, DamageLateInALongFileLeavesThePartialMapPlayable)
{
    const QString path = temp.folder() + "/long-damaged.dat";
    const int recordCount = 400;
    const QList<qint64> offsets = writeLongFile(path, recordCount);
    {
        // Break the magic of a record near the end of the file.
        QFile file(path);
        file.open(QIODevice::ReadWrite);
        file.seek(offsets.at(recordCount - 20));
        file.write("JUNK");
    }
    choose(path);

    QTRY_VERIFY_WITH_TIMEOUT(messages.contains(QtWarningMsg, "Unknown Kep header sync-word: 0x4b4e554a"), 2 * WaitMs);
    // The dialog keeps what the last progress report said.
    const int playable = recordBox()->maximum();
    EXPECT_TRUE(recordBox()->isEnabled());
    EXPECT_GT(playable, 0);
    EXPECT_LT(playable, recordCount - 20);
    EXPECT_EQ(text("labelRecords"), QString::number(playable));

    recordBox()->setValue(playable - 2);
    playAndWaitForStop("pushButtonForward");
    QTRY_COMPARE_WITH_TIMEOUT(text("labelEvNum"), QString::number(playable), WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(blocks.size(), 4, WaitMs);
    EXPECT_EQ(receivedEvNums(), (QList<quint32>{1, quint32(playable - 2), quint32(playable - 1), quint32(playable)}));
}

TEST_F(PlaybackTest, TenGigabyteSparseFileIsMappedWhole)
{
    // Records of 1 MiB whose payload is a hole: only the headers take disk
    // space, and the scan reads nothing else.
    const qint64 recordSize = 1 << 20;
    const qint64 recordCount = 10240;
    const QString path = temp.folder() + "/sparse.dat";
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
    Heartbeat heartbeat;
    choose(path);

    QTRY_COMPARE_WITH_TIMEOUT(text("labelRecords"), QString::number(recordCount), 2 * WaitMs);
    EXPECT_EQ(text("labelFileSize"), "10737418240 bytes");
    EXPECT_EQ(progress(), 100);
    QTRY_COMPARE_WITH_TIMEOUT(blocks.size(), 1, WaitMs);

    recordBox()->setValue(int(recordCount));
    QTRY_COMPARE_WITH_TIMEOUT(blocks.size(), 2, WaitMs);
    EXPECT_EQ(blocks.last().size(), recordSize);
    EXPECT_EQ(evNumOf(blocks.last()), quint32(recordCount));
    EXPECT_EQ(text("labelEvNum"), QString::number(recordCount));
    EXPECT_LT(heartbeat.longestGap(), 1500);
}

} // namespace
