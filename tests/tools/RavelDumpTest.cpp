// ravel-gen and ravel-dump as built: the dump of a generated file is exactly
// what the generator made, through records and through streaming; damaged
// files show the decoder's log lines; exit codes follow the usage rules.
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun runTool(const QString& tool, const QStringList& arguments)
{
    const QString path = qEnvironmentVariable("RAVEL_BINARY_DIR") + "/tools/" + tool;
    QProcess process;
    process.start(path, arguments);
    ToolRun run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << tool.toStdString() << " did not finish";
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QVector<QJsonObject> jsonLines(const QByteArray& text)
{
    QVector<QJsonObject> objects;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.left(200).toStdString();
        objects.append(doc.object());
    }
    return objects;
}

quint64 integer(const QJsonValue& value)
{
    return value.toVariant().toULongLong();
}

// Compares one JSON event line with the event the generator made.
void expectSameEvent(const QJsonObject& json, const EventData& expected)
{
    ASSERT_EQ(integer(json["evNum"]), expected.evNum);
    const QJsonArray boards = json["boards"].toArray();
    ASSERT_EQ(boards.size(), expected.devices.size());
    int b = 0;
    for (const DeviceEvent& board : expected.devices) {
        const QJsonObject jb = boards[b++].toObject();
        ASSERT_EQ(integer(jb["serial"]), board.serial);
        ASSERT_EQ(integer(jb["deviceType"]), board.deviceType);
        ASSERT_EQ(integer(jb["evNum"]), board.evNum);
        ASSERT_EQ(integer(jb["timeHigh"]), board.timeHigh);
        ASSERT_EQ(integer(jb["timeFlags"]), board.timeFlags);
        ASSERT_EQ(integer(jb["timeLow"]), board.timeLow);
        const QJsonArray channels = jb["channels"].toArray();
        ASSERT_EQ(channels.size(), board.channels.size());
        int c = 0;
        for (const ChannelData& channel : board.channels) {
            const QJsonObject jc = channels[c++].toObject();
            ASSERT_EQ(integer(jc["ch"]), channel.ch);
            ASSERT_EQ(integer(jc["time"]), channel.time);
            const QJsonArray samples = jc["samples"].toArray();
            ASSERT_EQ(samples.size(), channel.samples.size());
            for (int i = 0; i < samples.size(); ++i)
                ASSERT_EQ(samples[i].toInt(), int(channel.samples[i]))
                    << "channel " << int(channel.ch) << " sample " << i;
        }
    }
}

class RavelTools : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }

    // Generates a file and returns the generator options used.
    SampleGenerator::Options generate(const QString& name, const QStringList& extra = {})
    {
        SampleGenerator::Options options;
        options.seed = 42;
        options.boards = 2;
        options.channels = 64;
        options.samples = 128;
        QStringList arguments{"--seed", "42",        "--events", QString::number(Events), "--boards", "2", "--channels",
                              "64",     "--samples", "128"};
        const ToolRun run = runTool("ravel-gen", arguments + extra + QStringList{path(name)});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        return options;
    }

    static constexpr int Events = 12;
    QTemporaryDir dir;
};

} // namespace

TEST_F(RavelTools, JsonDumpMatchesTheGeneratorEventForEvent)
{
    const SampleGenerator::Options options = generate("sample.dat");
    for (const QStringList& mode : {QStringList{"--json"}, QStringList{"--json", "--stream"}}) {
        SCOPED_TRACE(mode.join(' ').toStdString());
        const ToolRun run = runTool("ravel-dump", mode + QStringList{path("sample.dat")});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QVector<QJsonObject> lines = jsonLines(run.out);
        ASSERT_EQ(lines.size(), Events + 1);
        SampleGenerator generator(options);
        for (int i = 0; i < Events; ++i)
            expectSameEvent(lines[i], generator.nextEvent());
        const QJsonObject map = lines.last()["fileMap"].toObject();
        EXPECT_EQ(integer(map["size"]), quint64(QFile(path("sample.dat")).size()));
        EXPECT_EQ(integer(map["parsed"]), integer(map["size"]));
        EXPECT_EQ(integer(map["records"]), quint64(Events));
        EXPECT_TRUE(map["completed"].toBool());
    }
}

