#include "ui_test_util.h"

#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>

void pumpFor(int milliseconds) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < milliseconds) {
        ProcessSystemEvents();
        QThread::msleep(2);
    }
}

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // A locale other than "C" for numbers, as a user's would be; the toolkit must undo it.
    unsetenv("LC_ALL");
    setenv("LC_NUMERIC", "C.UTF-8", 1);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
