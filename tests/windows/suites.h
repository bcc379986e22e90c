#pragma once
// Many QtTest suites in one Windows test program: a statically linked Qt
// makes every executable large and slow to link, so the suites share one.
// This header is included before each suite's source; it replaces QtTest's
// main() macros by a registration under the suite's class name, and the
// program's main() runs the suite named by its first argument.

#include <QtTest>

using SuiteMain = int (*)(int argc, char **argv);

struct SuiteRegistration {
    SuiteRegistration(const char *name, SuiteMain run);
};

#undef QTEST_MAIN
#undef QTEST_GUILESS_MAIN
#undef QTEST_APPLESS_MAIN

#define STADIOLINK_SUITE(TestObject, Application)                                                 \
    static int TestObject##_run(int argc, char **argv)                                            \
    {                                                                                              \
        Application app(argc, argv);                                                               \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }                                                                                              \
    static const SuiteRegistration TestObject##_registration(#TestObject, TestObject##_run);

#define QTEST_MAIN(TestObject) STADIOLINK_SUITE(TestObject, QApplication)
#define QTEST_GUILESS_MAIN(TestObject) STADIOLINK_SUITE(TestObject, QCoreApplication)
