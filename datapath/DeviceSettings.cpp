#include "datapath/DeviceSettings.h"

#include <QCoreApplication>
#include <QSettings>

#include <algorithm>

const char* const DeviceSettings::StoreApplication = "Ravel";

namespace {

// A present key whose value is not a number keeps the current value.
int readInt(const QSettings& settings, const QString& key, int current)
{
    bool ok = false;
    const int value = settings.value(key).toInt(&ok);
    return ok ? value : current;
}

quint16 readUInt16(const QSettings& settings, const QString& key, quint16 current)
{
    return quint16(readInt(settings, key, current));
}

bool readBool(const QSettings& settings, const QString& key, bool current)
{
    return settings.value(key, current).toBool();
}

// Reads key.0, key.1, ... into map until the first missing number.
template <typename T>
void readChannelList(const QSettings& settings, const QString& pattern, QMap<int, T>& map)
{
    for (int channel = 0; settings.contains(pattern.arg(channel)); ++channel)
        map.insert(channel, settings.value(pattern.arg(channel)).value<T>());
}

bool isDecimal(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; });
}

} // namespace

DeviceSettings::DeviceSettings(quint16 deviceType, quint32 serial) : type_(deviceType), serial_(serial) {}

QString DeviceSettings::groupName(quint16 deviceType, quint32 serial)
{
    return QString("%1%2_%3").arg("Setup_").arg(serial, 8, 16, QChar('0')).arg(deviceType, 2, 16, QChar('0'));
}

QVector<qint16> DeviceSettings::defaultFirCoefficients()
{
    QVector<qint16> coefficients(FirCoefficientCount, 0);
    coefficients[0] = 32767;
    return coefficients;
}

void DeviceSettings::loadFromStore()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QCoreApplication::organizationName(),
                       StoreApplication);
    load(settings);
}

void DeviceSettings::load(QSettings& settings)
{
    if (type_ == 0 || serial_ == 0)
        return;
    if (!settings.childGroups().contains(groupName()))
        return;

    settings.beginGroup(groupName());
    hwStr_ = settings.value("hwStr", hwStr_).toString();
    boardEnabled_ = readBool(settings, "enabled", true);
    readChannelList(settings, "en.%1", enabled_);
    readChannelList(settings, "thr.%1", threshold_);
    readChannelList(settings, "zsThr.%1", zsThreshold_);
    readChannelList(settings, "trig.%1", triggerEnabled_);
    loadBoardValues(settings);
    loadProcessing(settings);
    loadBaselines(settings);
    settings.endGroup();

    loadFirPreset(settings);
}

void DeviceSettings::loadBoardValues(QSettings& settings)
{
    readCellNumber_ = readInt(settings, "readcellnumber", readCellNumber_);
    trigDelay_ = readInt(settings, "trigdelay", trigDelay_);
    trigSetup_ = readInt(settings, "trigsetup", trigSetup_);
    invertInput_ = readBool(settings, "invertInput", invertInput_);
    zsEnabled_ = readBool(settings, "zs_en", zsEnabled_);
    softwareZs_ = readBool(settings, "softwareZs", softwareZs_);
    ad5622Level_ = readUInt16(settings, "ad5622_level", ad5622Level_);
    ad5622Baseline_ = readUInt16(settings, "ad5622_baseline", ad5622Baseline_);
    ampBoardSet_ = readUInt16(settings, "amp_board_set", ampBoardSet_);
    invertThrTrig_ = readBool(settings, "invert_thr_trig", invertThrTrig_);
    invertZsThr_ = readBool(settings, "invert_zs_thr", invertZsThr_);
}

void DeviceSettings::loadProcessing(QSettings& settings)
{
    settings.beginGroup("Sparse");
    sparseEnabled_ = readBool(settings, "en", sparseEnabled_);
    sparseReadCellNum_ = readUInt16(settings, "readCellNum", sparseReadCellNum_);
    sparseOffset_ = readUInt16(settings, "offset", sparseOffset_);
    sparsePeriod_ = readUInt16(settings, "period", sparsePeriod_);
    sparsePointNumber_ = readUInt16(settings, "pointNumber", sparsePointNumber_);
    settings.endGroup();

    settings.beginGroup("DSP");
    dspEnabled_ = readBool(settings, "en", dspEnabled_);
    settings.beginGroup("FIR");
    firPresetKey_ = settings.value("presetKey", firPresetKey_).toString();
    firEnabled_ = readBool(settings, "en", firEnabled_);
    firRoundoff_ = qBound(0, readInt(settings, "roundoff", firRoundoff_), 3);
    settings.endGroup();
    settings.beginGroup("BLC");
    blcThreshold_ = readInt(settings, "thr", blcThreshold_);
    settings.beginGroup("MAF");
    mafEnabled_ = readBool(settings, "en", mafEnabled_);
    mafTapSel_ = readInt(settings, "tap_sel", mafTapSel_);
    settings.endGroup();
    settings.endGroup();
    settings.endGroup();
}

// Keys "baseline.<channel>" in any order; keys whose channel or value is not
// a decimal number are ignored.
void DeviceSettings::loadBaselines(QSettings& settings)
{
    const QString prefix = "baseline.";
    for (const QString& key : settings.childKeys()) {
        if (!key.startsWith(prefix))
            continue;
        const QString channelText = key.mid(prefix.size());
        bool channelOk = false;
        const int channel = isDecimal(channelText) ? channelText.toInt(&channelOk) : 0;
        bool valueOk = false;
        const int value = settings.value(key).toInt(&valueOk);
        if (channelOk && valueOk)
            baseline_.insert(channel, value);
    }
}

// Coefficients come from the top-level group "FIR_" + preset key; without
// such a group the preset is dropped and the default filter applies.
void DeviceSettings::loadFirPreset(QSettings& settings)
{
    const QString presetGroup = "FIR_" + firPresetKey_;
    if (firPresetKey_.isEmpty() || !settings.childGroups().contains(presetGroup)) {
        firPresetKey_.clear();
        firCoefficients_ = defaultFirCoefficients();
        return;
    }
    settings.beginGroup(presetGroup);
    for (int n = 0; n < FirCoefficientCount && settings.contains(QString("coef.%1").arg(n)); ++n)
        firCoefficients_[n] = qint16(settings.value(QString("coef.%1").arg(n)).toInt());
    settings.endGroup();
}
