#pragma once
// One of the project's command-line tools, as built, run to its end.

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

// Runs build/tools/<tool>; returns its standard output and checks its exit code.
inline QByteArray runTool(const QString& tool, const QStringList& arguments, int expectedExitCode = 0,
                          const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process; // killed when it outlives the wait
    process.setProcessEnvironment(environment);
    process.start(qEnvironmentVariable("RAVEL_BINARY_DIR") + "/tools/" + tool, arguments);
    EXPECT_TRUE(process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), expectedExitCode) << arguments.join(' ').toStdString();
    return process.readAllStandardOutput();
}
