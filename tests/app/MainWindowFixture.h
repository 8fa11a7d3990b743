#pragma once
// A real main window with its worker threads and program discovery, on
// settings in a temporary folder. Discovery sends multicast, so these tests
// run only inside the private network namespace of scripts/netns-run.

#include "app/FileReaderDialog.h"
#include "app/MainWindow.h"
#include "tests/pnp/PnpTestSupport.h"
#include "vell/WaveformPlot.h"

#include "TempSettings.h"

#include <QAction>
#include <QLabel>
#include <gtest/gtest.h>

#include <memory>

class MainWindowFixture : public ::testing::Test {
protected:
    static constexpr int DecodeTimeoutMs = 60000;

    void SetUp() override
    {
        REQUIRE_PRIVATE_NETWORK();
        ASSERT_TRUE(temp.isValid());
    }

    void openWindow()
    {
        window = std::make_unique<MainWindow>();
        window->show();
        plot = window->findChild<WaveformPlot*>("widgetWaveform");
        dialog = window->findChild<FileReaderDialog*>();
        ASSERT_NE(plot, nullptr);
        ASSERT_NE(dialog, nullptr);
    }

    template <typename T>
    T* part(const char* name) const
    {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLabel* label(const char* name) const { return part<QLabel>(name); }
    QAction* action(const char* name) const { return part<QAction>(name); }

    // The window's private slots, reached as its queued signals reach them.
    template <typename Arg>
    void callSlot(const char* slot, const char* typeName, const Arg& arg)
    {
        ASSERT_TRUE(
            QMetaObject::invokeMethod(window.get(), slot, Qt::DirectConnection, QGenericArgument(typeName, &arg)));
    }

    TempSettings temp;
    std::unique_ptr<MainWindow> window;
    WaveformPlot* plot = nullptr;
    FileReaderDialog* dialog = nullptr;
};
