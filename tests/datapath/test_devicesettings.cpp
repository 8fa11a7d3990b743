// DeviceSettings loaded from temporary INI stores.
#include "datapath/DeviceSettings.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class DeviceSettingsTest : public ::testing::Test {
protected:
    // Writes the values (keys relative to the board's group unless they start
    // with '/') and loads serial 0x0A1B2C3D, type 0xD4 from the store.
    DeviceSettings load(const QList<QPair<QString, QVariant>>& values, quint32 serial = 0x0A1B2C3D)
    {
        const QString path = dir.filePath(QString("Ravel%1.ini").arg(++stores));
        {
            QSettings out(path, QSettings::IniFormat);
            for (const auto& kv : values)
                out.setValue(kv.first.startsWith('/') ? kv.first.mid(1) : "Setup_0a1b2c3d_d4/" + kv.first, kv.second);
        }
        QSettings in(path, QSettings::IniFormat);
        DeviceSettings model(0xD4, serial);
        model.load(in);
        return model;
    }

    QTemporaryDir dir;
    int stores = 0;
};

TEST_F(DeviceSettingsTest, OnlyTheBoardsOwnGroupIsRead)
{
    EXPECT_EQ(DeviceSettings::groupName(0x9, 0x12), "Setup_00000012_09");
    const DeviceSettings other = load({{"/Setup_0a1b2c3d_d9/baseline.1", 5}, {"/Setup_0a1b2c3d_d9/trigdelay", 9}});
    EXPECT_TRUE(other.baselines().isEmpty());
    EXPECT_EQ(other.trigDelay(), 5);
    EXPECT_EQ(other.firCoefficients(), DeviceSettings::defaultFirCoefficients());
    EXPECT_EQ(load({{"/Setup_00000000_d4/trigdelay", 9}}, 0).trigDelay(), 5); // no serial yet
}

// Channel lists end at the first gap; baselines need parsable keys.
TEST_F(DeviceSettingsTest, ChannelListsScalarsAndNestedGroupsLoad)
{
    const DeviceSettings model = load({{"en.0", true},
                                       {"en.1", false},
                                       {"en.3", true},
                                       {"thr.0", 120},
                                       {"zsThr.1", 7},
                                       {"trig.0", true},
                                       {"baseline.12", 300},
                                       {"baseline.x", 5},
                                       {"baseline.3", "abc"},
                                       {"baseline.0", -40},
                                       {"Baseline.1", 9},
                                       {"baseline.", 1},
                                       {"hwStr", "rev B"},
                                       {"enabled", false},
                                       {"readcellnumber", 2048},
                                       {"ad5622_level", 70000},
                                       {"trigsetup", "garbage"},
                                       {"Sparse/en", true},
                                       {"Sparse/pointNumber", 16},
                                       {"DSP/en", true},
                                       {"DSP/FIR/en", true},
                                       {"DSP/FIR/roundoff", 7},
                                       {"DSP/BLC/thr", 55},
                                       {"DSP/BLC/MAF/en", true},
                                       {"DSP/BLC/MAF/tap_sel", 4}});
    EXPECT_EQ(model.channelEnabled(), (QMap<int, bool>{{0, true}, {1, false}}));
    EXPECT_EQ(model.thresholds(), (QMap<int, int>{{0, 120}}));
    EXPECT_TRUE(model.zsThresholds().isEmpty());
    EXPECT_EQ(model.triggerEnabled(), (QMap<int, bool>{{0, true}}));
    EXPECT_EQ(model.baselines(), (QMap<int, int>{{0, -40}, {12, 300}}));
    EXPECT_EQ(model.hwStr(), "rev B");
    EXPECT_FALSE(model.isEnabled());
    EXPECT_EQ(model.readCellNumber(), 2048);
    EXPECT_EQ(model.ad5622Level(), quint16(70000));
    EXPECT_EQ(model.trigSetup(), 0);
    EXPECT_TRUE(model.sparseEnabled() && model.dspEnabled() && model.firEnabled() && model.mafEnabled());
    EXPECT_EQ(model.sparsePointNumber(), 16);
    EXPECT_EQ(model.firRoundoff(), 3); // clamped
    EXPECT_EQ(load({{"DSP/FIR/roundoff", -2}}).firRoundoff(), 0);
    EXPECT_EQ(model.blcThreshold(), 55);
    EXPECT_EQ(model.mafTapSel(), 4);
}

TEST_F(DeviceSettingsTest, FirPresetGroupSuppliesCoefficients)
{
    const DeviceSettings missing = load({{"DSP/FIR/presetKey", "lowpass"}});
    EXPECT_TRUE(missing.firPresetKey().isEmpty());
    EXPECT_EQ(missing.firCoefficients(), DeviceSettings::defaultFirCoefficients());

    QList<QPair<QString, QVariant>> values{{"DSP/FIR/presetKey", "lowpass"},
                                           {"/FIR_lowpass/coef.0", 100},
                                           {"/FIR_lowpass/coef.1", 200},
                                           {"/FIR_lowpass/coef.3", 9}};
    for (int n = 0; n < 20; ++n) // a second preset listing more than 16
        values.append({QString("/FIR_long/coef.%1").arg(n), 70000 + n});
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
