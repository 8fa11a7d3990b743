#pragma once
// One histogram type of the histogram tab: its plot items on the tab's plot,
// its title and axis titles, and how it turns the chosen board's accumulators
// into item data. Items are attached once and only hidden while another type
// is shown; the plot owns and deletes them.

#include <QString>

class BoardHistograms;
class VellPlot;

class HistogramView {
public:
    struct Axes {
        QString x;
        QString y;
    };

    HistogramView(VellPlot* plot, const QString& title, const Axes& axes);
    virtual ~HistogramView() = default;
    HistogramView(const HistogramView&) = delete;
    HistogramView& operator=(const HistogramView&) = delete;

    const QString& title() const { return m_title; }
    // Whether the tab's channel box applies to this type.
    virtual bool usesChannel() const { return false; }
    // Shows or hides the items; shown, the axes get this type's titles.
    virtual void setShown(bool shown);
    // Takes the chosen board's data (null before any record) into the items.
    virtual void update(const BoardHistograms* board, int channel, qint64 nowSecond) = 0;

protected:
    VellPlot* plot() const { return m_plot; }
    virtual void setItemsVisible(bool visible) = 0;

private:
    VellPlot* m_plot;
    QString m_title;
    Axes m_axes;
};
