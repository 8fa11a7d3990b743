#pragma once
// The histogram tab: a plot paired with a selector of histogram types. The
// plot shows the item of the selected type under that type's title. No
// histogram type is registered yet, so the selector is empty, records change
// nothing and refreshing draws nothing; the tab, its layout and slots exist.

#include "datapath/EventData.h"

#include <QMap>
#include <QString>
#include <QWidget>

class QTimer;
class QwtPlotItem;

namespace Ui {
class HistMngrWidget;
}

class HistMngrWidget : public QWidget {
    Q_OBJECT

public:
    explicit HistMngrWidget(QWidget* parent = nullptr);
    ~HistMngrWidget() override;

public slots:
    // One board's records; queued from the analyzer thread at any rate, so it
    // must return at once.
    void dataUpdated(DeviceData data);

private slots:
    void on_comboBoxType_currentIndexChanged(int index);
    void refreshCurrentPlot(bool force);
    void refreshCurrentPlot();

private:
    Ui::HistMngrWidget* ui;
    QMap<int, QwtPlotItem*> itemMap; // plot item per histogram type
    QMap<int, QString> titleMap;     // plot title per histogram type
    int currentType = -1;
    QTimer* refreshTimer;
};
