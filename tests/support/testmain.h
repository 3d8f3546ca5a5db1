#pragma once

#include <QApplication>
#include <QtTest>

#include "privatenetwork.h"

// QTEST_MAIN for this project: the test first moves into its own network namespace and picks the offscreen
// platform, then runs like any QtTest program.
#define MOVANTA_TEST_MAIN(TestObject)                                                                                  \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        MovantaTest::enterPrivateNetwork();                                                                            \
        MovantaTest::useOffscreenPlatform();                                                                           \
        QApplication app(argc, argv);                                                                                  \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                                       \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
