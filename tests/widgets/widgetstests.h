#pragma once

#include <QtTest>

// Each test class of the widgets executable runs through one of these.
int runSliderTests(int argc, char** argv);
int runDialogFindTests(int argc, char** argv);
int runDialogAboutTests(int argc, char** argv);
int runTrendTests(int argc, char** argv);

#define WIDGETS_TEST_RUNNER(function, Class) \
    int function(int argc, char** argv) \
    { \
        Class test; \
        return QTest::qExec(&test, argc, argv); \
    }
