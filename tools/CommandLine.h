#pragma once
// Command-line handling shared by the data tools: help on stdout, usage
// errors on stderr with exit status 2.

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace CommandLine {

constexpr int ExitUsage = 2;
constexpr int Continue = -1;

inline int usageError(const QCommandLineParser& args, const QString& message)
{
    std::fprintf(stderr, "%s: %s\n\n%s", qPrintable(QCoreApplication::applicationName()), qPrintable(message),
                 qPrintable(args.helpText()));
    return ExitUsage;
}

// Parses the arguments of this process; returns the exit status when the
// tool should stop now (help shown, usage error), else Continue.
inline int parse(QCommandLineParser& args, int positionalCount)
{
    args.addHelpOption();
    if (!args.parse(QCoreApplication::arguments()))
        return usageError(args, args.errorText());
    if (args.isSet("help")) {
        std::fputs(qPrintable(args.helpText()), stdout);
        return 0;
    }
    if (args.positionalArguments().size() != positionalCount)
        return usageError(args, QStringLiteral("exactly %1 FILE argument is needed").arg(positionalCount));
    return Continue;
}

} // namespace CommandLine
