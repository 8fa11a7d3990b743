#include "datapath/DeviceSettings.h"

#include <QCoreApplication>
#include <QSettings>

#include <algorithm>

const char* const DeviceSettings::StoreApplication = "Ravel";

namespace {

const QString BaselinePrefix = QStringLiteral("baseline.");

// A present key whose value is not a number keeps the current value.
int readInt(const QSettings& settings, const QString& key, int current)
{
    bool ok = false;
    const int value = settings.value(key).toInt(&ok);
    return ok ? value : current;
}

// Reads key.0, key.1, ... into map until the first missing number.
template <typename T>
void readChannelList(const QSettings& settings, const QString& pattern, QMap<int, T>& map)
{
    for (int channel = 0; settings.contains(pattern.arg(channel)); ++channel)
        map.insert(channel, settings.value(pattern.arg(channel)).value<T>());
}

// True when row i of the key table fills scalar i: no row missing or twice.
template <typename Key, std::size_t Count>
constexpr bool oneRowPerScalar(const std::array<Key, Count>& keys)
{
    for (std::size_t i = 0; i < Count; ++i) {
        if (std::size_t(keys[i].scalar) != i)
            return false;
    }
    return true;
}

bool isDecimal(const QString& text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; });
}

} // namespace

DeviceSettings::DeviceSettings(quint16 deviceType, quint32 serial) : type_(deviceType), serial_(serial)
{
    for (const ScalarKey& key : scalarKeys())
        scalars_[key.scalar] = key.initial;
}

const std::array<DeviceSettings::ScalarKey, DeviceSettings::ScalarCount>& DeviceSettings::scalarKeys()
{
    static constexpr std::array<ScalarKey, ScalarCount> Keys{{
        {BoardEnabled, "enabled", Kind::Switch, 1},
        {ReadCellNumber, "readcellnumber", Kind::Number, 1024},
        {TrigDelay, "trigdelay", Kind::Number, 5},
        {TrigSetup, "trigsetup", Kind::Number, 0},
        {InvertInput, "invertInput", Kind::Switch, 0},
        {ZsEnabled, "zs_en", Kind::Switch, 0},
        {SoftwareZs, "softwareZs", Kind::Switch, 0},
        {Ad5622Level, "ad5622_level", Kind::Word, 0},
        {Ad5622Baseline, "ad5622_baseline", Kind::Word, 0},
        {AmpBoardSet, "amp_board_set", Kind::Word, 0},
        {InvertThrTrig, "invert_thr_trig", Kind::Switch, 0},
        {InvertZsThr, "invert_zs_thr", Kind::Switch, 0},
        {SparseEnabled, "Sparse/en", Kind::Switch, 0},
        {SparseReadCellNum, "Sparse/readCellNum", Kind::Word, 4},
        {SparseOffset, "Sparse/offset", Kind::Word, 0},
        {SparsePeriod, "Sparse/period", Kind::Word, 2},
        {SparsePointNumber, "Sparse/pointNumber", Kind::Word, 0},
        {DspEnabled, "DSP/en", Kind::Switch, 0},
        {FirEnabled, "DSP/FIR/en", Kind::Switch, 0},
        {FirRoundoff, "DSP/FIR/roundoff", Kind::Number, 1},
        {BlcThreshold, "DSP/BLC/thr", Kind::Number, 100},
        {MafEnabled, "DSP/BLC/MAF/en", Kind::Switch, 0},
        {MafTapSel, "DSP/BLC/MAF/tap_sel", Kind::Number, 2},
    }};
    static_assert(oneRowPerScalar(Keys), "the key table lists every scalar once, in enum order");
    return Keys;
}

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

void DeviceSettings::saveBaselines(QSettings& settings, const QMap<int, int>& baselines) const
{
    settings.beginGroup(groupName());
    for (auto it = baselines.cbegin(); it != baselines.cend(); ++it)
        settings.setValue(BaselinePrefix + QString::number(it.key()), it.value());
    settings.endGroup();
}

void DeviceSettings::load(QSettings& settings)
{
    if (type_ == 0 || serial_ == 0)
        return;
    if (!settings.childGroups().contains(groupName()))
        return;

    settings.beginGroup(groupName());
    hwStr_ = settings.value("hwStr", hwStr_).toString();
    firPresetKey_ = settings.value("DSP/FIR/presetKey", firPresetKey_).toString();
    readChannelList(settings, "en.%1", enabled_);
    readChannelList(settings, "thr.%1", threshold_);
    readChannelList(settings, "zsThr.%1", zsThreshold_);
    readChannelList(settings, "trig.%1", triggerEnabled_);
    loadScalars(settings);
    loadBaselines(settings);
    settings.endGroup();

    loadFirPreset(settings);
}

// A switch takes what the store says; a number or word keeps its value when
// the key is missing or not a number, and a word keeps the low 16 bits.
void DeviceSettings::loadScalars(const QSettings& settings)
{
    for (const ScalarKey& key : scalarKeys()) {
        int& value = scalars_[key.scalar];
        const QString path = QString::fromLatin1(key.path);
        switch (key.kind) {
        case Kind::Switch:
            value = settings.value(path, value != 0).toBool() ? 1 : 0;
            break;
        case Kind::Number:
            value = readInt(settings, path, value);
            break;
        case Kind::Word:
            value = quint16(readInt(settings, path, value));
            break;
        }
    }
    scalars_[FirRoundoff] = qBound(0, scalars_[FirRoundoff], 3);
}

// Keys "baseline.<channel>" in any order; keys whose channel or value is not
// a decimal number are ignored.
void DeviceSettings::loadBaselines(QSettings& settings)
{
    for (const QString& key : settings.childKeys()) {
        if (!key.startsWith(BaselinePrefix))
            continue;
        const QString channelText = key.mid(BaselinePrefix.size());
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
