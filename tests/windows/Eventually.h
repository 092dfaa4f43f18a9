// Waiting in window tests for what the event loop brings about. QtTest's
// QTRY_ macros report to QtTest, which GoogleTest never hears of: a window
// test that used them passed whatever happened. These report to GoogleTest.
#pragma once

#include <gtest/gtest.h>

#include <QTest>

// Lets events run until condition holds, at most milliseconds; the test
// fails and returns when it never does.
#define ASSERT_SOON_WITHIN(condition, milliseconds)                                                                    \
    ASSERT_TRUE(QTest::qWaitFor([&] { return static_cast<bool>(condition); }, milliseconds))                          \
        << "still false after " << (milliseconds) << " ms: " #condition

#define ASSERT_SOON(condition) ASSERT_SOON_WITHIN(condition, 5000)
