#pragma once
// A spectrogram that draws its cells from a small image, one pixel per cell,
// stretched over a rectangle of plot coordinates, instead of asking its
// raster data for every pixel: the data and colour map stay for whoever reads
// values off the item. On a raster device it stretches the image
// itself, each cell a run of whole pixels copied or filled at once, and keeps
// the result until the cells, the scales or the canvas change, so repaints
// between new cells (the zoomer's read-out moving over the canvas) only copy it.

#include <QImage>
#include <QRectF>
#include <qwt_plot_spectrogram.h>

class CellImageItem : public QwtPlotSpectrogram {
public:
    explicit CellImageItem(const QString& title);

    // Row 0 of the cells is the top one (largest y); area spans the cells in
    // plot coordinates. A null image draws nothing.
    void setCells(const QImage& cells, const QRectF& area);

    QRectF boundingRect() const override;
    void draw(QPainter* painter, const QwtScaleMap& xMap, const QwtScaleMap& yMap,
              const QRectF& canvasRect) const override;

private:
    // Where the cells go on the paint device: edges of the first and the
    // last cell in each direction, and the whole pixels drawn.
    struct Placement {
        double left = 0;
        double right = 0;
        double top = 0;
        double bottom = 0;
        QRect pixels;
        bool operator==(const Placement& o) const
        {
            return left == o.left && right == o.right && top == o.top && bottom == o.bottom && pixels == o.pixels;
        }
    };

    Placement place(const QwtScaleMap& xMap, const QwtScaleMap& yMap, const QRectF& canvasRect) const;
    void stretch(const Placement& at) const;

    QImage m_cells;
    QRectF m_area;
    mutable QImage m_stretched; // the cells as last drawn, at m_drawnAt
    mutable Placement m_drawnAt{};
    mutable bool m_stale = true; // new cells since m_stretched
};
