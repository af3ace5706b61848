// A program without a Qt application: the toolkit creates one on its first call and keeps
// numbers in the C locale.
#include "tarq_ui.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

TEST(NoApplication, FirstCallCreatesTheApplication) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    int panel = NewPanel(0, "Без приложения", 10, 10, 100, 200);
    ASSERT_GT(panel, 0);
    EXPECT_NE(QCoreApplication::instance(), nullptr);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    int c = NewCtrl(panel, CTRL_NUMERIC, "N", 20, 10);
    EXPECT_EQ(SetCtrlVal(panel, c, 2.5), 0);
    double v = 0;
    GetCtrlVal(panel, c, &v);
    EXPECT_EQ(v, 2.5);
    EXPECT_EQ(DiscardPanel(panel), 0);
}

int main(int argc, char **argv) {
    // No application is made here; only the platform is chosen, as tests must.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
