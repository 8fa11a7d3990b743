#include "app/HistMngrWidget.h"

#include "app/AmplitudeMapView.h"
#include "app/BaselineNoiseView.h"
#include "app/CountHistogramView.h"
#include "app/EventRateView.h"
#include "ui_HistMngrWidget.h"

#include <QSignalBlocker>
#include <QTimer>
#include <qwt_plot_canvas.h>
#include <qwt_plot_zoomer.h>

namespace {

const HistogramView::Axes CountAxes{QStringLiteral("Amplitude (ADC codes)"), QStringLiteral("Events")};

CountHistogramView::Bins amplitudeBins(const BoardHistograms& board, int channel)
{
    const QVector<quint32> counts = board.amplitudes(channel);
    return {{counts.cbegin(), counts.cend()}, BoardHistograms::amplitudeBinLow(0), BoardHistograms::AmplitudeBinWidth};
}

CountHistogramView::Bins peakBins(const BoardHistograms& board, int channel)
{
    Q_UNUSED(channel)
    return {board.peaks(), -0.5, 1}; // one bin per sample index, centred on it
}

} // namespace

HistMngrWidget::HistMngrWidget(QWidget* parent)
    : QWidget(parent), ui(new Ui::HistMngrWidget), refreshTimer(new QTimer(this))
{
    connect(refreshTimer, &QTimer::timeout, this, qOverload<>(&HistMngrWidget::refreshCurrentPlot));
    refreshTimer->setObjectName(QStringLiteral("refreshTimer"));
    m_clock.start();
    ui->setupUi(this);
    ui->qwtPlotHists->setLegendEnabled(false); // one type at a time, named by the title
    // Each change of an item would replot at once; a refresh replots once
    // after all of them instead.
    ui->qwtPlotHists->setAutoReplot(false);
    // The canvas's backing store is a pixmap filled and copied anew at every
    // replot, and the tab replots at every refresh: drawing the few items
    // straight into the widget costs a fraction of that.
    if (auto* canvas = qobject_cast<QwtPlotCanvas*>(ui->qwtPlotHists->canvas()))
        canvas->setPaintAttribute(QwtPlotCanvas::BackingStore, false);
    addViews();
    showCounts();
}

HistMngrWidget::~HistMngrWidget()
{
    views.clear(); // before the plot that owns their items
    delete ui;
}

void HistMngrWidget::addViews()
{
    VellPlot* plot = ui->qwtPlotHists;
    views.emplace_back(
        new CountHistogramView(plot, QStringLiteral("Amplitude spectrum"), CountAxes, true, amplitudeBins));
    views.emplace_back(new AmplitudeMapView(plot));
    views.emplace_back(new BaselineNoiseView(plot));
    views.emplace_back(new CountHistogramView(
        plot, QStringLiteral("Peak position"),
        {QStringLiteral("Peak position (sample index)"), QStringLiteral("Events")}, false, peakBins));
    views.emplace_back(new EventRateView(plot));
    for (const auto& view : views)
        ui->comboBoxType->addItem(view->title()); // the first item selects its type
}

void HistMngrWidget::dataUpdated(DeviceData data)
{
    if (m_histograms.fill(data, m_clock.elapsed() / 1000))
        updateBoardChoice();
}

void HistMngrWidget::boardsSkipped(int boards)
{
    m_histograms.addSkipped(boards);
}

void HistMngrWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refreshTimer->start(RefreshIntervalMs);
    refreshCurrentPlot(true);
}

void HistMngrWidget::hideEvent(QHideEvent* event)
{
    refreshTimer->stop();
    QWidget::hideEvent(event);
}

void HistMngrWidget::on_comboBoxType_currentIndexChanged(int index)
{
    if (HistogramView* shown = currentView())
        shown->setShown(false);
    currentType = index;
    HistogramView* view = currentView();
    if (view)
        view->setShown(true);
    ui->qwtPlotHists->setTitle(view ? view->title() : QString());
    ui->spinBoxChannel->setEnabled(view && view->usesChannel());
    if (QwtPlotZoomer* zoomer = ui->qwtPlotHists->zoomer())
        zoomer->zoom(0); // a zoomed range of one type means nothing for the next
    refreshCurrentPlot(true);
}

void HistMngrWidget::on_comboBoxBoard_currentIndexChanged(int index)
{
    Q_UNUSED(index)
    refreshCurrentPlot(true);
}

void HistMngrWidget::on_spinBoxChannel_valueChanged(int channel)
{
    Q_UNUSED(channel)
    refreshCurrentPlot(true);
}

void HistMngrWidget::on_pushButtonReset_clicked()
{
    m_histograms.reset();
    {
        const QSignalBlocker blocker(ui->comboBoxBoard);
        ui->comboBoxBoard->clear();
    }
    refreshCurrentPlot(true);
}

// Lists the boards seen, keeping the chosen one.
void HistMngrWidget::updateBoardChoice()
{
    QComboBox* box = ui->comboBoxBoard;
    const QVariant chosen = box->currentData();
    {
        const QSignalBlocker blocker(box);
        box->clear();
        for (quint32 serial : m_histograms.serials())
            box->addItem(QString::number(serial), serial);
        box->setCurrentIndex(chosen.isValid() ? box->findData(chosen) : 0);
    }
    if (!chosen.isValid())
        refreshCurrentPlot(false);
}

void HistMngrWidget::showCounts()
{
    ui->labelCounts->setText(
        tr("Boards histogrammed: %1\nBoards skipped: %2").arg(m_histograms.histogrammed()).arg(m_histograms.skipped()));
}

HistogramView* HistMngrWidget::currentView() const
{
    return currentType >= 0 && currentType < int(views.size()) ? views[std::size_t(currentType)].get() : nullptr;
}

void HistMngrWidget::refreshCurrentPlot(bool force)
{
    if (!force && !isVisible())
        return;
    showCounts();
    HistogramView* view = currentView();
    if (!view)
        return;
    const QVariant serial = ui->comboBoxBoard->currentData();
    const BoardHistograms* board = serial.isValid() ? m_histograms.board(serial.toUInt()) : nullptr;
    view->update(board, ui->spinBoxChannel->value(), m_clock.elapsed() / 1000);
    if (!ui->qwtPlotHists->followDataUnlessZoomed())
        ui->qwtPlotHists->replot();
}

void HistMngrWidget::refreshCurrentPlot()
{
    refreshCurrentPlot(false);
}
