// Graphs: waveform plots with their min/max summary, axes, custom labels, cursors, zoom.
#include "ui_test_util.h"
#include "waveform_summary.h"

#include <QTest>

#include <cmath>
#include <random>

namespace {

TEST(WaveformSummary, MinMaxOfAnyRangeMatchesAScan) {
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 1);
    std::vector<float> v(100003);
    for (auto &x : v) x = float(noise(rng));
    v[5000] = NAN;   // NaN values are ignored
    tarq_ui::WaveformSummary s;
    ASSERT_TRUE(s.assign(v.data(), v.size(), VAL_FLOAT, 2.0, 1.0));
    EXPECT_EQ(s.size(), v.size());
    EXPECT_DOUBLE_EQ(s.value(10), double(v[10]) * 2.0 + 1.0);
    std::uniform_int_distribution<size_t> pick(0, v.size());
    for (int k = 0; k < 300; k++) {
        size_t a = pick(rng), b = pick(rng);
        if (a > b) std::swap(a, b);
        if (k == 0) a = 0, b = v.size();
        if (k == 1) a = 4999, b = 5002;
        double mn = INFINITY, mx = -INFINITY;
        for (size_t i = a; i < b; i++) {
            double x = double(v[i]) * 2.0 + 1.0;
            if (x < mn) mn = x;
            if (x > mx) mx = x;
        }
        double gotMin = 0, gotMax = 0;
        bool any = s.minMax(a, b, &gotMin, &gotMax);
        EXPECT_EQ(any, mn <= mx) << a << ".." << b;
        if (any) {
            EXPECT_EQ(gotMin, mn) << a << ".." << b;
            EXPECT_EQ(gotMax, mx) << a << ".." << b;
        }
    }
    EXPECT_FALSE(s.minMax(10, 10, nullptr, nullptr));
    EXPECT_FALSE(s.minMax(v.size(), v.size() + 5, nullptr, nullptr));
    // Memory: the values once plus a small summary.
    EXPECT_LE(double(s.bytes()) / double(s.size()), 9.0);
    EXPECT_FALSE(s.assign(v.data(), v.size(), 999, 1, 0));
    EXPECT_FALSE(s.assign(nullptr, 5, VAL_DOUBLE, 1, 0));
}

class GraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        Recorder::reset();
        panel = LoadPanel(0, samplePath().c_str(), "SAMPLE");
        ASSERT_GT(panel, 0);
        graph = GetCtrlId(panel, "GRAPH");
        DisplayPanel(panel);
        InstallCtrlCallback(panel, graph, Recorder::callback, nullptr);
        SetAxisRange(panel, graph, VAL_MANUAL, 0.0, 100.0, VAL_MANUAL, -2.0, 2.0);
        RefreshGraph(panel, graph);
        widget = GetCtrlWidget(panel, graph);
    }
    void TearDown() override { DiscardPanel(panel); }
    // Widget pixel of graph coordinates.
    QPoint pixel(double x, double y) {
        Point p{};
        GetGraphPointFromCoords(panel, graph, x, y, &p);
        return widget->mapFrom(GetPanelWidget(panel), QPoint(p.x, p.y));
    }
    int panel = 0, graph = 0;
    QWidget *widget = nullptr;
};

