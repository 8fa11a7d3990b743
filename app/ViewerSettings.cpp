#include "app/ViewerSettings.h"

#include <QSettings>

namespace {

// A stored flag counts only when it reads as a boolean; anything else (a
// hand-edited "yes please", a number list) is treated like an absent key.
bool readBool(const QSettings& store, const QString& key)
{
    const QString text = store.value(key).toString().trimmed().toLower();
    return text == QLatin1String("true") || text == QLatin1String("1");
}

int readInt(const QSettings& store, const QString& key)
{
    bool ok = false;
    const int value = store.value(key).toInt(&ok);
    return ok ? value : 0;
}

QString readTrimmed(const QSettings& store, const QString& key)
{
    return store.value(key).toString().trimmed();
}

} // namespace

void ViewerSettings::loadSettings()
{
    QSettings store;
    store.beginGroup("SelectedProgram");
    selectedProgramType = readTrimmed(store, "type");
    selectedProgramIndex = readTrimmed(store, "index");
    selectedInterface = readTrimmed(store, "interface");
    store.endGroup();

    store.beginGroup("Main");
    lastFile = store.value("lastFile").toString();
    adcRawDataSigned = readBool(store, "adcRawDataSigned");
    drawRelativeToBaseline = readBool(store, "drawRelativeToBaseline");
    playbackInterval = readInt(store, "playbackInterval");
    store.endGroup();
}

void ViewerSettings::saveSettings() const
{
    QSettings store;
    store.beginGroup("SelectedProgram");
    store.setValue("type", selectedProgramType);
    store.setValue("index", selectedProgramIndex);
    store.setValue("interface", selectedInterface);
    store.endGroup();

    store.beginGroup("Main");
    store.setValue("adcRawDataSigned", adcRawDataSigned);
    store.setValue("drawRelativeToBaseline", drawRelativeToBaseline);
    store.setValue("playbackInterval", playbackInterval);
    store.setValue("lastFile", lastFile);
    store.endGroup();
}
