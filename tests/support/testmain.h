#pragma once

// Engine tests link the core library only and get a core application; the rest get the one their Qt
// modules allow.
#if defined(QT_WIDGETS_LIB)
#include <QApplication>
#elif defined(QT_GUI_LIB)
#include <QGuiApplication>
#else
#include <QCoreApplication>
#endif
#include <QtTest>

#include "privatenetwork.h"

#ifdef QT_WIDGETS_LIB
#define MOVANTA_TEST_APPLICATION(app)                                                                                  \
    QApplication app(argc, argv);                                                                                      \
    app.setAttribute(Qt::AA_Use96Dpi, true);
#elif defined(QT_GUI_LIB)
#define MOVANTA_TEST_APPLICATION(app) QGuiApplication app(argc, argv);
#else
#define MOVANTA_TEST_APPLICATION(app) QCoreApplication app(argc, argv);
#endif

// QTEST_MAIN for this project: the test first moves into its own network namespace and picks the offscreen
// platform, then runs like any QtTest program.
#define MOVANTA_TEST_MAIN(TestObject)                                                                                  \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        MovantaTest::enterPrivateNetwork();                                                                            \
        MovantaTest::useOffscreenPlatform();                                                                           \
        MOVANTA_TEST_APPLICATION(app)                                                                                  \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