TEST_F(GraphTest, WaveformPlotsAndTheirDeletion) {
    std::vector<double> y(1000);
    for (size_t i = 0; i < y.size(); i++) y[i] = std::sin(double(i) / 50.0);
    int plot = PlotWaveform(panel, graph, y.data(), y.size(), VAL_DOUBLE, 1.0, 0.0, 0.0, 0.1,
                            VAL_THIN_LINE, VAL_EMPTY_SQUARE, VAL_SOLID, 1, 0xE7E809);
    ASSERT_GT(plot, 0);
    int n = 0, color = 0;
    GetPlotAttribute(panel, graph, plot, ATTR_NUM_POINTS, &n);
    GetPlotAttribute(panel, graph, plot, ATTR_TRACE_COLOR, &color);
    EXPECT_EQ(n, 1000);
    EXPECT_EQ(color, 0xE7E809);
    int second = PlotWaveform(panel, graph, y.data(), 10, VAL_DOUBLE, 2.0, 1.0, 0.0, 1.0,
                              VAL_FAT_LINE, VAL_EMPTY_SQUARE, VAL_SOLID, 1, 0x33EE33);
    EXPECT_GT(second, plot);
    EXPECT_EQ(DeleteGraphPlot(panel, graph, plot, VAL_IMMEDIATE_DRAW), 0);
    EXPECT_EQ(DeleteGraphPlot(panel, graph, plot, VAL_IMMEDIATE_DRAW), UI_ERR_BAD_PLOT);
    EXPECT_EQ(DeleteGraphPlot(panel, graph, -1, VAL_DELAYED_DRAW), 0);
    EXPECT_EQ(GetPlotAttribute(panel, graph, second, ATTR_NUM_POINTS, &n), UI_ERR_BAD_PLOT);
    EXPECT_EQ(PlotWaveform(panel, graph, y.data(), 10, VAL_DOUBLE, 1, 0, 0, 0.0, 0, 0, 0, 1, 0), UI_ERR_BAD_VALUE);
    EXPECT_EQ(PlotWaveform(panel, graph, nullptr, 10, VAL_DOUBLE, 1, 0, 0, 1.0, 0, 0, 0, 1, 0), UI_ERR_BAD_VALUE);
    EXPECT_EQ(PlotWaveform(panel, graph, y.data(), 10, 77, 1, 0, 0, 1.0, 0, 0, 0, 1, 0), UI_ERR_BAD_VALUE);
    EXPECT_GT(PlotWaveform(panel, graph, y.data(), 0, VAL_DOUBLE, 1, 0, 0, 1.0, 0, 0, 0, 1, 0), 0);
    int notGraph = GetCtrlId(panel, "NUM");
    EXPECT_EQ(PlotWaveform(panel, notGraph, y.data(), 10, VAL_DOUBLE, 1, 0, 0, 1, 0, 0, 0, 1, 0), UI_ERR_BAD_CONTROL);
}

TEST_F(GraphTest, AxisRangesAutoscaleTitlesAndCustomLabels) {
    double x0, x1, y0, y1;
    int xm, ym;
    GetAxisRange(panel, graph, &xm, &x0, &x1, &ym, &y0, &y1);
    EXPECT_EQ(xm, VAL_MANUAL);
    EXPECT_DOUBLE_EQ(x0, 0.0);
    EXPECT_DOUBLE_EQ(x1, 100.0);
    EXPECT_EQ(SetAxisRange(panel, graph, VAL_MANUAL, 5, 1, VAL_NO_CHANGE, 0, 0), UI_ERR_BAD_VALUE);
    double xs[] = {1, 2, 3}, ys[] = {-5, 7, 1};
    PlotXY(panel, graph, xs, ys, 3, VAL_DOUBLE, VAL_DOUBLE, VAL_CONNECTED_POINTS, VAL_SOLID_CIRCLE, VAL_SOLID, 1, VAL_BLUE);
    SetAxisScalingMode(panel, graph, VAL_LEFT_YAXIS, VAL_AUTOSCALE, 0, 0);
    GetAxisScalingMode(panel, graph, VAL_LEFT_YAXIS, &ym, &y0, &y1);
    EXPECT_EQ(ym, VAL_AUTOSCALE);
    EXPECT_DOUBLE_EQ(y0, -5);
    EXPECT_DOUBLE_EQ(y1, 7);
    SetCtrlAttribute(panel, graph, ATTR_XNAME, "Время, ");
    std::string name;
    GetCtrlAttribute(panel, graph, ATTR_XNAME, &name);
    EXPECT_EQ(name, "Время, ");
    // Four labels created once, then replaced in place.
    const char *texts[] = {"0", "0", "50.000E+0", "100.000E+0"};
    const double at[] = {0, 0, 50, 100};
    for (int k = 0; k < 4; k++) InsertAxisItem(panel, graph, VAL_XAXIS, -1, texts[k], at[k]);
    int count = 0;
    GetNumAxisItems(panel, graph, VAL_XAXIS, &count);
    EXPECT_EQ(count, 4);
    for (int k = 0; k < 4; k++) ReplaceAxisItem(panel, graph, VAL_XAXIS, k, "x", at[k] / 2);
    GetNumAxisItems(panel, graph, VAL_XAXIS, &count);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(ReplaceAxisItem(panel, graph, VAL_XAXIS, 4, "x", 1), UI_ERR_BAD_INDEX);
    DeleteAxisItem(panel, graph, VAL_XAXIS, 0, -1);
    GetNumAxisItems(panel, graph, VAL_XAXIS, &count);
    EXPECT_EQ(count, 0);
    RefreshGraph(panel, graph);
}

