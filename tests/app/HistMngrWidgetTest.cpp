// The histogram tab fed with the records of a real analyzer decoding
// generated events: the selector's types and titles, what each type draws,
// the board choice, the counts line, Reset and the refresh timer.

#include "app/HistMngrWidget.h"
#include "datapath/ADCAnalyzer.h"
#include "datapath/EventEncoder.h"
#include "datapath/SampleGenerator.h"
#include "vell/VellPlot.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSemaphore>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>
#include <limits>
#include <numeric>
#include <qwt_matrix_raster_data.h>
#include <qwt_plot_histogram.h>
#include <qwt_plot_item.h>
#include <qwt_plot_spectrogram.h>
#include <qwt_plot_zoomer.h>

namespace {

constexpr int Events = 50;

// Events of two boards of 8 channels, decoded by an analyzer whose records go
// to the widget.
void feed(HistMngrWidget& widget, int events = Events)
{
    SampleGenerator::Options options;
    options.channels = 8;
    options.samples = 256;
    SampleGenerator generator(options);
    QByteArray stream;
    for (int i = 0; i < events; ++i)
        EventEncoder::appendEvent(stream, generator.nextEvent());
    QSemaphore source(1);
    QSemaphore writer(50);
    ADCAnalyzer analyzer(&source, &writer);
    QObject::connect(&analyzer, &ADCAnalyzer::deviceDataUpdated, &widget, &HistMngrWidget::dataUpdated);
    analyzer.dataAccuired(stream);
}

// One record of a board per serial, each with the given channels.
DeviceData record(const QVector<quint32>& serials, const QVector<int>& channels, const ChannelFeatures& features = {})
{
    DeviceData data;
    for (quint32 serial : serials) {
        DeviceEvent board;
        board.serial = serial;
        for (int ch : channels)
            board.channels[ch].features = features;
        data.events.append(board);
    }
    return data;
}

class HistMngrWidgetTest : public ::testing::Test {
protected:
    HistMngrWidgetTest()
    {
        registerDataPathMetaTypes();
        widget.show();
        QCoreApplication::processEvents();
    }

    template <typename T>
    T* child(const char* name) const
    {
        return widget.findChild<T*>(name);
    }
    VellPlot* plot() const { return child<VellPlot>("qwtPlotHists"); }
    void select(const char* type) { child<QComboBox>("comboBoxType")->setCurrentText(type); }
    QString counts()
    {
        QMetaObject::invokeMethod(&widget, "refreshCurrentPlot", Q_ARG(bool, true));
        return child<QLabel>("labelCounts")->text();
    }

    // Visible items that hold data (an empty item has negative bounds).
    int filledItems() const
    {
        int filled = 0;
        for (QwtPlotItem* item : plot()->itemList()) {
            const QRectF bounds = item->boundingRect();
            filled += item->isVisible() && (bounds.width() > 0 || bounds.height() > 0) ? 1 : 0;
        }
        return filled;
    }

    HistMngrWidget widget;
};

} // namespace

TEST_F(HistMngrWidgetTest, EachTypeWithItsTitlesDrawsTheDecodedBoards)
{
    feed(widget);
    const struct {
        const char* type;
        const char* x;
        const char* y;
        bool usesChannel;
    } types[] = {
        {"Amplitude spectrum", "Amplitude (ADC codes)", "Events", true},
        {"Amplitude vs channel", "Channel", "Amplitude (ADC codes)", false},
        {"Baseline and noise per channel", "Channel", "Baseline (ADC codes)", false},
        {"Peak position", "Peak position (sample index)", "Events", false},
        {"Event rate", "Time (s)", "Rate (events/s)", false},
    };
    auto* selector = child<QComboBox>("comboBoxType");
    ASSERT_EQ(selector->count(), int(std::size(types)));
    for (int i = 0; i < selector->count(); ++i) {
        SCOPED_TRACE(types[i].type);
        EXPECT_EQ(selector->itemText(i), types[i].type);
        select(types[i].type);
        EXPECT_EQ(plot()->title().text(), types[i].type);
        EXPECT_EQ(plot()->axisTitle(QwtPlot::xBottom).text(), types[i].x);
        EXPECT_EQ(plot()->axisTitle(QwtPlot::yLeft).text(), types[i].y);
        EXPECT_EQ(child<QSpinBox>("spinBoxChannel")->isEnabled(), types[i].usesChannel);
        EXPECT_GT(filledItems(), 0);
    }
    // The colour bar goes with the map only.
    select("Amplitude vs channel");
    EXPECT_TRUE(plot()->axisEnabled(QwtPlot::yRight));
    EXPECT_EQ(plot()->axisTitle(QwtPlot::yRight).text(), "Events");
    // The map is a spectrogram whose values are the counts, against the bar's range.
    counts();
    const QwtPlotItemList maps = plot()->itemList(QwtPlotItem::Rtti_PlotSpectrogram);
    ASSERT_EQ(maps.size(), 1);
    const auto* values = dynamic_cast<const QwtMatrixRasterData*>(static_cast<QwtPlotSpectrogram*>(maps[0])->data());
    ASSERT_NE(values, nullptr);
    const QVector<double> matrix = values->valueMatrix();
    EXPECT_GT(std::accumulate(matrix.cbegin(), matrix.cend(), 0.0), 0);
    EXPECT_EQ(values->interval(Qt::ZAxis).maxValue(), plot()->axisScaleDiv(QwtPlot::yRight).upperBound());
    select("Event rate");
    EXPECT_FALSE(plot()->axisEnabled(QwtPlot::yRight));
    // Zoomed in on one type, the next one starts unzoomed.
    plot()->zoomer()->zoom(QRectF(-100, 0, 50, 10));
    ASSERT_EQ(plot()->zoomer()->zoomRectIndex(), 1u);
    select("Peak position");
    EXPECT_EQ(plot()->zoomer()->zoomRectIndex(), 0u);
}

