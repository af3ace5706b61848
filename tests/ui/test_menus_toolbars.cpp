// Menu bars and tool bars.
#include "ui_test_util.h"

#include <QMenu>
#include <QMenuBar>
#include <QToolButton>

namespace {

struct MenuHit {
    int bar, item, panel;
    void *data;
};
std::vector<MenuHit> menuHits;

void MenuCb(int bar, int item, void *data, int panel) { menuHits.push_back({bar, item, panel, data}); }

TEST(Menus, LoadedMenuBarFiresItemsWithTheMenusCallbackData) {
    menuHits.clear();
    int panel = LoadPanel(0, samplePath().c_str(), "MAINWIN");
    ASSERT_GT(panel, 0);
    int bar = LoadMenuBar(panel, samplePath().c_str(), "MENU");
    ASSERT_GT(bar, 0);
    int attached = 0;
    GetPanelMenuBar(panel, &attached);
    EXPECT_EQ(attached, bar);
    EXPECT_EQ(GetMenuBarWidget(bar)->parentWidget(), GetPanelWidget(panel));
    const int file = GetMenuItemId(bar, "FILE"), open = GetMenuItemId(bar, "OPEN"),
              osc = GetMenuItemId(bar, "PRINT_OSC"), vrs = GetMenuItemId(bar, "VRS");
    ASSERT_GT(file, 0);
    ASSERT_GT(open, 0);
    ASSERT_GT(osc, 0);
    EXPECT_EQ(GetMenuItemId(bar, "NOPE"), UI_ERR_BAD_MENU);
    // The record is the callback data of the "Файл" menu; every item calls one callback.
    int record = 4169;
    InstallMenuCallback(bar, 0, MenuCb, nullptr);
    SetMenuBarAttribute(bar, file, ATTR_MENU_CALLBACK_DATA, static_cast<void *>(&record));
    EXPECT_EQ(ActivateMenuItem(bar, open), 0);
    EXPECT_EQ(ActivateMenuItem(bar, osc), 0);   // in the sub-menu "Печать"
    EXPECT_EQ(ActivateMenuItem(bar, vrs), 0);   // other menu: no data
    ASSERT_EQ(menuHits.size(), 3u);
    EXPECT_EQ(menuHits[0].item, open);
    EXPECT_EQ(menuHits[0].bar, bar);
    EXPECT_EQ(menuHits[0].panel, panel);
    EXPECT_EQ(menuHits[0].data, &record);
    EXPECT_EQ(menuHits[1].data, &record);
    EXPECT_EQ(menuHits[2].data, nullptr);
    // Labels, dimming, structure
    std::string label;
    GetMenuBarAttribute(bar, file, ATTR_ITEM_NAME, &label);
    EXPECT_EQ(label, "Файл");
    SetMenuBarAttribute(bar, open, ATTR_DIMMED, 1);
    EXPECT_EQ(ActivateMenuItem(bar, open), UI_ERR_BAD_MENU);
    std::vector<int> items;
    GetMenuItems(bar, file, &items);
    EXPECT_EQ(items.size(), 5u);   // open, save, print, separator, quit
    GetMenuItems(bar, 0, &items);
    EXPECT_EQ(items.size(), 2u);
    DiscardPanel(panel);
    EXPECT_EQ(ActivateMenuItem(bar, osc), UI_ERR_BAD_MENU);   // went with its panel
}

TEST(Menus, CheckMarksChangeOnlyByTheProgram) {
    menuHits.clear();
    int bar = LoadMenuBar(0, samplePath().c_str(), "MCFG");
    ASSERT_GT(bar, 0);
    const int osc = GetMenuItemId(bar, "OSC"), fft = GetMenuItemId(bar, "FFT");
    int checked = -1;
    GetMenuBarAttribute(bar, osc, ATTR_CHECKED, &checked);
    EXPECT_EQ(checked, 1);
    InstallMenuCallback(bar, fft, MenuCb, nullptr);
    ActivateMenuItem(bar, fft);
    GetMenuBarAttribute(bar, fft, ATTR_CHECKED, &checked);
    EXPECT_EQ(checked, 0);   // choosing the item does not tick it by itself
    SetMenuBarAttribute(bar, fft, ATTR_CHECKED, 1);
    GetMenuBarAttribute(bar, fft, ATTR_CHECKED, &checked);
    EXPECT_EQ(checked, 1);
    ASSERT_EQ(menuHits.size(), 1u);
    DiscardMenuBar(bar);
}

TEST(Menus, BuiltAtRunTime) {
    menuHits.clear();
    int panel = NewPanel(0, "m", 10, 10, 200, 300);
    int bar = NewMenuBar(panel);
    int menu = NewMenu(bar, "Утилиты", -1);
    int select = NewMenuItem(bar, menu, "Выбор инструмента", -1, MenuCb, &menuHits);
    InsertSeparator(bar, menu, -1);
    int reset = NewMenuItem(bar, menu, "Сброс панелей", -1, MenuCb, nullptr);
    int sub = NewSubMenu(bar, reset);
    int inner = NewMenuItem(bar, sub, "Всё", -1, MenuCb, nullptr);
    ASSERT_GT(inner, 0);
    ActivateMenuItem(bar, select);
    ActivateMenuItem(bar, inner);
    ASSERT_EQ(menuHits.size(), 2u);
    EXPECT_EQ(menuHits[0].data, &menuHits);
    EXPECT_EQ(menuHits[1].item, inner);
    DiscardPanel(panel);
}

int tbCalls = 0;
void *tbData = nullptr;
int tbLastEvent = 0;
int ToolCb(int panel, int control, int event, void *data, int, int) {
    tbCalls++;
    tbData = data;
    tbLastEvent = event;
    void *fromToolBar = nullptr;
    EXPECT_EQ(GetToolBarCallbackData(panel, control, &fromToolBar), 0);
    EXPECT_EQ(fromToolBar, data);
    return 0;
}

TEST(ToolBars, ItemsOfEveryKindWithCallbacksStatesAndImages) {
    int backing = LoadPanel(0, samplePath().c_str(), "SAMPLE");
    int record = 4169;
    int tb = NewToolBar(backing, 0, 0, 0, 0, 30);
    ASSERT_GT(tb, 0);
    SetToolBarItemAttribute(tb, 0, ATTR_TB_CALLBACK_DATA, static_cast<void *>(&record));
    int menuItem = InsertToolBarItem(tb, -1, TOOLBAR_MENU_BUTTON, 1, "Конфигурация инструмента", TOOLBAR_CALLBACK_COMMIT, nullptr, &record);
    InsertToolBarItem(tb, -1, TOOLBAR_SEPARATOR, 1, nullptr, 0, nullptr, nullptr);
    int run = InsertToolBarItem(tb, -1, TOOLBAR_COMMAND_BUTTON, 1, "Пуск", TOOLBAR_CALLBACK_COMMIT, ToolCb, &record);
    int stop = InsertToolBarItem(tb, -1, TOOLBAR_COMMAND_BUTTON, 0, "Стоп", TOOLBAR_CALLBACK_COMMIT, ToolCb, &record);
    int cycle = InsertToolBarItem(tb, -1, TOOLBAR_TOGGLE_BUTTON, 1, "Цикл", TOOLBAR_CALLBACK_COMMIT, ToolCb, &record);
    int slot = InsertToolBarItem(tb, -1, TOOLBAR_CONTROL, 1, "Усиление,дБ", TOOLBAR_CALLBACK_ALL, nullptr, &record);
    EXPECT_EQ(menuItem, 1);
    EXPECT_EQ(run, 3);
    EXPECT_EQ(slot, 6);
    int count = 0;
    GetNumToolBarItems(tb, &count);
    EXPECT_EQ(count, 6);
    DisplayPanel(backing);

    // Images from the picture controls of an images panel
    int pic = GetCtrlId(backing, "PIC"), bmp = 0;
    ASSERT_EQ(GetCtrlBitmap(backing, pic, &bmp), 0);
    EXPECT_EQ(SetToolBarItemAttribute(tb, run, ATTR_TB_IMAGE, bmp), 0);
    int tp = 0, ctrl = 0;
    GetToolBarItemCtrl(tb, run, &tp, &ctrl);
    auto *runButton = static_cast<QToolButton *>(GetCtrlWidget(tp, ctrl));
    EXPECT_FALSE(runButton->icon().isNull());
    EXPECT_EQ(runButton->toolTip(), QString("Пуск"));

    // Commit-only callbacks with the record; an inactive item does nothing.
    tbCalls = 0;
    runButton->click();
    EXPECT_EQ(tbCalls, 1);
    EXPECT_EQ(tbData, &record);
    EXPECT_EQ(tbLastEvent, EVENT_COMMIT);
    GetToolBarItemCtrl(tb, stop, &tp, &ctrl);
    static_cast<QToolButton *>(GetCtrlWidget(tp, ctrl))->click();
    EXPECT_EQ(tbCalls, 1);
    SetToolBarItemAttribute(tb, stop, ATTR_TB_ACTIVE, 1);
    static_cast<QToolButton *>(GetCtrlWidget(tp, ctrl))->click();
    EXPECT_EQ(tbCalls, 2);
    int toolBar = 0, index = 0;
    GetToolBarFromCtrl(tp, ctrl, &toolBar, &index);
    EXPECT_EQ(toolBar, tb);
    EXPECT_EQ(index, stop);

    // Toggle state
    int state = -1;
    SetToolBarItemAttribute(tb, cycle, ATTR_TB_STATE, 1);
    GetToolBarItemAttribute(tb, cycle, ATTR_TB_STATE, &state);
    EXPECT_EQ(state, 1);
    GetToolBarItemCtrl(tb, cycle, &tp, &ctrl);
    static_cast<QToolButton *>(GetCtrlWidget(tp, ctrl))->click();
    GetToolBarItemAttribute(tb, cycle, ATTR_TB_STATE, &state);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(tbCalls, 3);

    // A command button can be shown pressed while its work runs.
    SetToolBarItemAttribute(tb, run, ATTR_TB_STATE, 1);
    GetToolBarItemAttribute(tb, run, ATTR_TB_STATE, &state);
    EXPECT_EQ(state, 1);
    SetToolBarItemAttribute(tb, run, ATTR_TB_STATE, 0);
    GetToolBarItemAttribute(tb, run, ATTR_TB_STATE, &state);
    EXPECT_EQ(state, 0);

    // Hiding an item moves the following ones; width applies.
    int runLeft = 0, slotLeft = 0, slotLeft2 = 0;
    GetToolBarItemCtrl(tb, run, &tp, &ctrl);
    GetCtrlAttribute(tp, ctrl, ATTR_LEFT, &runLeft);
    GetToolBarItemCtrl(tb, slot, &tp, &ctrl);
    GetCtrlAttribute(tp, ctrl, ATTR_LEFT, &slotLeft);
    SetToolBarItemAttribute(tb, run, ATTR_TB_VISIBLE, 0);
    GetCtrlAttribute(tp, ctrl, ATTR_LEFT, &slotLeft2);
    EXPECT_EQ(slotLeft2, slotLeft - 32);
    SetToolBarItemAttribute(tb, slot, ATTR_TB_WIDTH, 120);
    int w = 0;
    GetCtrlAttribute(tp, ctrl, ATTR_WIDTH, &w);
    EXPECT_EQ(w, 120);

    // Embedded control: a small panel loaded over the item's control.
    int left = 0, top = 0;
    GetCtrlAttribute(tp, ctrl, ATTR_LEFT, &left);
    GetCtrlAttribute(tp, ctrl, ATTR_TOP, &top);
    int small = LoadPanel(tp, samplePath().c_str(), "SMALL");
    SetPanelPos(small, top + 2, left + 2);
    DisplayPanel(small);
    EXPECT_EQ(GetPanelWidget(small)->parentWidget(), GetPanelWidget(tp));

    // Pull-down menu of the menu button
    int mcfg = LoadMenuBar(0, samplePath().c_str(), "MCFG");
    EXPECT_EQ(SetToolBarItemAttribute(tb, menuItem, ATTR_TB_MENU_BAR, mcfg), 0);
    GetToolBarItemCtrl(tb, menuItem, &tp, &ctrl);
    auto *menuButton = static_cast<QToolButton *>(GetCtrlWidget(tp, ctrl));
    ASSERT_NE(menuButton->menu(), nullptr);
    EXPECT_EQ(menuButton->menu()->actions().size(), 2);
    menuHits.clear();
    InstallMenuCallback(mcfg, 0, MenuCb, &record);
    menuButton->menu()->actions()[1]->trigger();
    ASSERT_EQ(menuHits.size(), 1u);
    EXPECT_EQ(menuHits[0].item, GetMenuItemId(mcfg, "FFT"));
    EXPECT_EQ(menuHits[0].data, &record);

    // Background image and the tool bar's own data
    EXPECT_EQ(SetToolBarItemAttribute(tb, 0, ATTR_TB_BACKGROUND_IMAGE, bmp), 0);
    void *data = nullptr;
    GetToolBarItemAttribute(tb, 0, ATTR_TB_CALLBACK_DATA, &data);
    EXPECT_EQ(data, &record);
    std::string description;
    GetToolBarItemAttribute(tb, cycle, ATTR_TB_DESCRIPTION, &description);
    EXPECT_EQ(description, "Цикл");
    EXPECT_EQ(GetToolBarItemCtrl(tb, 99, &tp, &ctrl), UI_ERR_BAD_TOOLBAR);
    EXPECT_EQ(InsertToolBarItem(tb, -1, 5, 1, "x", 0, nullptr, nullptr), UI_ERR_BAD_VALUE);
    DiscardMenuBar(mcfg);
    DiscardPanel(backing);
    EXPECT_EQ(GetNumToolBarItems(tb, &count), UI_ERR_BAD_TOOLBAR);   // went with its panel
}

}  // namespace