TEST_F(GraphTest, CursorsAttachToPlotIndicesAndAreDraggedWithEvents) {
    std::vector<double> y(101);
    for (size_t i = 0; i < y.size(); i++) y[i] = double(i) / 100.0;
    int plot = PlotWaveform(panel, graph, y.data(), y.size(), VAL_DOUBLE, 1.0, 0.0, 0.0, 1.0,
                            VAL_THIN_LINE, VAL_EMPTY_SQUARE, VAL_SOLID, 1, VAL_RED);
    int n = 0;
    GetCtrlAttribute(panel, graph, ATTR_NUM_CURSORS, &n);
    EXPECT_EQ(n, 3);
    // attach cursor 2 to index 40: it reads the kept value
    EXPECT_EQ(SetGraphCursorIndex(panel, graph, 2, plot, 40), 0);
    double x, yy;
    GetGraphCursor(panel, graph, 2, &x, &yy);
    EXPECT_DOUBLE_EQ(x, 40.0);
    EXPECT_DOUBLE_EQ(yy, 0.40);
    int p = 0, index = 0;
    GetGraphCursorIndex(panel, graph, 2, &p, &index);
    EXPECT_EQ(p, plot);
    EXPECT_EQ(index, 40);
    EXPECT_EQ(SetGraphCursorIndex(panel, graph, 2, plot, 101), UI_ERR_BAD_INDEX);
    EXPECT_EQ(SetGraphCursorIndex(panel, graph, 4, plot, 1), UI_ERR_BAD_INDEX);

    // Cursor 1: free, black, long cross at (20, 0); dragged to x = 60.
    SetCursorAttribute(panel, graph, 1, ATTR_CURSOR_MODE, VAL_FREE_FORM);
    SetCursorAttribute(panel, graph, 1, ATTR_CURSOR_COLOR, VAL_BLACK);
    SetCursorAttribute(panel, graph, 3, ATTR_CURSOR_COLOR, VAL_TRANSPARENT);
    SetCursorAttribute(panel, graph, 2, ATTR_CURSOR_MODE, VAL_LOCKED);
    SetGraphCursor(panel, graph, 1, 20.0, 0.0);
    SetGraphCursor(panel, graph, 3, 80.0, 1.0);
    RefreshGraph(panel, graph);
    Recorder::reset();
    QTest::mousePress(widget, Qt::LeftButton, {}, pixel(20.0, 1.0));
    QTest::mouseMove(widget, pixel(40.0, 1.0));
    QTest::mouseMove(widget, pixel(60.0, 1.0));
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pixel(60.0, 1.0));
    std::vector<int> k = Recorder::kinds();
    ASSERT_GE(k.size(), 4u);
    EXPECT_EQ(k.front(), EVENT_LEFT_CLICK);
    EXPECT_EQ(k.back(), EVENT_COMMIT);
    EXPECT_GE(std::count(k.begin(), k.end(), EVENT_VAL_CHANGED), 2);
    int active = 0;
    GetActiveGraphCursor(panel, graph, &active);
    EXPECT_EQ(active, 1);
    GetGraphCursor(panel, graph, 1, &x, &yy);
    EXPECT_NEAR(x, 60.0, 0.5);

    // Locked (cursor 2) and transparent (cursor 3) cursors do not move; a swallowed click
    // keeps the active cursor where it is.
    SetActiveGraphCursor(panel, graph, 2);
    QTest::mousePress(widget, Qt::LeftButton, {}, pixel(40.0, 0.4));
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pixel(45.0, 0.4));
    QTest::mousePress(widget, Qt::LeftButton, {}, pixel(80.0, 1.5));
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pixel(85.0, 1.5));
    GetGraphCursor(panel, graph, 2, &x, &yy);
    EXPECT_DOUBLE_EQ(x, 40.0);
    GetGraphCursor(panel, graph, 3, &x, &yy);
    EXPECT_DOUBLE_EQ(x, 80.0);
    Recorder::swallow = {EVENT_LEFT_CLICK};
    SetActiveGraphCursor(panel, graph, 1);
    QTest::mousePress(widget, Qt::LeftButton, {}, pixel(60.0, 1.0));
    QTest::mouseMove(widget, pixel(70.0, 1.0));
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pixel(70.0, 1.0));
    GetGraphCursor(panel, graph, 1, &x, &yy);
    EXPECT_NEAR(x, 60.0, 0.5);

    // Snap to point: dragging follows the plot's samples.
    Recorder::swallow.clear();
    SetCursorAttribute(panel, graph, 1, ATTR_CURSOR_MODE, VAL_SNAP_TO_POINT);
    QTest::mousePress(widget, Qt::LeftButton, {}, pixel(60.0, 1.0));
    QTest::mouseMove(widget, pixel(30.2, -1.0));
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pixel(30.2, -1.0));
    GetGraphCursor(panel, graph, 1, &x, &yy);
    EXPECT_DOUBLE_EQ(x, 30.0);
    EXPECT_DOUBLE_EQ(yy, 0.30);
    GetGraphCursorIndex(panel, graph, 1, &p, &index);
    EXPECT_EQ(index, 30);

    int style = -1, color = -1;
    SetCursorAttribute(panel, graph, 3, ATTR_CROSS_HAIR_STYLE, VAL_VERTICAL_LINE);
    GetCursorAttribute(panel, graph, 3, ATTR_CROSS_HAIR_STYLE, &style);
    GetCursorAttribute(panel, graph, 3, ATTR_CURSOR_COLOR, &color);
    EXPECT_EQ(style, VAL_VERTICAL_LINE);
    EXPECT_EQ(color, VAL_TRANSPARENT);
    EXPECT_EQ(SetCursorAttribute(panel, graph, 3, ATTR_CROSS_HAIR_STYLE, 9), UI_ERR_BAD_VALUE);
}

