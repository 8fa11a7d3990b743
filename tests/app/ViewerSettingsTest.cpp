// ViewerSettings against a temporary settings folder: the file it writes, the
// values it reads back, and what it makes of absent, padded and garbage keys.

#include "app/ViewerSettings.h"
#include "tests/app/TempSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

ViewerSettings sampleSettings()
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

void expectAbsentValues(const ViewerSettings& s)
{
    EXPECT_FALSE(s.adcRawDataSigned);
    EXPECT_FALSE(s.drawRelativeToBaseline);
    EXPECT_EQ(s.playbackInterval, 0);
    EXPECT_TRUE(s.selectedProgramType.isEmpty());
    EXPECT_TRUE(s.selectedProgramIndex.isEmpty());
    EXPECT_TRUE(s.selectedInterface.isEmpty());
    EXPECT_TRUE(s.lastFile.isEmpty());
}

class ViewerSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(temp.isValid()); }
    TempSettings temp;
};

TEST_F(ViewerSettingsTest, WritesAllKeysToTheApplicationsNativeFile)
{
    sampleSettings().saveSettings();

    ASSERT_TRUE(QFileInfo::exists(temp.filePath())) << temp.filePath().toStdString();
    QSettings raw(temp.filePath(), QSettings::IniFormat);
    EXPECT_EQ(raw.value("SelectedProgram/type").toString(), "Nimbus");
    EXPECT_EQ(raw.value("SelectedProgram/index").toString(), "2");
    EXPECT_EQ(raw.value("SelectedProgram/interface").toString(), "Monitor output data flow");
    EXPECT_EQ(raw.value("Main/adcRawDataSigned").toString(), "true");
    EXPECT_EQ(raw.value("Main/drawRelativeToBaseline").toString(), "true");
    EXPECT_EQ(raw.value("Main/playbackInterval").toString(), "250");
    EXPECT_EQ(raw.value("Main/lastFile").toString(), "/data/run 17.dat");
}

TEST_F(ViewerSettingsTest, RoundTripOverwritesEveryField)
{
    const ViewerSettings saved = sampleSettings();
    saved.saveSettings();

    ViewerSettings loaded;
    loaded.loadSettings();
    EXPECT_EQ(loaded.adcRawDataSigned, saved.adcRawDataSigned);
    EXPECT_EQ(loaded.drawRelativeToBaseline, saved.drawRelativeToBaseline);
    EXPECT_EQ(loaded.playbackInterval, saved.playbackInterval);
    EXPECT_EQ(loaded.selectedProgramType, saved.selectedProgramType);
    EXPECT_EQ(loaded.selectedProgramIndex, saved.selectedProgramIndex);
    EXPECT_EQ(loaded.selectedInterface, saved.selectedInterface);
    EXPECT_EQ(loaded.lastFile, saved.lastFile);

    // Disconnecting stores the program keys empty; false flags are stored too.
    ViewerSettings cleared = saved;
    cleared.selectedProgramType.clear();
    cleared.selectedProgramIndex.clear();
    cleared.selectedInterface.clear();
    cleared.adcRawDataSigned = false;
    cleared.saveSettings();
    loaded.loadSettings();
    EXPECT_TRUE(loaded.selectedProgramType.isEmpty());
    EXPECT_TRUE(loaded.selectedProgramIndex.isEmpty());
    EXPECT_TRUE(loaded.selectedInterface.isEmpty());
    EXPECT_FALSE(loaded.adcRawDataSigned);
    EXPECT_TRUE(loaded.drawRelativeToBaseline);
}

TEST_F(ViewerSettingsTest, FirstStartYieldsAbsentKeyValues)
{
    ViewerSettings loaded = sampleSettings();
    loaded.loadSettings();
    expectAbsentValues(loaded);
}

TEST_F(ViewerSettingsTest, ProgramKeysAreTrimmedButLastFileKeepsItsSpaces)
{
    temp.writeRaw("[SelectedProgram]\n"
                  "type=\"  Nimbus \"\n"
                  "index=\" 3\\t\"\n"
                  "interface=\"  data flow  \"\n"
                  "[Main]\n"
                  "lastFile=\"  /data/a.dat \"\n");
    ViewerSettings loaded;
    loaded.loadSettings();
    EXPECT_EQ(loaded.selectedProgramType, "Nimbus");
    EXPECT_EQ(loaded.selectedProgramIndex, "3");
    EXPECT_EQ(loaded.selectedInterface, "data flow");
    EXPECT_EQ(loaded.lastFile, "  /data/a.dat ");
}

TEST_F(ViewerSettingsTest, GarbageValuesLoadAsAbsentKeys)
{
    temp.writeRaw("[Main]\n"
                  "adcRawDataSigned=maybe\n"
                  "drawRelativeToBaseline=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x5broken)\n"
                  "playbackInterval=fast\n"
                  "[SelectedProgram]\n"
                  "type=a, b, c\n");
    ViewerSettings loaded = sampleSettings();
    loaded.loadSettings();
    EXPECT_FALSE(loaded.adcRawDataSigned);
    EXPECT_FALSE(loaded.drawRelativeToBaseline);
    EXPECT_EQ(loaded.playbackInterval, 0);
    // A list is not a program type.
    EXPECT_TRUE(loaded.selectedProgramType.isEmpty());
    EXPECT_TRUE(loaded.lastFile.isEmpty());
}

TEST_F(ViewerSettingsTest, BinaryJunkOrAnUnreadableFileLoadsAbsentKeys)
{
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(char((i * 7919) & 0xFF));
    temp.writeRaw(junk);
    ViewerSettings loaded = sampleSettings();
    loaded.loadSettings();
    expectAbsentValues(loaded);
}

TEST_F(ViewerSettingsTest, UnreadableStoreLoadsAbsentKeysAndSavingFailsQuietly)
{
    // A folder where the file should be can be neither read nor written.
    QDir().mkpath(temp.filePath());
    ViewerSettings loaded = sampleSettings();
    loaded.loadSettings();
    expectAbsentValues(loaded);
    sampleSettings().saveSettings();
    EXPECT_TRUE(QFileInfo(temp.filePath()).isDir());
}

} // namespace
