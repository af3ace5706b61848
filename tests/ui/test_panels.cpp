// Panels and controls of a sample panel, driven through the real widgets.
#include "ui_test_util.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <QTreeWidget>
#include <QWindowStateChangeEvent>

namespace {

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        Recorder::reset();
        panel = LoadPanel(0, samplePath().c_str(), "SAMPLE");
        ASSERT_GT(panel, 0);
    }
    void TearDown() override {
        DiscardPanel(panel);
        ProcessSystemEvents();
    }
    int id(const char *name) {
        int c = GetCtrlId(panel, name);
        EXPECT_GT(c, 0) << name;
        return c;
    }
    int panel = 0;
};

TEST_F(PanelTest, ResolvesConstantNamesInDocumentOrder) {
    EXPECT_EQ(GetCtrlId(panel, "NUM"), 2);
    EXPECT_EQ(GetCtrlId(panel, "INUM"), 3);
    EXPECT_EQ(GetCtrlId(panel, "RING"), 4);
    EXPECT_EQ(GetCtrlId(panel, "FIXED"), 40);   // fixed by the resource
    EXPECT_EQ(GetCtrlId(panel, "NOPE"), UI_ERR_BAD_CONTROL);
    std::string name;
    EXPECT_EQ(GetCtrlAttribute(panel, id("GRAPH"), ATTR_CONSTANT_NAME, &name), 0);
    EXPECT_EQ(name, "GRAPH");
    EXPECT_EQ(GetPanelAttribute(panel, ATTR_CONSTANT_NAME, &name), 0);
    EXPECT_EQ(name, "SAMPLE");
    EXPECT_EQ(GetPanelAttribute(panel, ATTR_TITLE, &name), 0);
    EXPECT_EQ(name, "Образец панели");
    int style = 0;
    const std::pair<const char *, int> kinds[] = {
        {"NUM", CTRL_NUMERIC}, {"RING", CTRL_RING}, {"TOGGLE", CTRL_TOGGLE_BUTTON},
        {"CMD", CTRL_COMMAND_BUTTON}, {"CHECK", CTRL_CHECK_BOX}, {"STR", CTRL_STRING},
        {"MSG", CTRL_TEXT_MSG}, {"LOG", CTRL_TEXT_BOX}, {"TABLE", CTRL_TABLE},
        {"TREE", CTRL_TREE}, {"LIST", CTRL_LIST_BOX}, {"GRAPH", CTRL_GRAPH},
        {"TIMER", CTRL_TIMER}, {"SPLT", CTRL_SPLITTER}, {"PIC", CTRL_PICTURE}};
    for (auto [n, k] : kinds) {
        EXPECT_EQ(GetCtrlAttribute(panel, id(n), ATTR_CTRL_STYLE, &style), 0);
        EXPECT_EQ(style, k) << n;
    }
}

