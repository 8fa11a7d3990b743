// ravel-gen, ravel-dump and ravel-baselines as built: the dump of a generated
// file shows what the generator made, through records and through streaming,
// and its features are the viewer's feature log of the file; damaged files
// read in both modes; the baselines of a file land where the viewer reads
// them; bad usage and unopenable files give their exit codes.
#include "datapath/ADCAnalyzer.h"
#include "datapath/DeviceSettings.h"
#include "datapath/EventEncoder.h"
#include "datapath/FeatureExtractor.h"
#include "datapath/RootWriter.h"
#include "datapath/SampleGenerator.h"
#include "tests/tools/RunTool.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile out(dir.filePath(name));
    EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    return out.fileName();
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// A generated file of signed codes; returns its path.
QString generate(const QTemporaryDir& dir, const SampleGenerator::Options& options, int events)
{
    const QString sample = dir.filePath("sample.dat");
    runTool("ravel-gen", {"--seed", QString::number(options.seed), "--events", QString::number(events), "--boards",
                          QString::number(options.boards), "--channels", QString::number(options.channels), "--samples",
                          QString::number(options.samples), sample});
    return sample;
}

QVector<QJsonObject> jsonLines(const QByteArray& text)
{
    QVector<QJsonObject> objects;
    for (const QByteArray& line : text.trimmed().split('\n'))
        objects.append(QJsonDocument::fromJson(line).object());
    return objects;
}

} // namespace

TEST(RavelTools, JsonDumpMatchesTheGenerator)
{
    QTemporaryDir dir;
    const QString sample = dir.filePath("sample.dat");
    runTool("ravel-gen",
            {"--seed", "42", "--events", "12", "--boards", "2", "--channels", "8", "--samples", "16", sample});
    const SampleGenerator::Options options{42, 2, 8, 16}; // seed, boards, channels, samples
    // Reading records and streaming give the same lines; spot checks against
    // the generator prove the values.
    const QByteArray dump = runTool("ravel-dump", {"--json", sample});
    EXPECT_EQ(runTool("ravel-dump", {"--json", "--stream", sample}), dump);
    const QVector<QJsonObject> lines = jsonLines(dump);
    ASSERT_EQ(lines.size(), 13);
    SampleGenerator generator(options);
    for (int i = 0; i < 12; ++i) {
        const EventData event = generator.nextEvent();
        const QJsonObject board = lines[i]["boards"][1].toObject();
        const ChannelData& channel = event.devices.last().channels.last();
        ASSERT_EQ(lines[i]["evNum"], double(event.evNum));
        ASSERT_EQ(board["serial"], double(event.devices.last().serial));
        ASSERT_EQ(board["channels"][7]["samples"][15], channel.samples[15]) << "event " << i;
    }
    EXPECT_EQ(lines.last()["fileMap"]["completed"], true);

    runTool("ravel-dump", {"--bogus", sample}, 2);
    runTool("ravel-dump", {dir.filePath("missing.dat")}, 1);
    runTool("ravel-dump", {"--stream", dir.path()}, 1); // a directory: the reader cannot open it
    runTool("ravel-gen", {"--samples", "7", dir.filePath("x.dat")}, 2);
}

TEST(RavelTools, FeaturesDumpIsTheFeatureLogOfTheFile)
{
    QTemporaryDir dir;
    const QString sample = generate(dir, {5, 2, 8, 64}, 30);
    const QByteArray dump = runTool("ravel-dump", {"--features", sample});
    EXPECT_EQ(dump.count('\n'), 1 + 30 * 2 * 8);

    // The viewer's way: the analyzer's board records handed to the writer.
    QSemaphore writerPermits(50);
    {
        RootWriter writer(&writerPermits);
        ADCAnalyzer analyzer(nullptr, &writerPermits);
        analyzer.dataSourceUpdated(true);
        QObject::connect(&analyzer, &ADCAnalyzer::deviceDataUpdated, &writer, &RootWriter::decodeData);
        writer.setFileName(dir.filePath("features.csv"));
        analyzer.dataAccuired(contents(sample));
    }
    EXPECT_EQ(contents(dir.filePath("features.csv")), dump);
    runTool("ravel-dump", {"--features", "--csv", sample}, 2);
}

