#pragma once
// The viewer's own settings record: options, the chosen source program, the
// last data file and the playback interval, kept between runs in the native
// per-user settings of the application (Ravel-Viewer.conf).

#include <QString>

struct ViewerSettings {
    bool adcRawDataSigned = false;
    bool drawRelativeToBaseline = false;
    int playbackInterval = 0; // milliseconds
    QString selectedProgramType;
    QString selectedProgramIndex;
    QString selectedInterface;
    QString lastFile;

    // Every field is overwritten; an absent or unreadable key yields an empty
    // string, false or 0.
    void loadSettings();
    // All seven keys are written on every call.
    void saveSettings() const;
};
