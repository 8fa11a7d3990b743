// DeviceSettings loaded from a temporary INI store.
#include "datapath/DeviceSettings.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Only the board's own group is read; baselines (what the viewer uses) need
// parsable keys; a preset key without its group leaves the default filter.
TEST(DeviceSettingsTest, LoadsTheBoardsOwnGroup)
{
    QTemporaryDir dir;
    QSettings store(dir.filePath("Ravel.ini"), QSettings::IniFormat);
    for (const auto& [key, value] : {std::pair<QString, QVariant>{"Setup_0a1b2c3d_d9/baseline.1", 5},
                                     {"Setup_0a1b2c3d_d4/baseline.12", 300},
                                     {"Setup_0a1b2c3d_d4/baseline.x", 5},
                                     {"Setup_0a1b2c3d_d4/baseline.3", "abc"},
                                     {"Setup_0a1b2c3d_d4/baseline.0", -40},
                                     {"Setup_0a1b2c3d_d4/DSP/FIR/presetKey", "lowpass"}})
        store.setValue(key, value);
    EXPECT_EQ(DeviceSettings::groupName(0xD4, 0x0A1B2C3D), "Setup_0a1b2c3d_d4");
    DeviceSettings model(0xD4, 0x0A1B2C3D);
    model.load(store);
    EXPECT_EQ(model.baselines(), (QMap<int, int>{{0, -40}, {12, 300}}));
    EXPECT_TRUE(model.firPresetKey().isEmpty());
    EXPECT_EQ(model.firCoefficients(), DeviceSettings::defaultFirCoefficients());
}
