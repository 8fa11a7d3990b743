#pragma once
// Waiting for what other threads and the event loop bring about, for
// GoogleTest. (QtTest's QTRY_ macros report to QtTest, which does not run
// here: a failed one would just end the test as passed.)

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

// Runs the event loop until the condition holds or the timeout passes.
template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 15000)
{
    QElapsedTimer clock;
    for (clock.start(); !condition(); QTest::qWait(5))
        if (clock.elapsed() > timeoutMs)
            return false;
    return true;
}

// Fails the test unless the condition comes true within the timeout.
#define ASSERT_EVENTUALLY(condition, timeoutMs)                                                                        \
    ASSERT_TRUE(waitUntil([&] { return bool(condition); }, timeoutMs)) << "never came true: " #condition

// Fails the test unless actual comes to equal expected within the timeout,
// showing both as the last comparison saw them.
#define ASSERT_EVENTUALLY_EQ(actual, expected, timeoutMs)                                                              \
    do {                                                                                                               \
        waitUntil([&] { return (actual) == (expected); }, timeoutMs);                                                  \
        ASSERT_EQ(actual, expected);                                                                                   \
    } while (false)
