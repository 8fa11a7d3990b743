#pragma once
// The histogram tab: a plot paired with a selector of histogram types, and on
// the right the board choice, the channel box, Reset and the counts of boards
// histogrammed and skipped. Records fill the histograms from their channel
// features as they arrive; the plot is redrawn once a second, and only while
// the tab shows.

#include "app/FeatureHistograms.h"
#include "datapath/EventData.h"

#include <QElapsedTimer>
#include <QWidget>
#include <memory>
#include <vector>

class HistogramView;
class QTimer;

namespace Ui {
class HistMngrWidget;
}

class HistMngrWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int RefreshIntervalMs = 1000;

    explicit HistMngrWidget(QWidget* parent = nullptr);
    ~HistMngrWidget() override;

    const FeatureHistograms& histograms() const { return m_histograms; }

public slots:
    // Board records queued from the analyzer at any rate: a few additions per
    // channel, no drawing, so it returns at once.
    void dataUpdated(DeviceData data);
    // Boards the analyzer dropped because the monitor was behind.
    void boardsSkipped(int boards);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private slots:
    void on_comboBoxType_currentIndexChanged(int index);
    void on_comboBoxBoard_currentIndexChanged(int index);
    void on_spinBoxChannel_valueChanged(int channel);
    void on_pushButtonReset_clicked();
    void refreshCurrentPlot(bool force);
    void refreshCurrentPlot();

private:
    void addViews();
    void updateBoardChoice();
    void showCounts();
    HistogramView* currentView() const;

    Ui::HistMngrWidget* ui;
    std::vector<std::unique_ptr<HistogramView>> views; // by selector index
    int currentType = -1;
    QTimer* refreshTimer;
    FeatureHistograms m_histograms;
    QElapsedTimer m_clock; // seconds for the event rate
};
