#pragma once
// A real main window with its threads and program discovery (multicast: only
// inside scripts/netns-run), on settings in a temporary folder.

#include "app/FileReaderDialog.h"
#include "app/MainWindow.h"
#include "app/ViewerSettings.h"
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "tests/app/TempSettings.h"
#include "tests/pnp/PnpTestSupport.h"
#include "vell/WaveformPlot.h"

#include <QAction>
#include <QLabel>
#include <gtest/gtest.h>

#include <memory>

class MainWindowFixture : public ::testing::Test {
protected:
    static constexpr int TimeoutMs = 60000;
    static constexpr const char* Connected = "QLabel { color : darkGreen; }";
    static constexpr const char* NotConnected = "QLabel { color : red; }";

    void SetUp() override { REQUIRE_PRIVATE_NETWORK(); }

    void openWindow()
    {
        window = std::make_unique<MainWindow>();
        window->show();
        QObject::connect(window.get(), &MainWindow::addLog, [this](const QString& line) { logs << line; });
        plot = window->findChild<WaveformPlot*>("widgetWaveform");
        dialog = window->findChild<FileReaderDialog*>();
        ASSERT_TRUE(plot && dialog);
    }

    template <typename T = QLabel>
    T* part(const char* name) const
    {
        return window->findChild<T*>(name);
    }
    QAction* action(const char* name) const { return part<QAction>(name); }
    QString eventText() const { return part("eventLabel")->text(); }
    QString sourceText() const { return part("sourceLabel")->text(); }
    QString sourceStyle() const { return part("sourceLabel")->styleSheet(); }

    static void saveChoice(const QString& type, const QString& index)
    {
        ViewerSettings stored;
        stored.selectedProgramType = type;
        stored.selectedProgramIndex = index;
        stored.selectedInterface = "Monitor output data flow";
        stored.saveSettings();
    }

    // Writes `dataFile` with generated events numbered from firstEvNum; returns them.
    QVector<EventData> writeDataFile(int count, int boards, int channels, int samples, quint32 firstSerial,
                                     quint32 firstEvNum = 1)
    {
        SampleGenerator generator({1, boards, channels, samples, firstSerial}); // seed 1
        QVector<EventData> events;
        QByteArray bytes;
        for (int i = 0; i < count; ++i) {
            events << generator.nextEvent();
            events.last().evNum = firstEvNum + quint32(i);
            EventEncoder::appendEvent(bytes, events.last(), true);
        }
        dataFile = temp.write("events.dat", bytes);
        return events;
    }

    // The window's private slots, reached as its queued signals reach them.
    template <typename Arg>
    void callSlot(const char* slot, const char* typeName, const Arg& arg)
    {
        ASSERT_TRUE(
            QMetaObject::invokeMethod(window.get(), slot, Qt::DirectConnection, QGenericArgument(typeName, &arg)));
    }

    TempSettings temp;
    QStringList logs; // before the window: it may still log while it shuts its threads down
    std::unique_ptr<MainWindow> window;
    WaveformPlot* plot = nullptr;
    FileReaderDialog* dialog = nullptr;
    QString dataFile;
};
