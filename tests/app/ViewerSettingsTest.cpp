// ViewerSettings against a temporary settings folder: the keys it writes, the
// values it reads back, and what it makes of garbage or missing stores.

#include "app/ViewerSettings.h"
#include "tests/app/TempSettings.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

auto fields(const ViewerSettings& s)
{
    return std::make_tuple(s.adcRawDataSigned, s.drawRelativeToBaseline, s.playbackInterval,
                           s.selectedProgramType.toStdString(), s.selectedProgramIndex.toStdString(),
                           s.selectedInterface.toStdString(), s.lastFile.toStdString());
}

TEST(ViewerSettingsTest, WritesEveryKeyReadsItBackAndTakesBadStoresAsAbsentKeys)
{
    TempSettings temp;
    ViewerSettings sample;
    std::tie(sample.adcRawDataSigned, sample.drawRelativeToBaseline, sample.playbackInterval) =
        std::make_tuple(true, true, 250);
    std::tie(sample.selectedProgramType, sample.selectedProgramIndex, sample.selectedInterface, sample.lastFile) =
        std::make_tuple("Nimbus", "2", "Monitor output data flow", "/data/run 17.dat");
    sample.saveSettings();
    QSettings raw(temp.filePath(), QSettings::IniFormat);
    for (const QString key :
         {"SelectedProgram/type=Nimbus", "SelectedProgram/index=2",
          "SelectedProgram/interface=Monitor output data flow", "Main/adcRawDataSigned=true",
          "Main/drawRelativeToBaseline=true", "Main/playbackInterval=250", "Main/lastFile=/data/run 17.dat"})
        EXPECT_EQ(raw.value(key.section('=', 0, 0)).toString(), key.section('=', 1)) << key.toStdString();

    // Each store in turn; "<folder>" puts a folder in place of the file,
    // which can be neither read nor written.
    const QList<std::pair<QByteArray, ViewerSettings>> stores{
        {{}, sample}, // as saved
        {"[Main]\nadcRawDataSigned=maybe\nplaybackInterval=fast\n"
         "drawRelativeToBaseline=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x5broken)\n[SelectedProgram]\ntype=a, b, c\n",
         {}},
        {QByteArray(4096, '\0').replace(0, 9, "\x81\xff[=]\n\x02\x7f\x10"), {}},
        {"<folder>", {}}};
    for (const auto& store : stores) {
        SCOPED_TRACE(store.first.left(40).toStdString());
        if (store.first == "<folder>")
            QFile::remove(temp.filePath()), QDir().mkpath(temp.filePath());
        else if (!store.first.isEmpty())
            temp.write(temp.filePath(), store.first);
        ViewerSettings loaded = sample; // every field is overwritten
        loaded.loadSettings();
        EXPECT_EQ(fields(loaded), fields(store.second));
    }
    sample.saveSettings(); // fails quietly
    EXPECT_TRUE(QFileInfo(temp.filePath()).isDir());
}

} // namespace
