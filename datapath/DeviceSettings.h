#pragma once
// One digitizer board's stored configuration, as the acquisition software
// keeps it in the board settings store (INI settings of application "Ravel"):
// per-channel switches, thresholds and baselines, readout window, amplifier
// DAC and on-board processing settings. The viewer only loads it and uses the
// baselines; the other values are kept as read. ravel-baselines writes the
// baselines it measures back.

#include <QMap>
#include <QString>
#include <QVector>

#include <array>

class QSettings;

class DeviceSettings {
public:
    static constexpr int FirCoefficientCount = 16;
    // Application name of the board settings store.
    static const char* const StoreApplication;

    DeviceSettings() : DeviceSettings(0, 0) {}
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
    // Writes "baseline.<channel>" keys into the board's group of a store
    // positioned at its root; other keys of the group stay as they are.
    void saveBaselines(QSettings& settings, const QMap<int, int>& baselines) const;

    // Per-channel values, keyed by channel number.
    const QMap<int, bool>& channelEnabled() const { return enabled_; }
    const QMap<int, int>& thresholds() const { return threshold_; }
    const QMap<int, int>& zsThresholds() const { return zsThreshold_; }
    const QMap<int, bool>& triggerEnabled() const { return triggerEnabled_; }
    const QMap<int, int>& baselines() const { return baseline_; }

    // Board values.
    const QString& hwStr() const { return hwStr_; }
    bool isEnabled() const { return flag(BoardEnabled); }
    int readCellNumber() const { return scalars_[ReadCellNumber]; }
    int trigDelay() const { return scalars_[TrigDelay]; }
    int trigSetup() const { return scalars_[TrigSetup]; }
    bool invertInput() const { return flag(InvertInput); }
    bool zsEnabled() const { return flag(ZsEnabled); }
    bool softwareZs() const { return flag(SoftwareZs); }
    quint16 ad5622Level() const { return word(Ad5622Level); }
    quint16 ad5622Baseline() const { return word(Ad5622Baseline); }
    quint16 ampBoardSet() const { return word(AmpBoardSet); }
    bool invertThrTrig() const { return flag(InvertThrTrig); }
    bool invertZsThr() const { return flag(InvertZsThr); }

    // Readout window ("Sparse").
    bool sparseEnabled() const { return flag(SparseEnabled); }
    quint16 sparseReadCellNum() const { return word(SparseReadCellNum); }
    quint16 sparseOffset() const { return word(SparseOffset); }
    quint16 sparsePeriod() const { return word(SparsePeriod); }
    quint16 sparsePointNumber() const { return word(SparsePointNumber); }

    // On-board processing ("DSP" with "FIR", "BLC" and "BLC/MAF").
    bool dspEnabled() const { return flag(DspEnabled); }
    const QString& firPresetKey() const { return firPresetKey_; }
    bool firEnabled() const { return flag(FirEnabled); }
    int firRoundoff() const { return scalars_[FirRoundoff]; }
    int blcThreshold() const { return scalars_[BlcThreshold]; }
    bool mafEnabled() const { return flag(MafEnabled); }
    int mafTapSel() const { return scalars_[MafTapSel]; }
    const QVector<qint16>& firCoefficients() const { return firCoefficients_; }

    static QVector<qint16> defaultFirCoefficients();

private:
    // The switches and numbers of the board, each read from one key of its
    // group by one loop over scalarKeys(), which gives key, kind and default.
    enum Scalar {
        BoardEnabled,
        ReadCellNumber,
        TrigDelay,
        TrigSetup,
        InvertInput,
        ZsEnabled,
        SoftwareZs,
        Ad5622Level,
        Ad5622Baseline,
        AmpBoardSet,
        InvertThrTrig,
        InvertZsThr,
        SparseEnabled,
        SparseReadCellNum,
        SparseOffset,
        SparsePeriod,
        SparsePointNumber,
        DspEnabled,
        FirEnabled,
        FirRoundoff,
        BlcThreshold,
        MafEnabled,
        MafTapSel,
        ScalarCount
    };
    enum class Kind { Switch, Number, Word };
    struct ScalarKey {
        Scalar scalar;
        const char* path; // below the board's group
        Kind kind;
        int initial;
    };
    static const std::array<ScalarKey, ScalarCount>& scalarKeys();

    bool flag(Scalar scalar) const { return scalars_[scalar] != 0; }
    quint16 word(Scalar scalar) const { return quint16(scalars_[scalar]); }

    void loadScalars(const QSettings& settings);
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
    QString firPresetKey_;
    std::array<int, ScalarCount> scalars_{};
    QVector<qint16> firCoefficients_ = defaultFirCoefficients();
};