TEST_F(GraphTest, PixelConversionMouseStateAndOwnZoom) {
    Point p{};
    GetGraphPointFromCoords(panel, graph, 25.0, 1.0, &p);
    double x = 0, y = 0;
    GetGraphCoordsFromPoint(panel, graph, p, &x, &y);
    EXPECT_NEAR(x, 25.0, 0.2);
    EXPECT_NEAR(y, 1.0, 0.02);

    SimulateMouseState(1, 1, 0, VAL_MENUKEY_MODIFIER | VAL_SHIFT_MODIFIER);
    int left = 0, right = 1, mods = 0;
    GetRelativeMouseState(panel, graph, nullptr, nullptr, &left, &right, &mods);
    EXPECT_EQ(left, 1);
    EXPECT_EQ(right, 0);
    EXPECT_EQ(mods, VAL_MENUKEY_MODIFIER | VAL_SHIFT_MODIFIER);
    SimulateMouseState(0, 0, 0, 0);

    // The graph's own zoom, switched on for x only, changes x and raises the zoom event.
    SetCtrlAttribute(panel, graph, ATTR_ZOOM_X, 1);
    Recorder::reset();
    QPoint centre = pixel(50.0, 0.0);
    QWheelEvent wheel(centre, widget->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
    double x0, x1, y0, y1;
    GetAxisRange(panel, graph, nullptr, &x0, &x1, nullptr, &y0, &y1);
    EXPECT_LT(x1 - x0, 100.0);
    EXPECT_DOUBLE_EQ(y0, -2.0);
    EXPECT_DOUBLE_EQ(y1, 2.0);
    std::vector<int> k = Recorder::kinds();
    EXPECT_EQ(k, (std::vector<int>{EVENT_MOUSE_WHEEL, EVENT_ZOOM}));
    // A callback that swallows the wheel keeps the graph from zooming.
    Recorder::swallow = {EVENT_MOUSE_WHEEL};
    GetAxisRange(panel, graph, nullptr, &x0, &x1, nullptr, nullptr, nullptr);
    QWheelEvent again(centre, widget->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    again.setTimestamp(wheel.timestamp() + 10);
    QApplication::sendEvent(widget, &again);
    double x2, x3;
    GetAxisRange(panel, graph, nullptr, &x2, &x3, nullptr, nullptr, nullptr);
    EXPECT_DOUBLE_EQ(x2, x0);
    EXPECT_DOUBLE_EQ(x3, x1);
}

TEST_F(GraphTest, LargeWaveformIsHandedOverAsAnEnvelope) {
    // 4M samples, viewed whole and then zoomed to 200 samples: both draw fast and the cursor
    // still reads exact values.
    std::vector<float> y(4u << 20);
    for (size_t i = 0; i < y.size(); i++) y[i] = float(i % 1000) / 1000.0f;
    int plot = PlotWaveform(panel, graph, y.data(), y.size(), VAL_FLOAT, 1.0, 0.0, 0.0, 1.0,
                            VAL_THIN_LINE, VAL_EMPTY_SQUARE, VAL_SOLID, 1, VAL_BLUE);
    ASSERT_GT(plot, 0);
    SetAxisRange(panel, graph, VAL_MANUAL, 0.0, double(y.size()), VAL_MANUAL, -0.5, 1.5);
    EXPECT_EQ(RefreshGraph(panel, graph), 0);
    SetAxisRange(panel, graph, VAL_MANUAL, 1000.0, 1200.0, VAL_NO_CHANGE, 0, 0);
    EXPECT_EQ(RefreshGraph(panel, graph), 0);
    SetGraphCursorIndex(panel, graph, 1, plot, 1999999);
    double x, v;
    GetGraphCursor(panel, graph, 1, &x, &v);
    EXPECT_DOUBLE_EQ(v, double(float(1999999 % 1000) / 1000.0f));
}

}  // namespace
