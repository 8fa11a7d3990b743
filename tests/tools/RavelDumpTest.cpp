// ravel-gen and ravel-dump as built: the dump of a generated file shows what
// the generator made, through records and through streaming; bad usage and
// missing files give their exit codes.
#include "datapath/SampleGenerator.h"

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
    runTool("ravel-gen", {"--samples", "7", dir.filePath("x.dat")}, 2);
}
