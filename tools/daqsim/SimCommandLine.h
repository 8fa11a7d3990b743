#pragma once
// The command line of the simulated acquisition program: its options, their
// help text and their checks.

#include "tools/daqsim/SimOptions.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

class SimCommandLine {
public:
    SimCommandLine();

    // Reads the arguments (the program name first). False with error() set
    // for an unknown option or a value out of range.
    bool parse(const QStringList& arguments);

    const SimOptions& options() const { return m_options; }
    QString error() const { return m_error; }
    bool helpRequested() const;
    QString helpText() const;

private:
    bool readIdentity();
    bool readStream();
    bool readDamage();
    template <typename T>
    bool readNumber(const char* name, T low, T high, T& value);
    bool fail(const QString& message);

    QCommandLineParser m_parser;
    SimOptions m_options;
    QString m_error;
};