TEST(PanelLoad, BadResourcesAndHandlesGiveStatuses) {
    EXPECT_EQ(LoadPanel(0, samplePath().c_str(), "MISSING"), UI_ERR_RESOURCE);
    EXPECT_EQ(LoadPanel(0, "/nonexistent/dir/x.ui", "SAMPLE"), UI_ERR_RESOURCE);
    EXPECT_EQ(LoadPanel(0, samplePath("sample.lwl").c_str(), "SAMPLE"), UI_ERR_RESOURCE);
    EXPECT_EQ(LoadPanel(0, nullptr, "SAMPLE"), UI_ERR_RESOURCE);
    const std::string broken = scratchPath("BROKEN.ui");
    FILE *f = std::fopen(broken.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("<ui version=\"4.0\"><widget class=\"QWidget\" name=\"BROKEN\"><widget class=", f);
    std::fclose(f);
    EXPECT_EQ(LoadPanel(0, broken.c_str(), "BROKEN"), UI_ERR_RESOURCE);
    EXPECT_EQ(LoadPanel(12345, samplePath().c_str(), "SMALL"), UI_ERR_BAD_PANEL);
    EXPECT_EQ(DisplayPanel(-3), UI_ERR_BAD_PANEL);
    EXPECT_EQ(SetCtrlVal(987654, 2, 1), UI_ERR_BAD_PANEL);
    int p = NewPanel(0, "x", 10, 10, 100, 100);
    EXPECT_EQ(SetCtrlVal(p, 99, 1), UI_ERR_BAD_CONTROL);
    EXPECT_EQ(GetCtrlVal(p, 99, static_cast<int *>(nullptr)), UI_ERR_BAD_CONTROL);
    EXPECT_EQ(DiscardPanel(p), 0);
    EXPECT_EQ(DiscardPanel(p), UI_ERR_BAD_PANEL);
}

TEST_F(PanelTest, ControlValuesRoundTrip) {
    double d = 0;
    int i = 0;
    std::string s;
    // numeric: limits coerce, precision kept
    EXPECT_EQ(SetCtrlVal(panel, id("NUM"), 3.25), 0);
    EXPECT_EQ(GetCtrlVal(panel, id("NUM"), &d), 0);
    EXPECT_DOUBLE_EQ(d, 3.25);
    SetCtrlVal(panel, id("NUM"), 25.0);
    GetCtrlVal(panel, id("NUM"), &d);
    EXPECT_DOUBLE_EQ(d, 10.0);
    SetCtrlAttribute(panel, id("NUM"), ATTR_MAX_VALUE, 100.0);
    SetCtrlVal(panel, id("NUM"), 25.0);
    GetCtrlVal(panel, id("NUM"), &d);
    EXPECT_DOUBLE_EQ(d, 25.0);
    EXPECT_EQ(SetCtrlVal(panel, id("INUM"), 17), 0);
    EXPECT_EQ(GetCtrlVal(panel, id("INUM"), &i), 0);
    EXPECT_EQ(i, 17);
    int dataType = 0;
    GetCtrlAttribute(panel, id("INUM"), ATTR_DATA_TYPE, &dataType);
    EXPECT_EQ(dataType, VAL_INTEGER);
    // ring: by value, by label, unknown value refused
    EXPECT_EQ(SetCtrlVal(panel, id("RING"), 2.5), 0);
    GetCtrlIndex(panel, id("RING"), &i);
    EXPECT_EQ(i, 1);
    GetCtrlVal(panel, id("RING"), &s);
    EXPECT_EQ(s, "Два");
    EXPECT_EQ(SetCtrlVal(panel, id("RING"), 7.0), UI_ERR_BAD_VALUE);
    EXPECT_EQ(SetCtrlVal(panel, id("RING"), "Три"), 0);
    GetCtrlVal(panel, id("RING"), &d);
    EXPECT_DOUBLE_EQ(d, 3.5);
    InsertListItem(panel, id("RING"), -1, "Четыре", 4.5);
    GetNumListItems(panel, id("RING"), &i);
    EXPECT_EQ(i, 4);
    GetValueFromIndex(panel, id("RING"), 3, &d);
    EXPECT_DOUBLE_EQ(d, 4.5);
    EXPECT_EQ(GetValueFromIndex(panel, id("RING"), 4, &d), UI_ERR_BAD_INDEX);
    // buttons and check box
    SetCtrlVal(panel, id("TOGGLE"), 1);
    GetCtrlVal(panel, id("TOGGLE"), &i);
    EXPECT_EQ(i, 1);
    SetCtrlVal(panel, id("CHECK"), 1);
    GetCtrlVal(panel, id("CHECK"), &i);
    EXPECT_EQ(i, 1);
    // string and text message (numbers in the C locale)
    SetCtrlVal(panel, id("STR"), "Генератор 1");
    GetCtrlVal(panel, id("STR"), &s);
    EXPECT_EQ(s, "Генератор 1");
    SetCtrlVal(panel, id("MSG"), 0.5);
    GetCtrlVal(panel, id("MSG"), &s);
    EXPECT_EQ(s, "0.5");
    // list box with values
    SetCtrlIndex(panel, id("LIST"), 1);
    GetCtrlVal(panel, id("LIST"), &i);
    EXPECT_EQ(i, 20);
    GetLabelFromIndex(panel, id("LIST"), 0, &s);
    EXPECT_EQ(s, "PXI0::1::INSTR");
    int marker = 0;
    ClearListCtrl(panel, id("LIST"));
    InsertListItem(panel, id("LIST"), -1, "p", static_cast<void *>(&marker));
    void *pv = nullptr;
    EXPECT_EQ(GetValueFromIndex(panel, id("LIST"), 0, &pv), 0);
    EXPECT_EQ(pv, &marker);
}

TEST_F(PanelTest, TextBoxLinesAndScrolling) {
    const int log = id("LOG");
    int n = -1;
    GetNumTextBoxLines(panel, log, &n);
    EXPECT_EQ(n, 0);
    for (int k = 0; k < 40; k++) InsertTextBoxLine(panel, log, -1, (">> строка " + std::to_string(k)).c_str());
    InsertTextBoxLine(panel, log, 0, "первая");
    GetNumTextBoxLines(panel, log, &n);
    EXPECT_EQ(n, 41);
    std::string line;
    GetTextBoxLine(panel, log, 0, &line);
    EXPECT_EQ(line, "первая");
    GetTextBoxLine(panel, log, 40, &line);
    EXPECT_EQ(line, ">> строка 39");
    DisplayPanel(panel);
    int visible = 0, first = -1;
    GetCtrlAttribute(panel, log, ATTR_VISIBLE_LINES, &visible);
    EXPECT_GT(visible, 0);
    EXPECT_LT(visible, 41);
    SetCtrlAttribute(panel, log, ATTR_FIRST_VISIBLE_LINE, n - visible);
    GetCtrlAttribute(panel, log, ATTR_FIRST_VISIBLE_LINE, &first);
    EXPECT_EQ(first, n - visible);
    ResetTextBox(panel, log, "");
    GetNumTextBoxLines(panel, log, &n);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(GetTextBoxLine(panel, log, 0, &line), UI_ERR_BAD_INDEX);
}

TEST_F(PanelTest, AttributesReachTheWidgets) {
    const int num = id("NUM"), cmd = id("CMD");
    QWidget *w = GetCtrlWidget(panel, num);
    ASSERT_NE(w, nullptr);
    SetCtrlAttribute(panel, num, ATTR_TOP, 300);
    SetCtrlAttribute(panel, num, ATTR_LEFT, 20);
    SetCtrlAttribute(panel, num, ATTR_WIDTH, 150);
    EXPECT_EQ(w->geometry(), QRect(20, 300, 150, 24));
    int v = 0;
    GetCtrlAttribute(panel, num, ATTR_WIDTH, &v);
    EXPECT_EQ(v, 150);
    SetCtrlAttribute(panel, num, ATTR_DIMMED, 1);
    EXPECT_FALSE(w->isEnabled());
    SetCtrlAttribute(panel, num, ATTR_VISIBLE, 0);
    EXPECT_TRUE(w->isHidden());
    GetCtrlAttribute(panel, num, ATTR_VISIBLE, &v);
    EXPECT_EQ(v, 0);
    std::string s;
    GetCtrlAttribute(panel, num, ATTR_LABEL_TEXT, &s);
    EXPECT_EQ(s, "УСИЛЕНИЕ,дБ");
    SetCtrlAttribute(panel, num, ATTR_LABEL_TEXT, "R,Ом");
    SetCtrlAttribute(panel, num, ATTR_LABEL_POINT_SIZE, 7);
    SetCtrlAttribute(panel, num, ATTR_LABEL_FONT, "DejaVu Sans");
    GetCtrlAttribute(panel, num, ATTR_LABEL_TEXT, &s);
    EXPECT_EQ(s, "R,Ом");
    GetCtrlAttribute(panel, num, ATTR_LABEL_POINT_SIZE, &v);
    EXPECT_EQ(v, 7);
    // colours, limits, precision, callback data, tooltips
    SetCtrlAttribute(panel, cmd, ATTR_BACKCOLOR, 0x00FF00);
    GetCtrlAttribute(panel, cmd, ATTR_BACKCOLOR, &v);
    EXPECT_EQ(v, 0x00FF00);
    EXPECT_NE(GetCtrlWidget(panel, cmd)->styleSheet().indexOf("#00ff00"), -1);
    SetCtrlAttribute(panel, id("MSG"), ATTR_TEXT_COLOR, 0xE7E809);
    GetCtrlAttribute(panel, id("MSG"), ATTR_TEXT_COLOR, &v);
    EXPECT_EQ(v, 0xE7E809);
    double lo = 0, hi = 0;
    SetCtrlAttribute(panel, num, ATTR_MIN_VALUE, 62.5);
    SetCtrlAttribute(panel, num, ATTR_MAX_VALUE, 187.5);
    GetCtrlAttribute(panel, num, ATTR_MIN_VALUE, &lo);
    GetCtrlAttribute(panel, num, ATTR_MAX_VALUE, &hi);
    EXPECT_DOUBLE_EQ(lo, 62.5);
    EXPECT_DOUBLE_EQ(hi, 187.5);
    SetCtrlAttribute(panel, num, ATTR_PRECISION, 1);
    GetCtrlAttribute(panel, num, ATTR_PRECISION, &v);
    EXPECT_EQ(v, 1);
    int record = 4169;
    SetCtrlAttribute(panel, cmd, ATTR_CALLBACK_DATA, static_cast<void *>(&record));
    void *data = nullptr;
    GetCtrlAttribute(panel, cmd, ATTR_CALLBACK_DATA, &data);
    EXPECT_EQ(data, &record);
    SetCtrlAttribute(panel, cmd, ATTR_TOOLTIP_TEXT, "Сброс панели");
    EXPECT_EQ(GetCtrlWidget(panel, cmd)->toolTip(), QString("Сброс панели"));
    EXPECT_EQ(SetCtrlAttribute(panel, cmd, ATTR_INTERVAL, 1.0), UI_ERR_BAD_ATTRIBUTE);
    // tab order
    SetCtrlAttribute(panel, cmd, ATTR_CTRL_TAB_POSITION, 0);
    GetCtrlAttribute(panel, cmd, ATTR_CTRL_TAB_POSITION, &v);
    EXPECT_EQ(v, 0);
    // active control
    DisplayPanel(panel);
    SetActiveCtrl(panel, id("STR"));
    EXPECT_EQ(GetActiveCtrl(panel), id("STR"));
}

TEST_F(PanelTest, EventsArriveInOrderAndSwallowingStopsTheDefault) {
    DisplayPanel(panel);
    const int toggle = id("TOGGLE");
    InstallCtrlCallback(panel, toggle, Recorder::callback, nullptr);
    auto *button = static_cast<QAbstractButton *>(GetCtrlWidget(panel, toggle));
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(10, 10));
    ProcessSystemEvents();
    EXPECT_EQ(Recorder::kinds(), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_LEFT_CLICK_UP,
                                                   EVENT_VAL_CHANGED, EVENT_COMMIT}));
    ASSERT_FALSE(Recorder::events.empty());
    // position in panel coordinates: the button sits at (340, 80)
    EXPECT_EQ(Recorder::events[0].data1, 90);
    EXPECT_EQ(Recorder::events[0].data2, 350);
    int state = 0;
    GetCtrlVal(panel, toggle, &state);
    EXPECT_EQ(state, 1);

    Recorder::reset();
    Recorder::swallow = {EVENT_LEFT_CLICK};
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(10, 10));
    ProcessSystemEvents();
    GetCtrlVal(panel, toggle, &state);
    EXPECT_EQ(state, 1);   // the press never reached the button
    for (int e : Recorder::kinds()) EXPECT_NE(e, EVENT_COMMIT);

    // The wheel maps onto the two direction codes; programmatic changes raise nothing.
    Recorder::reset();
    const int num = id("NUM");
    InstallCtrlCallback(panel, num, Recorder::callback, nullptr);
    SetCtrlVal(panel, num, 1.0);
    EXPECT_TRUE(Recorder::events.empty());
    QWidget *spin = GetCtrlWidget(panel, num);
    QWheelEvent up(QPointF(5, 5), spin->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(spin, &up);
    QWheelEvent down(QPointF(5, 5), spin->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                     Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    down.setTimestamp(up.timestamp() + 100);   // another user action
    Recorder::swallow = {EVENT_MOUSE_WHEEL};
    QApplication::sendEvent(spin, &down);
    ASSERT_GE(Recorder::events.size(), 2u);
    EXPECT_EQ(Recorder::events[0].event, EVENT_MOUSE_WHEEL);
    EXPECT_EQ(Recorder::events[0].data1, MOUSE_WHEEL_LARGER);
    EXPECT_EQ(Recorder::events.back().event, EVENT_MOUSE_WHEEL);
    EXPECT_EQ(Recorder::events.back().data1, MOUSE_WHEEL_SMALLER);
    double d = 0;
    GetCtrlVal(panel, num, &d);
    EXPECT_DOUBLE_EQ(d, 1.5);   // the first wheel step went through, the swallowed one did not

    // Focus events
    Recorder::reset();
    const int str = id("STR");
    InstallCtrlCallback(panel, str, Recorder::callback, nullptr);
    GetPanelWidget(panel)->activateWindow();
    SetActiveCtrl(panel, num);
    SetActiveCtrl(panel, str);
    ProcessSystemEvents();
    bool lost = false, got = false;
    for (auto &f : Recorder::events) {
        if (f.control == num && f.event == EVENT_LOST_FOCUS) lost = true;
        if (f.control == str && f.event == EVENT_GOT_FOCUS) got = true;
    }
    EXPECT_TRUE(lost);
    EXPECT_TRUE(got);
}

TEST_F(PanelTest, TableCellsOfEveryType) {
    const int t = id("TABLE");
    int rows = 0, cols = 0;
    GetNumTableRows(panel, t, &rows);
    GetNumTableColumns(panel, t, &cols);
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(cols, 4);
    EXPECT_EQ(SetTableCellVal(panel, t, MakePoint(1, 2), "Мощность,Вт"), 0);
    EXPECT_EQ(SetTableCellVal(panel, t, MakePoint(1, 2), "нет такого"), UI_ERR_BAD_VALUE);
    SetTableCellVal(panel, t, MakePoint(2, 2), "1.234E-3");
    SetTableCellVal(panel, t, MakePoint(3, 2), 50.0);
    std::string s;
    double d = 0;
    int index = -1;
    GetTableCellVal(panel, t, MakePoint(1, 2), &s);
    EXPECT_EQ(s, "Мощность,Вт");
    GetTableCellVal(panel, t, MakePoint(1, 2), &index);
    EXPECT_EQ(index, 2);
    GetTableCellVal(panel, t, MakePoint(2, 2), &s);
    EXPECT_EQ(s, "1.234E-3");
    GetTableCellVal(panel, t, MakePoint(3, 2), &d);
    EXPECT_DOUBLE_EQ(d, 50.0);
    EXPECT_EQ(GetTableCellVal(panel, t, MakePoint(5, 1), &d), UI_ERR_BAD_INDEX);
    InsertTableRows(panel, t, -1, 2, -1);   // column types apply
    GetNumTableRows(panel, t, &rows);
    EXPECT_EQ(rows, 5);
    int type = -1;
    GetTableCellAttribute(panel, t, MakePoint(1, 5), ATTR_CELL_TYPE, &type);
    EXPECT_EQ(type, VAL_CELL_RING);
    InsertTableCellRingItem(panel, t, MakePoint(1, 5), -1, "SNR");
    EXPECT_EQ(SetTableCellVal(panel, t, MakePoint(1, 5), "SNR"), 0);
    SetTableCellAttribute(panel, t, MakePoint(4, 5), ATTR_CELL_TYPE, VAL_CELL_STRING);
    SetTableCellVal(panel, t, MakePoint(4, 5), "текст");
    GetTableCellVal(panel, t, MakePoint(4, 5), &s);
    EXPECT_EQ(s, "текст");
    DeleteTableRows(panel, t, 4, -1);
    GetNumTableRows(panel, t, &rows);
    EXPECT_EQ(rows, 3);
    // active cell and selection
    SetActiveTableCell(panel, t, MakePoint(3, 2));
    Point cell{};
    GetActiveTableCell(panel, t, &cell);
    EXPECT_EQ(cell.x, 3);
    EXPECT_EQ(cell.y, 2);
    SetTableSelection(panel, t, MakeRect(1, 1, 2, 4));
    Rect sel{};
    GetTableSelection(panel, t, &sel);
    EXPECT_EQ(sel.top, 1);
    EXPECT_EQ(sel.height, 2);
    EXPECT_EQ(sel.width, 4);
    // Choosing in a ring cell: the cell becomes active, then value-changed and commit.
    InstallCtrlCallback(panel, t, Recorder::callback, nullptr);
    auto *ring = qobject_cast<QComboBox *>(static_cast<QTableWidget *>(GetCtrlWidget(panel, t))->cellWidget(2, 0));
    ASSERT_NE(ring, nullptr);
    ring->setCurrentIndex(3);
    emit ring->activated(3);
    EXPECT_EQ(Recorder::kinds(t), (std::vector<int>{EVENT_ACTIVE_CELL_CHANGE, EVENT_VAL_CHANGED, EVENT_COMMIT}));
    GetActiveTableCell(panel, t, &cell);
    EXPECT_EQ(cell.x, 1);
    EXPECT_EQ(cell.y, 3);
    GetTableCellVal(panel, t, MakePoint(1, 3), &s);
    EXPECT_EQ(s, "Плотность сп.мощн.");
    Recorder::reset();
    // A user edit raises value-changed and commit with the cell
    InstallCtrlCallback(panel, t, Recorder::callback, nullptr);
    auto *table = static_cast<QTableWidget *>(GetCtrlWidget(panel, t));
    table->item(1, 3)->setData(Qt::EditRole, 1e6);
    ASSERT_EQ(Recorder::events.size(), 2u);
    EXPECT_EQ(Recorder::events[0], (Fired{panel, t, EVENT_VAL_CHANGED, 2, 4}));
    EXPECT_EQ(Recorder::events[1].event, EVENT_COMMIT);
}

TEST_F(PanelTest, TreeItemsWithMarksValuesAndChildren) {
    const int t = id("TREE");
    int n = 0;
    GetNumTreeItems(panel, t, &n);
    EXPECT_EQ(n, 1);
    static int items[3];
    int group = InsertTreeItem(panel, t, VAL_CHILD, -1, VAL_LAST, "Проверка памяти", static_cast<void *>(&items[0]));
    int child1 = InsertTreeItem(panel, t, VAL_CHILD, group, VAL_LAST, "Тест \"бегущий 0\"", static_cast<void *>(&items[1]));
    int child2 = InsertTreeItem(panel, t, VAL_CHILD, group, VAL_LAST, "Тест \"бегущая 1\"", static_cast<void *>(&items[2]));
    EXPECT_EQ(group, 1);
    EXPECT_EQ(child1, 2);
    EXPECT_EQ(child2, 3);
    int parent = -2, count = 0, c = -1;
    GetTreeItemParent(panel, t, child2, &parent);
    EXPECT_EQ(parent, group);
    GetTreeItemNumChildren(panel, t, group, &count);
    EXPECT_EQ(count, 2);
    GetTreeItemChild(panel, t, group, 1, &c);
    EXPECT_EQ(c, child2);
    void *v = nullptr;
    GetValueFromIndex(panel, t, child1, &v);
    EXPECT_EQ(v, &items[1]);
    for (int k = 0; k < 4; k++) SetTreeItemAttribute(panel, t, k, ATTR_MARK_TYPE, VAL_MARK_CHECK);
    SetTreeItemAttribute(panel, t, child2, ATTR_MARK_STATE, 1);
    int state = 0;
    GetTreeItemAttribute(panel, t, child2, ATTR_MARK_STATE, &state);
    EXPECT_EQ(state, 1);
    GetTreeItemAttribute(panel, t, child1, ATTR_MARK_STATE, &state);
    EXPECT_EQ(state, 0);
    // the user ticking a mark raises the mark event
    InstallCtrlCallback(panel, t, Recorder::callback, nullptr);
    auto *tree = static_cast<QTreeWidget *>(GetCtrlWidget(panel, t));
    tree->topLevelItem(1)->child(0)->setCheckState(0, Qt::Checked);
    ASSERT_FALSE(Recorder::events.empty());
    EXPECT_EQ(Recorder::events[0], (Fired{panel, t, EVENT_MARK_STATE_CHANGE, child1, 1}));
    SetActiveTreeItem(panel, t, child2);
    int active = -1;
    GetActiveTreeItem(panel, t, &active);
    EXPECT_EQ(active, child2);
    std::string label;
    GetTreeItemAttribute(panel, t, child2, ATTR_LABEL, &label);
    EXPECT_EQ(label, "Тест \"бегущая 1\"");
    EXPECT_EQ(InsertTreeItem(panel, t, VAL_CHILD, 99, VAL_LAST, "x", 0), UI_ERR_BAD_INDEX);
}

int panelEvents[64];
int panelEventCount = 0;
int PanelCb(int, int event, void *, int, int) {
    if (panelEventCount < 64) panelEvents[panelEventCount++] = event;
    return 0;
}

TEST_F(PanelTest, PanelEventsComeFromTheUserOnly) {
    panelEventCount = 0;
    InstallPanelCallback(panel, PanelCb, nullptr);
    DisplayPanel(panel);
    ProcessSystemEvents();
    panelEventCount = 0;
    SetPanelAttribute(panel, ATTR_WIDTH, 700);    // the program's own change: no event
    SetPanelPos(panel, 60, 70);
    ProcessSystemEvents();
    for (int k = 0; k < panelEventCount; k++) {
        EXPECT_NE(panelEvents[k], EVENT_PANEL_SIZE);
        EXPECT_NE(panelEvents[k], EVENT_PANEL_MOVE);
    }
    int w = 0, top = 0;
    GetPanelAttribute(panel, ATTR_WIDTH, &w);
    GetPanelAttribute(panel, ATTR_TOP, &top);
    EXPECT_EQ(w, 700);
    EXPECT_EQ(top, 60);
    panelEventCount = 0;
    QWidget *pw = GetPanelWidget(panel);
    pw->resize(650, 500);    // as a window manager would
    ProcessSystemEvents();
    bool sized = false;
    for (int k = 0; k < panelEventCount; k++) sized |= panelEvents[k] == EVENT_PANEL_SIZE;
    EXPECT_TRUE(sized);
    panelEventCount = 0;
    pw->close();
    ProcessSystemEvents();
    ASSERT_GE(panelEventCount, 1);
    EXPECT_EQ(panelEvents[0], EVENT_CLOSE);
    EXPECT_TRUE(pw->isVisible());   // closing is the program's decision
    // With a close control, closing the window commits that control instead.
    const int cancel = id("CMD");
    InstallCtrlCallback(panel, cancel, Recorder::callback, nullptr);
    SetPanelAttribute(panel, ATTR_CLOSE_CTRL, cancel);
    panelEventCount = 0;
    Recorder::reset();
    pw->close();
    EXPECT_EQ(panelEventCount, 0);
    EXPECT_EQ(Recorder::kinds(), std::vector<int>{EVENT_COMMIT});
    SetPanelAttribute(panel, ATTR_CLOSE_CTRL, 0);
    panelEventCount = 0;
    pw->setWindowState(Qt::WindowMinimized);
    ProcessSystemEvents();
    pw->setWindowState(Qt::WindowNoState);
    ProcessSystemEvents();
    std::vector<int> got(panelEvents, panelEvents + panelEventCount);
    EXPECT_NE(std::find(got.begin(), got.end(), EVENT_PANEL_MINIMIZE), got.end());
    EXPECT_NE(std::find(got.begin(), got.end(), EVENT_PANEL_RESTORE), got.end());
}

TEST_F(PanelTest, ChildPanelsInstancesAndAttributes) {
    int a = LoadPanel(panel, samplePath().c_str(), "SMALL");
    int b = LoadPanel(panel, samplePath("SMALL.ui").c_str(), "SMALL");
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    EXPECT_NE(a, b);
    SetCtrlVal(a, GetCtrlId(a, "MSRR"), 1.0);
    SetCtrlVal(b, GetCtrlId(b, "MSRR"), 2.0);
    double va = 0, vb = 0;
    GetCtrlVal(a, GetCtrlId(a, "MSRR"), &va);
    GetCtrlVal(b, GetCtrlId(b, "MSRR"), &vb);
    EXPECT_EQ(va, 1.0);
    EXPECT_EQ(vb, 2.0);
    int parent = 0;
    GetPanelAttribute(a, ATTR_PANEL_PARENT, &parent);
    EXPECT_EQ(parent, panel);
    EXPECT_EQ(GetPanelWidget(a)->parentWidget(), GetPanelWidget(panel));
    SetPanelAttribute(a, ATTR_FRAME_STYLE, VAL_SUNKEN_FRAME);
    SetPanelAttribute(a, ATTR_TITLEBAR_VISIBLE, 1);
    SetPanelAttribute(a, ATTR_TITLE, "Измерение");
    SetPanelPos(a, 200, 100);
    DisplayPanel(panel);
    DisplayPanel(a);
    int v = 0;
    GetPanelAttribute(a, ATTR_VISIBLE, &v);
    EXPECT_EQ(v, 1);
    GetPanelAttribute(a, ATTR_FRAME_STYLE, &v);
    EXPECT_EQ(v, VAL_SUNKEN_FRAME);
    GetPanelAttribute(a, ATTR_TOP, &v);
    EXPECT_EQ(v, 200);
    SetPanelAttribute(a, ATTR_BACKCOLOR, 0xC0C0C0);
    GetPanelAttribute(a, ATTR_BACKCOLOR, &v);
    EXPECT_EQ(v, 0xC0C0C0);
    SetPanelAttribute(panel, ATTR_SIZABLE, 0);
    GetPanelAttribute(panel, ATTR_SIZABLE, &v);
    EXPECT_EQ(v, 0);
    SetPanelAttribute(panel, ATTR_TITLEBAR_VISIBLE, 0);
    EXPECT_TRUE(GetPanelWidget(panel)->windowFlags() & Qt::FramelessWindowHint);
    // The user sizes a child panel by its edges and moves it by its title bar.
    panelEventCount = 0;
    InstallPanelCallback(a, PanelCb, nullptr);
    QWidget *aw = GetPanelWidget(a);
    QTest::mousePress(aw, Qt::LeftButton, {}, QPoint(aw->width() - 2, 10));
    QTest::mouseMove(aw, QPoint(aw->width() + 38, 10));
    QTest::mouseRelease(aw, Qt::LeftButton, {}, QPoint(aw->width() + 38, 10));
    GetPanelAttribute(a, ATTR_WIDTH, &v);
    EXPECT_EQ(v, 160);
    ASSERT_GE(panelEventCount, 1);
    EXPECT_EQ(panelEvents[0], EVENT_PANEL_SIZE);
    SetPanelAttribute(a, ATTR_SIZABLE, 0);
    QTest::mousePress(aw, Qt::LeftButton, {}, QPoint(aw->width() - 2, 10));
    QTest::mouseMove(aw, QPoint(aw->width() + 38, 10));
    QTest::mouseRelease(aw, Qt::LeftButton, {}, QPoint(aw->width() + 38, 10));
    GetPanelAttribute(a, ATTR_WIDTH, &v);
    EXPECT_EQ(v, 160);
    QLabel *title = nullptr;
    for (QLabel *l : aw->parentWidget()->findChildren<QLabel *>())
        if (l->text() == QString("Измерение")) title = l;
    ASSERT_NE(title, nullptr);
    panelEventCount = 0;
    QTest::mousePress(title, Qt::LeftButton, {}, QPoint(10, 5));
    QTest::mouseMove(title, QPoint(30, 15));
    QTest::mouseRelease(title, Qt::LeftButton, {}, QPoint(30, 15));
    GetPanelAttribute(a, ATTR_TOP, &v);
    EXPECT_EQ(v, 210);
    ASSERT_GE(panelEventCount, 1);
    EXPECT_EQ(panelEvents[0], EVENT_PANEL_MOVE);
    // A click on a child panel gives it the focus (it has no window of its own to activate).
    panelEventCount = 0;
    GetPanelWidget(panel)->activateWindow();
    SetActiveCtrl(panel, GetCtrlId(panel, "STR"));
    QTest::mouseClick(aw, Qt::LeftButton, {}, QPoint(20, 15));
    ProcessSystemEvents();
    std::vector<int> focus(panelEvents, panelEvents + panelEventCount);
    EXPECT_NE(std::find(focus.begin(), focus.end(), EVENT_GOT_FOCUS), focus.end());
    // A label placed by the program stays where it was put.
    const int msrr = GetCtrlId(a, "MSRR");
    SetCtrlAttribute(a, msrr, ATTR_LABEL_TEXT, "R,Ом");
    SetCtrlAttribute(a, msrr, ATTR_LABEL_TOP, 6);
    SetCtrlAttribute(a, msrr, ATTR_LABEL_LEFT, 2);
    SetCtrlAttribute(a, msrr, ATTR_LEFT, 44);
    GetCtrlAttribute(a, msrr, ATTR_LABEL_LEFT, &v);
    EXPECT_EQ(v, 2);
    GetCtrlAttribute(a, msrr, ATTR_LABEL_TOP, &v);
    EXPECT_EQ(v, 6);
    HidePanel(a);
    GetPanelAttribute(a, ATTR_VISIBLE, &v);
    EXPECT_EQ(v, 0);
    // Discarding the parent discards its children too.
    DiscardPanel(panel);
    EXPECT_EQ(DisplayPanel(a), UI_ERR_BAD_PANEL);
    panel = LoadPanel(0, samplePath().c_str(), "SAMPLE");
}

TEST_F(PanelTest, DuplicateSplitterAndPictures) {
    int small = LoadPanel(0, samplePath().c_str(), "SMALL");
    InstallCtrlCallback(panel, id("CMD"), Recorder::callback, &Recorder::events);
    int copy = DuplicateCtrl(panel, id("CMD"), small, nullptr, 2, 2);
    ASSERT_GT(copy, 0);
    std::string s;
    GetCtrlAttribute(small, copy, ATTR_LABEL_TEXT, &s);
    EXPECT_EQ(s, "Сброс");
    DisplayPanel(small);
    QTest::mouseClick(static_cast<QAbstractButton *>(GetCtrlWidget(small, copy)), Qt::LeftButton);
    ProcessSystemEvents();
    std::vector<int> k = Recorder::kinds(copy);
    EXPECT_NE(std::find(k.begin(), k.end(), EVENT_COMMIT), k.end());
    DiscardPanel(small);

    // Splitter: the attached edge follows.
    const int log = id("LOG"), splitter = id("SPLT");
    AddCtrlToSplitter(panel, splitter, log, VAL_TOP_EDGE);
    int top = 0, height = 0, pos = 0;
    GetCtrlAttribute(panel, log, ATTR_TOP, &top);
    GetCtrlAttribute(panel, log, ATTR_HEIGHT, &height);
    OperateSplitter(panel, splitter, -20);
    int top2 = 0, height2 = 0;
    GetCtrlAttribute(panel, log, ATTR_TOP, &top2);
    GetCtrlAttribute(panel, log, ATTR_HEIGHT, &height2);
    GetCtrlAttribute(panel, splitter, ATTR_SPLITTER_POSITION, &pos);
    EXPECT_EQ(top2, top - 20);
    EXPECT_EQ(height2, height + 20);
    EXPECT_EQ(pos, 410);

    // Picture control holding a button image
    int bmp = 0;
    ASSERT_EQ(GetCtrlBitmap(panel, id("PIC"), &bmp), 0);
    EXPECT_EQ(SetCtrlBitmap(panel, id("CMD"), bmp), 0);
    EXPECT_FALSE(static_cast<QAbstractButton *>(GetCtrlWidget(panel, id("CMD")))->icon().isNull());
    DiscardBitmap(bmp);
    EXPECT_EQ(SetCtrlBitmap(panel, id("CMD"), bmp), UI_ERR_BAD_VALUE);
    // Right click, then discarding a control: its callback hears both
    DisplayPanel(panel);
    Recorder::reset();
    InstallCtrlCallback(panel, id("MSG"), Recorder::callback, nullptr);
    QTest::mouseClick(GetCtrlWidget(panel, id("MSG")), Qt::RightButton, {}, QPoint(3, 4));
    const int msg = id("MSG");
    EXPECT_EQ(DiscardCtrl(panel, msg), 0);
    EXPECT_EQ(Recorder::kinds(msg), (std::vector<int>{EVENT_RIGHT_CLICK, EVENT_DISCARD}));
    ASSERT_FALSE(Recorder::events.empty());
    EXPECT_EQ(Recorder::events[0].data1, 84);    // the message sits at (760, 80)
    EXPECT_EQ(Recorder::events[0].data2, 763);
    EXPECT_EQ(GetCtrlId(panel, "MSG"), UI_ERR_BAD_CONTROL);
}

}  // namespace
