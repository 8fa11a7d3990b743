#pragma once

#include <QString>

// Kinds of acquisition program on the networks; the names travel in the
// "type" attribute of an announcement and as discover request targets.
enum ProgramType {
    RavelSystemProgram = 0,
    QolProgram = 1,
    TamberProgram = 2,
    OrrinProgram = 3,
    ZelAnalyzerProgram = 4,
    ZelSystemProgram = 5,
    NimbusProgram = 6,
    BrantleProgram = 7,
    OstrelProgram = 8,
    VimmerProgram = 9
};

// The name of a program type, or an empty string for an unknown value.
QString programTypeName(int type);
