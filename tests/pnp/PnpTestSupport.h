#pragma once
// Helpers for the discovery tests: they send UDP multicast, so they run only
// inside the private network namespace of scripts/netns-run (loopback plus
// the veth pair v0 10.77.0.1 / v1 10.77.0.2).
#include "tests/WaitUntil.h"

#include <QCoreApplication>
#include <QDir>
#include <QNetworkInterface>
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

inline bool insidePrivateNetwork()
{
    return qgetenv("RAVEL_NETNS_INSIDE") == "1" && QNetworkInterface::interfaceFromName("v0").isValid()
           && QNetworkInterface::interfaceFromName("v1").isValid();
}

#define REQUIRE_PRIVATE_NETWORK()                                                                                      \
    if (!insidePrivateNetwork())                                                                                       \
    GTEST_SKIP() << "sends multicast: run inside scripts/netns-run"

inline bool inOwnNamespace()
{
    return qgetenv("RAVEL_PNP_CHILD") == "1";
}

// For tests that change interfaces and routes or flood the group: they run
// only as the child of runInOwnNamespace, where nothing else is disturbed.
#define REQUIRE_OWN_NAMESPACE()                                                                                        \
    if (!inOwnNamespace())                                                                                             \
    GTEST_SKIP() << "runs in a network namespace of its own"

// Runs the tests of this executable that match filter once more, in a fresh
// network namespace made by command (default: scripts/netns-run, the usual
// veth pair). Lines the child prints starting with "measured:" are passed on.
inline void runInOwnNamespace(const QString& filter, QStringList command = {})
{
    REQUIRE_PRIVATE_NETWORK();
    if (command.isEmpty()) {
        const QString sourceDir = qEnvironmentVariable("RAVEL_SOURCE_DIR");
        if (sourceDir.isEmpty())
            GTEST_SKIP() << "RAVEL_SOURCE_DIR (set by ctest) names the scripts";
        command << sourceDir + "/scripts/netns-run";
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("RAVEL_PNP_CHILD", "1");
    env.remove("RAVEL_NETNS_INSIDE");
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    command << QCoreApplication::applicationFilePath() << "--gtest_filter=" + filter;
    child.start(command.takeFirst(), command);
    ASSERT_TRUE(child.waitForFinished(120000));
    const QByteArray output = child.readAll();
    if (child.exitCode() != 0 && (output.contains("unshare") || output.contains("netns-run:")))
        GTEST_SKIP() << "cannot create a nested network namespace: " << output.constData();
    for (const QByteArray& line : output.split('\n'))
        if (line.startsWith("measured:"))
            std::printf("%s\n", line.constData());
    EXPECT_TRUE(child.exitCode() == 0 && output.contains("[  PASSED  ]") && !output.contains("[  SKIPPED ]"))
        << output.constData();
}

// Runs `ip` with the arguments; true when it succeeds.
inline bool ip(const QStringList& arguments)
{
    return QProcess::execute("ip", arguments) == 0;
}

// Live threads of this process whose system name starts with prefix.
inline int threadsNamed(const QByteArray& prefix)
{
    int count = 0;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name("/proc/self/task/" + task + "/comm");
        if (name.open(QIODevice::ReadOnly) && name.readAll().startsWith(prefix))
            ++count;
    }
    return count;
}

// Whether the count of threads named so comes to expected within a second,
// checked without running the event loop (which could still finish what the
// code under test left undone).
inline bool threadsNamedComeTo(const QByteArray& prefix, int expected)
{
    for (int i = 0; i < 100; ++i) {
        if (threadsNamed(prefix) == expected)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}
