#include "vell/PlotExporter.h"

#include <QFileInfo>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <qwt_plot.h>
#include <qwt_plot_renderer.h>

QStringList PlotExporter::suffixes()
{
    return {"png", "svg", "pdf"};
}

QString PlotExporter::fileFilter()
{
    return "PNG image (*.png);;SVG drawing (*.svg);;PDF document (*.pdf)";
}

namespace {

// Qwt writes PDF through QPrinter, which asks the print system for its
// printers first and can wait for it for minutes; QPdfWriter asks nothing.
void renderPdf(QwtPlot* plot, const QString& fileName, const QSizeF& sizeMm, int dpi)
{
    QPdfWriter writer(fileName);
    writer.setResolution(dpi);
    writer.setPageSize(QPageSize(sizeMm, QPageSize::Millimeter));
    writer.setPageMargins(QMarginsF());
    QPainter painter(&writer);
    QwtPlotRenderer().render(plot, &painter, QRectF(0, 0, writer.width(), writer.height()));
}

} // namespace

QString PlotExporter::save(QwtPlot* plot, const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (!suffixes().contains(suffix))
        return QString("unknown picture format \"%1\"; use .png, .svg or .pdf").arg(suffix);
    // The renderer reports nothing; a file it could not create stays missing.
    QFile::remove(fileName);
    const int dpi = plot->logicalDpiX();
    const QSizeF sizeMm = QSizeF(plot->size()) * 25.4 / dpi;
    if (suffix == "pdf")
        renderPdf(plot, fileName, sizeMm, dpi);
    else
        QwtPlotRenderer().renderDocument(plot, fileName, suffix, sizeMm, dpi);
    if (!QFileInfo(fileName).isFile() || QFileInfo(fileName).size() == 0)
        return QString("cannot write %1").arg(fileName);
    return QString();
}
