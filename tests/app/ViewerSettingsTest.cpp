// ViewerSettings against a temporary settings folder: the keys it writes, the
// values it reads back, and what it makes of padded, garbage or missing stores.

#include "app/ViewerSettings.h"
#include "tests/app/TempSettings.h"

#include <QFileInfo>
#include <gtest/gtest.h>

#include <tuple>

namespace {

ViewerSettings sample()
{
    ViewerSettings s;
    s.adcRawDataSigned = true;
    s.drawRelativeToBaseline = true;
    s.playbackInterval = 250;
    s.selectedProgramType = "Nimbus";
    s.selectedProgramIndex = "2";
    s.selectedInterface = "Monitor output data flow";
    s.lastFile = "/data/run 17.dat";
    return s;
}

auto fields(const ViewerSettings& s)
{
    return std::make_tuple(s.adcRawDataSigned, s.drawRelativeToBaseline, s.playbackInterval,
                           s.selectedProgramType.toStdString(), s.selectedProgramIndex.toStdString(),
                           s.selectedInterface.toStdString(), s.lastFile.toStdString());
}

ViewerSettings loaded()
{
    ViewerSettings s = sample(); // every field must be overwritten
    s.loadSettings();
    return s;
}

TEST(ViewerSettingsTest, WritesEveryKeyAndReadsItBack)
{
    TempSettings temp;
    sample().saveSettings();
    QSettings raw(temp.filePath(), QSettings::IniFormat);
    const QStringList keys{"SelectedProgram/type=Nimbus",   "SelectedProgram/index=2",
                           "SelectedProgram/interface=Monitor output data flow",
                           "Main/adcRawDataSigned=true",    "Main/drawRelativeToBaseline=true",
                           "Main/playbackInterval=250",     "Main/lastFile=/data/run 17.dat"};
    for (const QString& key : keys)
        EXPECT_EQ(raw.value(key.section('=', 0, 0)).toString(), key.section('=', 1)) << key.toStdString();
    EXPECT_EQ(fields(loaded()), fields(sample()));

    // Disconnecting stores the program keys empty; false flags are stored too.
    ViewerSettings cleared;
    cleared.drawRelativeToBaseline = true;
    cleared.saveSettings();
    EXPECT_EQ(fields(loaded()), fields(cleared));
}

TEST(ViewerSettingsTest, ProgramKeysAreTrimmedButLastFileKeepsItsSpaces)
{
    TempSettings temp;
    temp.write(temp.filePath(), "[SelectedProgram]\ntype=\"  Nimbus \"\nindex=\" 3\\t\"\n"
                                "interface=\"  data flow  \"\n[Main]\nlastFile=\"  /data/a.dat \"\n");
    ViewerSettings expected;
    expected.selectedProgramType = "Nimbus";
    expected.selectedProgramIndex = "3";
    expected.selectedInterface = "data flow";
    expected.lastFile = "  /data/a.dat ";
    EXPECT_EQ(fields(loaded()), fields(expected));
}

TEST(ViewerSettingsTest, MissingGarbageOrUnreadableStoresLoadAsAbsentKeys)
{
    TempSettings temp;
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(char((i * 7919) & 0xFF));
    const QList<std::pair<const char*, QByteArray>> stores{
        {"no file", {}},
        {"garbage values", "[Main]\nadcRawDataSigned=maybe\nplaybackInterval=fast\n"
                           "drawRelativeToBaseline=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x5broken)\n"
                           "[SelectedProgram]\ntype=a, b, c\n"},
        {"binary junk", junk},
        {"folder in place of the file", {}}};
    for (const auto& store : stores) {
        SCOPED_TRACE(store.first);
        if (!store.second.isEmpty())
            temp.write(temp.filePath(), store.second);
        if (store == stores.last()) {
            QFile::remove(temp.filePath());
            QDir().mkpath(temp.filePath());
        }
        EXPECT_EQ(fields(loaded()), fields(ViewerSettings()));
    }
    sample().saveSettings(); // fails quietly
    EXPECT_TRUE(QFileInfo(temp.filePath()).isDir());
}

} // namespace
