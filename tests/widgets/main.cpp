#include "widgetstests.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int failures = 0;
    failures += runSliderTests(argc, argv);
    failures += runDialogFindTests(argc, argv);
    failures += runDialogAboutTests(argc, argv);
    failures += runTrendTests(argc, argv);
    return failures;
}
