// The histogram tab while no histogram type is registered: records at any
// rate, refreshes and the choice of an unknown type leave it empty.

#include "app/HistMngrWidget.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <qwt_plot.h>

TEST(HistMngrWidget, RecordsRefreshesAndUnknownTypesLeaveTheTabEmpty)
{
    registerDataPathMetaTypes();
    HistMngrWidget widget;
    auto* plot = widget.findChild<QwtPlot*>("qwtPlotHists");
    widget.show();
    QCoreApplication::processEvents();
    const QImage before = widget.grab().toImage();

    DeviceData data; // 16 events of 64 channels x 4096 samples
    DeviceEvent event;
    for (int ch = 0; ch < 64; ++ch)
        event.channels[ch].samples = QVector<double>(4096, 7.0);
    data.events = QVector<DeviceEvent>(16, event);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 10000; ++i)
        QMetaObject::invokeMethod(&widget, "dataUpdated", Qt::QueuedConnection, Q_ARG(DeviceData, data));
    QCoreApplication::processEvents();
    EXPECT_LT(timer.elapsed(), 5000); // must not hold up the GUI thread

    QMetaObject::invokeMethod(&widget, "refreshCurrentPlot");
    QMetaObject::invokeMethod(&widget, "refreshCurrentPlot", Q_ARG(bool, true));
    plot->setTitle("stale");
    QMetaObject::invokeMethod(&widget, "on_comboBoxType_currentIndexChanged", Q_ARG(int, 3));
    EXPECT_TRUE(plot->title().isEmpty());
    EXPECT_TRUE(plot->itemList().isEmpty());
    EXPECT_EQ(widget.grab().toImage(), before);
}
