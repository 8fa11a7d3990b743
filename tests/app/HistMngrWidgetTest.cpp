// The histogram tab while no histogram type is registered: records at any
// rate, refreshes and the choice of an unknown type leave it empty.

#include "app/HistMngrWidget.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <qwt_plot.h>

TEST(HistMngrWidget, RecordsRefreshesAndUnknownTypesLeaveTheTabEmpty)
{
    registerDataPathMetaTypes();
    HistMngrWidget widget;
    widget.show();
    QCoreApplication::processEvents();
    const QImage before = widget.grab().toImage();

    DeviceData data; // 16 events of 64 channels x 4096 samples, queued 1000 times
    DeviceEvent event;
    for (int ch = 0; ch < 64; ++ch)
        event.channels[ch].samples = QVector<double>(4096, 7.0);
    data.events = QVector<DeviceEvent>(16, event);
    for (int i = 0; i < 1000; ++i)
        QMetaObject::invokeMethod(&widget, "dataUpdated", Qt::QueuedConnection, Q_ARG(DeviceData, data));
    QCoreApplication::processEvents();
    QMetaObject::invokeMethod(&widget, "refreshCurrentPlot", Q_ARG(bool, true));
    QMetaObject::invokeMethod(&widget, "on_comboBoxType_currentIndexChanged", Q_ARG(int, 3));
    EXPECT_TRUE(widget.findChild<QwtPlot*>("qwtPlotHists")->itemList().isEmpty());
    EXPECT_EQ(widget.grab().toImage(), before);
}
