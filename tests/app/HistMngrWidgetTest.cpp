// The histogram tab as built: its form, an empty selector and plot, and slots
// that change nothing while no histogram type is registered.

#include "app/HistMngrWidget.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QMetaObject>
#include <gtest/gtest.h>
#include <qwt_plot.h>

namespace {

TEST(HistMngrWidget, FormHasPlotThenSelectorInOneRow)
{
    HistMngrWidget widget;
    EXPECT_EQ(widget.objectName(), "HistMngrWidget");
    EXPECT_EQ(widget.windowTitle(), "Form");
    EXPECT_EQ(widget.size(), QSize(400, 300));
    auto* layout = widget.findChild<QHBoxLayout*>("horizontalLayout_2");
    ASSERT_NE(layout, nullptr);
    ASSERT_EQ(layout->count(), 2);
    auto* plot = qobject_cast<QwtPlot*>(layout->itemAt(0)->widget());
    auto* selector = qobject_cast<QComboBox*>(layout->itemAt(1)->widget());
    ASSERT_NE(plot, nullptr);
    ASSERT_NE(selector, nullptr);
    EXPECT_EQ(plot->objectName(), "qwtPlotHists");
    EXPECT_EQ(selector->objectName(), "comboBoxType");
    EXPECT_EQ(selector->count(), 0);
    EXPECT_TRUE(plot->itemList().isEmpty());
    EXPECT_TRUE(plot->title().isEmpty());
}

TEST(HistMngrWidget, RecordsAtAnyRateLeaveTheTabUnchangedAndReturnAtOnce)
{
    registerDataPathMetaTypes();
    HistMngrWidget widget;
    widget.show();
    QCoreApplication::processEvents();
    const QImage before = widget.grab().toImage();

    DeviceData data;
    data.serial = 0x1234;
    DeviceEvent event;
    ChannelData channel;
    channel.samples = QVector<double>(4096, 7.0);
    for (int ch = 0; ch < 64; ++ch)
        event.channels.insert(ch, channel);
    data.events = QVector<DeviceEvent>(16, event);

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 10000; ++i)
        QMetaObject::invokeMethod(&widget, "dataUpdated", Qt::QueuedConnection, Q_ARG(DeviceData, data));
    QCoreApplication::processEvents();
    EXPECT_LT(timer.elapsed(), 5000); // ten thousand records must not hold up the GUI thread

    QMetaObject::invokeMethod(&widget, "refreshCurrentPlot");
    QMetaObject::invokeMethod(&widget, "refreshCurrentPlot", Q_ARG(bool, true));
    EXPECT_EQ(widget.grab().toImage(), before);
}

TEST(HistMngrWidget, SelectingAnUnregisteredTypeShowsAnEmptyTitle)
{
    HistMngrWidget widget;
    auto* plot = widget.findChild<QwtPlot*>("qwtPlotHists");
    plot->setTitle("stale");
    QMetaObject::invokeMethod(&widget, "on_comboBoxType_currentIndexChanged", Q_ARG(int, 3));
    EXPECT_TRUE(plot->title().isEmpty());
    EXPECT_TRUE(plot->itemList().isEmpty());
}

} // namespace