TEST(RavelTools, BaselinesAreStoredWhereTheViewerReadsThem)
{
    QTemporaryDir dir;
    const SampleGenerator::Options options{9, 2, 4, 64}; // pulses reach the baseline samples
    const QString sample = generate(dir, options, 20);
    const QString ini = dir.filePath("Ravel.ini");
    const QString firstGroup = DeviceSettings::groupName(options.deviceType, options.firstSerial);
    QSettings(ini, QSettings::IniFormat).setValue(firstGroup + "/thr.0", 55);

    const QByteArray table = runTool("ravel-baselines", {"--dry-run", "--ini", ini, sample});
    EXPECT_TRUE(table.startsWith("board ")) << table.constData();
    EXPECT_EQ(table.count('\n'), 1 + 2 * 4);
    EXPECT_FALSE(contents(ini).contains("baseline"));
    runTool("ravel-baselines", {"--events", "10", "--ini", ini, sample});

    // Expected: the mean of the first 10 events' feature baselines, rounded.
    QMap<quint32, QMap<int, double>> sums;
    SampleGenerator generator(options);
    for (int i = 0; i < 10; ++i) {
        for (const DeviceEvent& board : generator.nextEvent().devices)
            for (const ChannelData& channel : board.channels)
                sums[board.serial][channel.ch] +=
                    FeatureExtractor().compute(channel.samples.constData(), channel.samples.size()).baseline;
    }
    QSettings store(ini, QSettings::IniFormat);
    for (auto board = sums.cbegin(); board != sums.cend(); ++board) {
        QMap<int, int> expected;
        for (auto channel = board->cbegin(); channel != board->cend(); ++channel)
            expected[channel.key()] = qRound(channel.value() / 10);
        DeviceSettings model(options.deviceType, board.key());
        model.load(store);
        EXPECT_EQ(model.baselines(), expected) << board.key();
    }
    DeviceSettings first(options.deviceType, options.firstSerial);
    first.load(store);
    EXPECT_EQ(first.thresholds().value(0), 55); // other keys stay

    runTool("ravel-baselines", {dir.filePath("missing.dat")}, 1);
    runTool("ravel-baselines", {"--events", "0", sample}, 2);
}

// Records come in event-number order with duplicates dropped; streaming
// follows the file, where start records are format errors and a record cut by
// the file's end is reported. The summary counts errors, not log lines.
TEST(RavelTools, DamagedFilesByRecordAndStreamed)
{
    QTemporaryDir dir;
    SampleGenerator generator(SampleGenerator::Options{7, 1, 2, 4});
    QByteArray three;
    for (int i = 0; i < 3; ++i)
        three += EventEncoder::encodeEvent(generator.nextEvent()); // evNums 1, 2, 3
    const QString startError = "Format error: wrong KEP_SYNC_WORD: 72617453; at file pos:0";
    const QString garbageError =
        QString("Format error: wrong KEP_SYNC_WORD: 42524147; at file pos:%1").arg(three.size() / 3);
    const QString odd = writeFile(dir, "odd.dat", EventEncoder::encodeStartRecord("run 7") + three + three.left(30));
    const QString twice = writeFile(dir, "twice.dat", three + three);
    const QString damaged = writeFile(dir, "damaged.dat", three.left(three.size() / 3) + "GARBAGE!" + three);
    const struct {
        QString file;
        bool stream;
        QVector<double> evNums;
        QStringList logs;
        int errors; // in the summary
        QJsonObject fileMap;
    } cases[] = {
        {odd, false, {1, 2, 3}, {}, 0, {{"records", 3}, {"completed", true}}},
        {odd,
         true,
         {1, 2, 3},
         {startError, startError, "Format error: the file ends inside a record; 30 bytes left undecoded"},
         2,
         {{"records", 3}, {"completed", true}}},
        {twice, false, {1, 2, 3}, {}, 0, {{"records", 3}}},
        {twice, true, {1, 2, 3, 1, 2, 3}, {}, 0, {{"records", 3}}},
        {damaged, false, {1}, {}, 0, {{"records", 1}, {"completed", false}, {"parsed", three.size() / 3}}},
        {damaged, true, {1, 1, 2, 3}, {garbageError, garbageError}, 1, {{"records", 1}, {"completed", false}}},
    };
    for (const auto& c : cases) {
        const QString name = QFileInfo(c.file).fileName() + (c.stream ? " --stream" : "");
        SCOPED_TRACE(name.toStdString());
        const QStringList mode = c.stream ? QStringList{"--stream"} : QStringList{};
        QVector<double> evNums;
        QStringList logs;
        QJsonObject fileMap;
        for (const QJsonObject& line : jsonLines(runTool("ravel-dump", mode + QStringList{"--json", c.file}))) {
            if (line.contains("evNum"))
                evNums.append(line["evNum"].toDouble());
            if (line.contains("log"))
                logs.append(line["log"].toString());
            fileMap = line["fileMap"].toObject();
        }
        EXPECT_EQ(evNums, c.evNums);
        EXPECT_EQ(logs, c.logs);
        for (auto it = c.fileMap.begin(); it != c.fileMap.end(); ++it)
            EXPECT_EQ(fileMap[it.key()], it.value()) << it.key().toStdString();
        const QString summary = runTool("ravel-dump", mode + QStringList{c.file});
        EXPECT_TRUE(summary.contains(QString("Format errors: %1\n").arg(c.errors))) << summary.toStdString();
    }
}
