// DeviceSettings loaded from temporary INI stores.
#include "datapath/DeviceSettings.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class DeviceSettingsTest : public ::testing::Test {
protected:
    // Writes key=value pairs (keys with their group path) and loads serial
    // 0x0A1B2C3D, type 0xD4 from the store.
    DeviceSettings load(const QList<QPair<QString, QVariant>>& values)
    {
        const QString path = dir.filePath(QString("Ravel%1.ini").arg(++stores));
        {
            QSettings out(path, QSettings::IniFormat);
            for (const auto& kv : values)
                out.setValue(kv.first, kv.second);
        }
        QSettings in(path, QSettings::IniFormat);
        DeviceSettings model(0xD4, 0x0A1B2C3D);
        model.load(in);
        return model;
    }
    static QString key(const QString& name) { return "Setup_0a1b2c3d_d4/" + name; }

    QTemporaryDir dir;
    int stores = 0;
};

TEST_F(DeviceSettingsTest, GroupNameIsZeroFilledLowerCaseHex)
{
    EXPECT_EQ(DeviceSettings::groupName(0xD4, 0x0A1B2C3D), "Setup_0a1b2c3d_d4");
    EXPECT_EQ(DeviceSettings::groupName(0x9, 0x12), "Setup_00000012_09");
}

TEST_F(DeviceSettingsTest, MissingGroupOrIdentityKeepsDefaults)
{
    const DeviceSettings other = load({{"Setup_0a1b2c3d_d9/baseline.1", 5}, {"Setup_0a1b2c3d_d9/trigdelay", 9}});
    EXPECT_TRUE(other.baselines().isEmpty());
    EXPECT_EQ(other.trigDelay(), 5);
    EXPECT_EQ(other.readCellNumber(), 1024);
    EXPECT_TRUE(other.isEnabled());
    EXPECT_EQ(other.sparseReadCellNum(), 4);
    EXPECT_EQ(other.sparsePeriod(), 2);
    EXPECT_EQ(other.firRoundoff(), 1);
    EXPECT_EQ(other.blcThreshold(), 100);
    EXPECT_EQ(other.mafTapSel(), 2);
    EXPECT_EQ(other.firCoefficients(), DeviceSettings::defaultFirCoefficients());
    EXPECT_EQ(other.firCoefficients().first(), 32767);

    QSettings store(dir.filePath("serial0.ini"), QSettings::IniFormat);
    store.setValue("Setup_00000000_d4/trigdelay", 9);
    DeviceSettings noSerial(0xD4, 0);
    noSerial.load(store);
    EXPECT_EQ(noSerial.trigDelay(), 5);
}

TEST_F(DeviceSettingsTest, ChannelListsEndAtTheFirstGap)
{
    const DeviceSettings model = load({{key("en.0"), true},
                                       {key("en.1"), false},
                                       {key("en.3"), true},
                                       {key("thr.0"), 120},
                                       {key("zsThr.1"), 7},
                                       {key("trig.0"), true}});
    EXPECT_EQ(model.channelEnabled(), (QMap<int, bool>{{0, true}, {1, false}}));
    EXPECT_EQ(model.thresholds(), (QMap<int, int>{{0, 120}}));
    EXPECT_TRUE(model.zsThresholds().isEmpty());
    EXPECT_EQ(model.triggerEnabled(), (QMap<int, bool>{{0, true}}));
}

TEST_F(DeviceSettingsTest, BaselinesFromParsableKeysOnly)
{
    const DeviceSettings model = load({{key("baseline.12"), 300},
                                       {key("baseline.x"), 5},
                                       {key("baseline.3"), "abc"},
                                       {key("baseline.0"), -40},
                                       {key("Baseline.1"), 9},
                                       {key("baseline."), 1}});
    EXPECT_EQ(model.baselines(), (QMap<int, int>{{0, -40}, {12, 300}}));
}

TEST_F(DeviceSettingsTest, ScalarsAndNestedGroupsLoad)
{
    const DeviceSettings model = load({{key("hwStr"), "rev B"},
                                       {key("enabled"), false},
                                       {key("readcellnumber"), 2048},
                                       {key("ad5622_level"), 70000},
                                       {key("trigsetup"), "garbage"},
                                       {key("Sparse/en"), true},
                                       {key("Sparse/pointNumber"), 16},
                                       {key("DSP/en"), true},
                                       {key("DSP/FIR/en"), true},
                                       {key("DSP/BLC/thr"), 55},
                                       {key("DSP/BLC/MAF/en"), true},
                                       {key("DSP/BLC/MAF/tap_sel"), 4}});
    EXPECT_EQ(model.hwStr(), "rev B");
    EXPECT_FALSE(model.isEnabled());
    EXPECT_EQ(model.readCellNumber(), 2048);
    EXPECT_EQ(model.ad5622Level(), quint16(70000));
    EXPECT_EQ(model.trigSetup(), 0);
    EXPECT_TRUE(model.sparseEnabled());
    EXPECT_EQ(model.sparsePointNumber(), 16);
    EXPECT_TRUE(model.dspEnabled());
    EXPECT_TRUE(model.firEnabled());
    EXPECT_EQ(model.blcThreshold(), 55);
    EXPECT_TRUE(model.mafEnabled());
    EXPECT_EQ(model.mafTapSel(), 4);
}

TEST_F(DeviceSettingsTest, RoundoffIsClamped)
{
    EXPECT_EQ(load({{key("DSP/FIR/roundoff"), 7}}).firRoundoff(), 3);
    EXPECT_EQ(load({{key("DSP/FIR/roundoff"), -2}}).firRoundoff(), 0);
}

TEST_F(DeviceSettingsTest, FirPresetGroupSuppliesCoefficients)
{
    const DeviceSettings missing = load({{key("DSP/FIR/presetKey"), "lowpass"}});
    EXPECT_TRUE(missing.firPresetKey().isEmpty());
    EXPECT_EQ(missing.firCoefficients(), DeviceSettings::defaultFirCoefficients());

    QList<QPair<QString, QVariant>> values{{key("DSP/FIR/presetKey"), "lowpass"},
                                           {"FIR_lowpass/coef.0", 100},
                                           {"FIR_lowpass/coef.1", 200},
                                           {"FIR_lowpass/coef.3", 9}};
    for (int n = 0; n < 20; ++n) // a second preset listing more than 16
        values.append({QString("FIR_long/coef.%1").arg(n), 70000 + n});
    QVector<qint16> expected(16, 0);
    expected[0] = 100;
    expected[1] = 200;
    const DeviceSettings lowpass = load(values);
    EXPECT_EQ(lowpass.firPresetKey(), "lowpass");
    EXPECT_EQ(lowpass.firCoefficients(), expected);

    values[0].second = "long";
    const DeviceSettings longPreset = load(values);
    ASSERT_EQ(longPreset.firCoefficients().size(), 16);
    EXPECT_EQ(longPreset.firCoefficients()[15], qint16(70015));
}

} // namespace