TEST_F(HistMngrWidgetTest, FillingCountsBoardChoiceAndReset)
{
    feed(widget);
    auto* boards = child<QComboBox>("comboBoxBoard");
    ASSERT_EQ(boards->count(), 2);
    EXPECT_EQ(boards->itemText(0), "2001");
    EXPECT_EQ(boards->itemText(1), "2002");
    widget.boardsSkipped(7);
    EXPECT_EQ(counts(), QString("Boards histogrammed: %1\nBoards skipped: 7").arg(2 * Events));

    // Every event fills one amplitude entry of channel 3 of the chosen board.
    select("Amplitude spectrum");
    child<QSpinBox>("spinBoxChannel")->setValue(3);
    double entries = 0;
    for (QwtPlotItem* item : plot()->itemList(QwtPlotItem::Rtti_PlotHistogram)) {
        if (item->isVisible()) {
            const auto* histogram = static_cast<QwtPlotHistogram*>(item);
            for (size_t i = 0; i < histogram->dataSize(); ++i)
                entries += histogram->sample(int(i)).value;
        }
    }
    EXPECT_EQ(entries, Events);
    const BoardHistograms* board = widget.histograms().board(2001);
    ASSERT_NE(board, nullptr);
    EXPECT_EQ(board->channels(), (QVector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    const QVector<double> rate = board->rate(1); // the test began in second 0 of the widget's clock
    EXPECT_EQ(std::accumulate(rate.cbegin(), rate.cend(), 0.0), Events);

    child<QPushButton>("pushButtonReset")->click();
    EXPECT_EQ(counts(), "Boards histogrammed: 0\nBoards skipped: 0");
    EXPECT_EQ(boards->count(), 0);
    EXPECT_EQ(filledItems(), 0);
    feed(widget, 1); // the boards come back with the next records
    EXPECT_EQ(boards->count(), 2);
}

// Whatever serials and channel numbers arrive, memory stays bounded.
TEST_F(HistMngrWidgetTest, BoardsAndChannelsBeyondTheLimitsAreLeftOut)
{
    QVector<quint32> serials(FeatureHistograms::MaxBoards + 6);
    std::iota(serials.begin(), serials.end(), 1u);
    widget.dataUpdated(record(serials, {0, BoardHistograms::MaxChannel, BoardHistograms::MaxChannel + 1}));
    widget.dataUpdated(record({1, 1000}, {0})); // a board seen is still filled
    EXPECT_EQ(child<QComboBox>("comboBoxBoard")->count(), FeatureHistograms::MaxBoards);
    EXPECT_EQ(counts(), QString("Boards histogrammed: %1\nBoards skipped: 7").arg(FeatureHistograms::MaxBoards + 1));
    EXPECT_EQ(widget.histograms().board(1000), nullptr);
    EXPECT_EQ(widget.histograms().board(1)->channels(), (QVector<int>{0, BoardHistograms::MaxChannel}));
    EXPECT_EQ(widget.histograms().board(1)->baseline(0).events, 2u);
}

// Features that are not finite leave the channel's histograms as they were.
TEST_F(HistMngrWidgetTest, NonFiniteFeaturesAreLeftOut)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const ChannelFeatures features[] = {
        // baseline, noise, amplitude, integral, peak
        {nan, 2, 100, 0, 5}, {-inf, 2, 100, 0, 5}, {10, nan, 100, 0, 5}, {10, inf, 100, 0, 5},
        {10, 2, nan, 0, 5},  {10, 2, -inf, 0, 5},  {10, 2, 100, 0, 5}, // the one taken
    };
    for (const ChannelFeatures& f : features)
        widget.dataUpdated(record({1}, {0}, f));
    const BoardHistograms* board = widget.histograms().board(1);
    ASSERT_NE(board, nullptr);
    const BoardHistograms::BaselineStats stats = board->baseline(0);
    EXPECT_EQ(stats.events, 1u);
    EXPECT_EQ(stats.mean, 10);
    EXPECT_EQ(stats.rms, 2);
    const QVector<quint32> amplitudes = board->amplitudes(0);
    EXPECT_EQ(std::accumulate(amplitudes.cbegin(), amplitudes.cend(), 0u), 1u);
    EXPECT_EQ(amplitudes.value((100 - BoardHistograms::AmplitudeMin) / BoardHistograms::AmplitudeBinWidth), 1u);
    EXPECT_EQ(board->peaks().value(5), 1u);
}

TEST_F(HistMngrWidgetTest, RefreshTimerRunsOnlyWhileTheTabShows)
{
    auto* timer = widget.findChild<QTimer*>("refreshTimer");
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), HistMngrWidget::RefreshIntervalMs);
    widget.hide();
    EXPECT_FALSE(timer->isActive());
    widget.show();
    EXPECT_TRUE(timer->isActive());
}