TEST_F(RavelTools, UnsignedFileDecodesOnlyWithUnsigned)
{
    const SampleGenerator::Options options = generate("unsigned.dat", {"--unsigned"});
    const ToolRun run = runTool("ravel-dump", {"--json", "--unsigned", path("unsigned.dat")});
    ASSERT_EQ(run.exitCode, 0);
    const QVector<QJsonObject> lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), Events + 1);
    SampleGenerator generator(options);
    expectSameEvent(lines[0], generator.nextEvent());
}

TEST_F(RavelTools, DamagedFileShowsLogLinesInOrder)
{
    SampleGenerator::Options options;
    options.boards = 1;
    options.channels = 2;
    options.samples = 8;
    SampleGenerator generator(options);
    QByteArray bytes;
    EventEncoder::appendEvent(bytes, generator.nextEvent());
    bytes += "GARBAG"; // the scan stops here; streaming resynchronises 6 bytes on
    EventEncoder::appendEvent(bytes, generator.nextEvent());
    QFile file(path("damaged.dat"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    const QVector<QJsonObject> streamed =
        jsonLines(runTool("ravel-dump", {"--json", "--stream", path("damaged.dat")}).out);
    ASSERT_EQ(streamed.size(), 5);
    EXPECT_EQ(integer(streamed[0]["evNum"]), 1u);
    EXPECT_EQ(
        streamed[1]["log"].toString(),
        QStringLiteral("Format error: wrong KEP_SYNC_WORD: 42524147; at file pos:%1").arg(bytes.indexOf("GARBAG")));
    EXPECT_EQ(streamed[2]["log"], streamed[1]["log"]);
    EXPECT_EQ(integer(streamed[3]["evNum"]), 2u);
    const QJsonObject map = streamed[4]["fileMap"].toObject();
    EXPECT_FALSE(map["completed"].toBool());
    EXPECT_EQ(integer(map["records"]), 1u);

    const ToolRun summary = runTool("ravel-dump", {path("damaged.dat")});
    EXPECT_EQ(summary.exitCode, 0);
    EXPECT_TRUE(summary.out.contains("1 records")) << summary.out.toStdString();
    EXPECT_TRUE(summary.out.contains("scan stopped early"));
}

TEST_F(RavelTools, CsvRowsAndExitCodes)
{
    generate("sample.dat");
    const ToolRun csv = runTool("ravel-dump", {"--csv", path("sample.dat")});
    ASSERT_EQ(csv.exitCode, 0);
    const QList<QByteArray> rows = csv.out.trimmed().split('\n');
    EXPECT_EQ(rows.size(), 1 + Events * 2 * 64 * 128);
    EXPECT_EQ(rows[0], "record,evNum,serial,channel,index,value");
    EXPECT_TRUE(rows[1].startsWith("1,1,2001,0,0,"));
    EXPECT_TRUE(rows.last().startsWith("12,12,2002,63,127,"));

    const ToolRun summary = runTool("ravel-dump", {path("sample.dat")});
    EXPECT_EQ(summary.exitCode, 0);
    EXPECT_TRUE(summary.out.contains("12 decoded, event numbers 1..12")) << summary.out.toStdString();
    EXPECT_TRUE(summary.out.contains(
        "serial 2002 (type 0xd9): 12 events, 64 channels (numbers 0..63), 128 samples per channel"));

    const ToolRun missing = runTool("ravel-dump", {path("missing.dat")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("cannot open"));
    EXPECT_EQ(runTool("ravel-dump", {}).exitCode, 2);
    EXPECT_EQ(runTool("ravel-dump", {"--json", "--csv", path("sample.dat")}).exitCode, 2);
    EXPECT_EQ(runTool("ravel-dump", {"--bogus", path("sample.dat")}).exitCode, 2);
    EXPECT_EQ(runTool("ravel-gen", {"--samples", "7", path("x.dat")}).exitCode, 2);
    EXPECT_EQ(runTool("ravel-gen", {path("no/such/dir/x.dat")}).exitCode, 1);
}
