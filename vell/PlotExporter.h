#pragma once
// Writes a plot as a picture file through Qwt's own renderer, in the format
// its name's suffix chooses: PNG at the plot's size on screen, SVG or a
// one-page PDF of the same size in millimetres at the screen's resolution.

#include <QString>
#include <QStringList>

class QwtPlot;

class PlotExporter {
public:
    // Lower-case suffixes, the first one the default.
    static QStringList suffixes();
    // File dialog filter of the formats.
    static QString fileFilter();
    // Empty when the plot was written, else why not.
    static QString save(QwtPlot* plot, const QString& fileName);
};
