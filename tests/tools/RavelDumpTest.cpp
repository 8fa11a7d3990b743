// ravel-gen and ravel-dump as built: the dump of a generated file shows what
// the generator made, through records and through streaming; damaged files
// read in both modes; bad usage and unopenable files give their exit codes.
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray runTool(const QString& tool, const QStringList& arguments, int expectedExitCode = 0)
{
    QProcess process; // killed when it outlives the wait
    process.start(qEnvironmentVariable("RAVEL_BINARY_DIR") + "/tools/" + tool, arguments);
    EXPECT_TRUE(process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), expectedExitCode) << arguments.join(' ').toStdString();
    return process.readAllStandardOutput();
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

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile out(dir.filePath(name));
    EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    return out.fileName();
}

} // namespace

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
