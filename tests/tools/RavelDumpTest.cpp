// ravel-gen and ravel-dump as built: the dump of a generated file is exactly
// what the generator made, through records and through streaming; damaged
// files show the decoder's log lines; exit codes follow the usage rules.
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"

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
    QProcess process; // killed when it outlives the wait
    process.start(qEnvironmentVariable("RAVEL_BINARY_DIR") + "/tools/" + tool, arguments);
    const bool finished = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    EXPECT_TRUE(finished) << tool.toStdString() << " did not finish";
    return {finished ? process.exitCode() : -1, process.readAllStandardOutput(), process.readAllStandardError()};
}

QVector<QJsonObject> jsonLines(const QByteArray& text)
{
    QVector<QJsonObject> objects;
    for (const QByteArray& line : text.trimmed().split('\n'))
        objects.append(QJsonDocument::fromJson(line).object());
    return objects;
}

// The JSON line ravel-dump writes for an event.
QJsonObject toJson(const EventData& event)
{
    QJsonArray boards;
    for (const DeviceEvent& b : event.devices) {
        QJsonArray channels;
        for (const ChannelData& c : b.channels) {
            QJsonArray samples;
            for (double s : c.samples)
                samples.append(s);
            channels.append(QJsonObject{{"ch", c.ch}, {"time", double(c.time)}, {"samples", samples}});
        }
        boards.append(QJsonObject{{"serial", double(b.serial)},
                                  {"deviceType", b.deviceType},
                                  {"evNum", double(b.evNum)},
                                  {"timeHigh", double(b.timeHigh)},
                                  {"timeFlags", double(b.timeFlags)},
                                  {"timeLow", double(b.timeLow)},
                                  {"channels", channels}});
    }
    return QJsonObject{{"evNum", double(event.evNum)}, {"boards", boards}};
}

constexpr int Events = 12;

} // namespace

class RavelTools : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.filePath(name); }

    // Generates a file and returns the generator options used.
    SampleGenerator::Options generate(const QString& name, const QStringList& extra = {})
    {
        const ToolRun run = runTool("ravel-gen", QStringList{"--seed", "42", "--events", QString::number(Events),
                                                             "--boards", "2", "--channels", "64", "--samples", "128"}
                                                     + extra + QStringList{path(name)});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        SampleGenerator::Options options;
        options.seed = 42;
        options.boards = 2;
        options.channels = 64;
        options.samples = 128;
        return options;
    }

    QTemporaryDir dir;
};

TEST_F(RavelTools, JsonDumpMatchesTheGeneratorEventForEvent)
{
    const SampleGenerator::Options options = generate("sample.dat");
    generate("unsigned.dat", {"--unsigned"});
    const QStringList modes[] = {{"--json", path("sample.dat")},
                                 {"--json", "--stream", path("sample.dat")},
                                 {"--json", "--unsigned", path("unsigned.dat")}};
    for (const QStringList& mode : modes) {
        SCOPED_TRACE(mode.join(' ').toStdString());
        const ToolRun run = runTool("ravel-dump", mode);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const QVector<QJsonObject> lines = jsonLines(run.out);
        ASSERT_EQ(lines.size(), Events + 1);
        SampleGenerator generator(options);
        for (int i = 0; i < Events; ++i)
            ASSERT_EQ(lines[i], toJson(generator.nextEvent())) << "event " << i;
        const QJsonObject map = lines.last()["fileMap"].toObject();
        EXPECT_EQ(map, (QJsonObject{{"size", QFile(mode.last()).size()},
                                    {"parsed", QFile(mode.last()).size()},
                                    {"records", Events},
                                    {"completed", true}}));
    }
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
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const QVector<QJsonObject> streamed =
        jsonLines(runTool("ravel-dump", {"--json", "--stream", path("damaged.dat")}).out);
    ASSERT_EQ(streamed.size(), 5);
    EXPECT_EQ(streamed[0]["evNum"], 1);
    const QString wrong =
        QString("Format error: wrong KEP_SYNC_WORD: 42524147; at file pos:%1").arg(bytes.indexOf("GARBAG"));
    EXPECT_EQ(streamed[1], QJsonObject({{"log", wrong}}));
    EXPECT_EQ(streamed[2], streamed[1]);
    EXPECT_EQ(streamed[3]["evNum"], 2);
    EXPECT_EQ(streamed[4]["fileMap"]["completed"], false);
    EXPECT_EQ(streamed[4]["fileMap"]["records"], 1);

    const ToolRun summary = runTool("ravel-dump", {path("damaged.dat")});
    EXPECT_EQ(summary.exitCode, 0);
    EXPECT_TRUE(summary.out.contains("1 records") && summary.out.contains("scan stopped early"))
        << summary.out.toStdString();
}

TEST_F(RavelTools, CsvRowsSummaryAndExitCodes)
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
    const struct {
        const char* tool;
        QStringList arguments;
        int exitCode;
    } usage[] = {{"ravel-dump", {}, 2},
                 {"ravel-dump", {"--json", "--csv", path("sample.dat")}, 2},
                 {"ravel-dump", {"--bogus", path("sample.dat")}, 2},
                 {"ravel-gen", {"--samples", "7", path("x.dat")}, 2},
                 {"ravel-gen", {path("no/such/dir/x.dat")}, 1}};
    for (const auto& u : usage)
        EXPECT_EQ(runTool(u.tool, u.arguments).exitCode, u.exitCode) << u.arguments.join(' ').toStdString();
}
