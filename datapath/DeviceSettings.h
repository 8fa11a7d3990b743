#pragma once
// One digitizer board's stored configuration, as the acquisition software
// keeps it in the board settings store (INI settings of application "Ravel"):
// per-channel switches, thresholds and baselines, readout window, amplifier
// DAC and on-board processing settings. The viewer only loads it and uses the
// baselines; the other values are kept as read.

#include <QMap>
#include <QString>
#include <QVector>

class QSettings;

class DeviceSettings {
public:
    static constexpr int FirCoefficientCount = 16;
    // Application name of the board settings store.
    static const char* const StoreApplication;

    DeviceSettings() = default;
    DeviceSettings(quint16 deviceType, quint32 serial);

    void setDeviceType(quint16 type) { type_ = type; }
    void setSerial(quint32 serial) { serial_ = serial; }
    quint16 deviceType() const { return type_; }
    quint32 serial() const { return serial_; }

    // "Setup_" + serial as 8 hex digits + "_" + type as 2 hex digits.
    static QString groupName(quint16 deviceType, quint32 serial);
    QString groupName() const { return groupName(type_, serial_); }

    // Loads from a store positioned at its root. Nothing happens without a
    // device type and serial or when the store has no group for the board.
    void load(QSettings& settings);
    // Loads from the user's board settings store (INI format, user scope,
    // the application's organisation, application "Ravel").
    void loadFromStore();

    // Per-channel values, keyed by channel number.
    const QMap<int, bool>& channelEnabled() const { return enabled_; }
    const QMap<int, int>& thresholds() const { return threshold_; }
    const QMap<int, int>& zsThresholds() const { return zsThreshold_; }
    const QMap<int, bool>& triggerEnabled() const { return triggerEnabled_; }
    const QMap<int, int>& baselines() const { return baseline_; }

    // Board values.
    const QString& hwStr() const { return hwStr_; }
    bool isEnabled() const { return boardEnabled_; }
    int readCellNumber() const { return readCellNumber_; }
    int trigDelay() const { return trigDelay_; }
    int trigSetup() const { return trigSetup_; }
    bool invertInput() const { return invertInput_; }
    bool zsEnabled() const { return zsEnabled_; }
    bool softwareZs() const { return softwareZs_; }
    quint16 ad5622Level() const { return ad5622Level_; }
    quint16 ad5622Baseline() const { return ad5622Baseline_; }
    quint16 ampBoardSet() const { return ampBoardSet_; }
    bool invertThrTrig() const { return invertThrTrig_; }
    bool invertZsThr() const { return invertZsThr_; }

    // Readout window ("Sparse").
    bool sparseEnabled() const { return sparseEnabled_; }
    quint16 sparseReadCellNum() const { return sparseReadCellNum_; }
    quint16 sparseOffset() const { return sparseOffset_; }
    quint16 sparsePeriod() const { return sparsePeriod_; }
    quint16 sparsePointNumber() const { return sparsePointNumber_; }

    // On-board processing ("DSP" with "FIR", "BLC" and "BLC/MAF").
    bool dspEnabled() const { return dspEnabled_; }
    const QString& firPresetKey() const { return firPresetKey_; }
    bool firEnabled() const { return firEnabled_; }
    int firRoundoff() const { return firRoundoff_; }
    int blcThreshold() const { return blcThreshold_; }
    bool mafEnabled() const { return mafEnabled_; }
    int mafTapSel() const { return mafTapSel_; }
    const QVector<qint16>& firCoefficients() const { return firCoefficients_; }

    static QVector<qint16> defaultFirCoefficients();

private:
    void loadBoardValues(QSettings& settings);
    void loadProcessing(QSettings& settings);
    void loadBaselines(QSettings& settings);
    void loadFirPreset(QSettings& settings);

    quint16 type_ = 0;
    quint32 serial_ = 0;

    QMap<int, bool> enabled_;
    QMap<int, int> threshold_;
    QMap<int, int> zsThreshold_;
    QMap<int, bool> triggerEnabled_;
    QMap<int, int> baseline_;

    QString hwStr_;
    bool boardEnabled_ = true;
    int readCellNumber_ = 1024;
    int trigDelay_ = 5;
    int trigSetup_ = 0;
    bool invertInput_ = false;
    bool zsEnabled_ = false;
    bool softwareZs_ = false;
    quint16 ad5622Level_ = 0;
    quint16 ad5622Baseline_ = 0;
    quint16 ampBoardSet_ = 0;
    bool invertThrTrig_ = false;
    bool invertZsThr_ = false;

    bool sparseEnabled_ = false;
    quint16 sparseReadCellNum_ = 4;
    quint16 sparseOffset_ = 0;
    quint16 sparsePeriod_ = 2;
    quint16 sparsePointNumber_ = 0;

    bool dspEnabled_ = false;
    QString firPresetKey_;
    bool firEnabled_ = false;
    int firRoundoff_ = 1;
    int blcThreshold_ = 100;
    bool mafEnabled_ = false;
    int mafTapSel_ = 2;
    QVector<qint16> firCoefficients_ = defaultFirCoefficients();
};
