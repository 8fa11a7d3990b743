#pragma once
// Command-line handling shared by the data and discovery tools: help on
// stdout, usage errors on stderr with exit status 2.

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace CommandLine {

constexpr int ExitUsage = 2;
constexpr int Continue = -1;

// Names the tool (the prefix of its messages) and gives the parser its
// description and, first in the list, the help options.
inline void describe(QCommandLineParser& args, const char* toolName, const QString& description)
{
    QCoreApplication::setApplicationName(QString::fromLatin1(toolName));
    args.setApplicationDescription(description);
    args.addHelpOption();
}

inline int usageError(const QCommandLineParser& args, const QString& message)
{
    std::fprintf(stderr, "%s: %s\n\n%s", qPrintable(QCoreApplication::applicationName()), qPrintable(message),
                 qPrintable(args.helpText()));
    return ExitUsage;
}

// Parses the options of this process; returns the exit status when the tool
// should stop now (help shown, usage error), else Continue.
inline int parse(QCommandLineParser& args)
{
    if (!args.parse(QCoreApplication::arguments()))
        return usageError(args, args.errorText());
    if (args.isSet("help-all"))
        args.process(QCoreApplication::arguments()); // shows the help with Qt's own options and exits
    if (args.isSet("help")) {
        std::fputs(qPrintable(args.helpText()), stdout);
        return 0;
    }
    return Continue;
}

// As above, for a tool that takes exactly positionalCount FILE arguments.
inline int parse(QCommandLineParser& args, int positionalCount)
{
    const int status = parse(args);
    if (status == Continue && args.positionalArguments().size() != positionalCount)
        return usageError(args, QStringLiteral("exactly %1 FILE argument is needed").arg(positionalCount));
    return status;
}

} // namespace CommandLine
