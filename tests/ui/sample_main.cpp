// Sample program of the panel toolkit: a panel with a menu bar, a tool bar, a graph with a long
// waveform and cursors, and a measurement table with Cyrillic text. Used for screenshots:
//   scripts/screenshot.sh shot.png build/<dir>/bin/tarq_ui_sample
// Optional argument: seconds after which the program ends by itself.
#include "tarq_ui.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int panel = 0;

int PanelCallback(int, int event, void *, int, int) {
    if (event == EVENT_CLOSE) QuitUserInterface(0);
    return 0;
}

int QuitTimer(int, int, int event, void *, int, int) {
    if (event == EVENT_TIMER_TICK) QuitUserInterface(0);
    return 0;
}

int ToolCallback(int p, int control, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        std::string text;
        GetCtrlAttribute(p, control, ATTR_TOOLTIP_TEXT, &text);
        SetCtrlVal(panel, GetCtrlId(panel, "MSG"), text.c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    InitUserInterface();
    const std::string dir = TARQ_UI_SAMPLES;
    panel = LoadPanel(0, dir.c_str(), "SAMPLE");
    if (panel < 0) {
        std::fprintf(stderr, "LoadPanel: %s\n", GetUserInterfaceErrorString(panel));
        return 1;
    }
    InstallPanelCallback(panel, PanelCallback, nullptr);
    SetPanelPos(panel, 30, 30);
    LoadMenuBar(panel, dir.c_str(), "MENU");

    // Tool bar with images of an images panel (here: the sample's picture control and files).
    int tb = NewToolBar(panel, 26, 0, 36, 0, 30);
    struct Tool {
        int kind;
        const char *text;
        const char *image;
    } tools[] = {
        {TOOLBAR_MENU_BUTTON, "Конфигурация инструмента", "config"},
        {TOOLBAR_SEPARATOR, nullptr, nullptr},
        {TOOLBAR_COMMAND_BUTTON, "Пуск", "run"},
        {TOOLBAR_COMMAND_BUTTON, "Стоп", "stop"},
        {TOOLBAR_TOGGLE_BUTTON, "Цикл", "cycle"},
        {TOOLBAR_SEPARATOR, nullptr, nullptr},
        {TOOLBAR_TOGGLE_BUTTON, "Масштабирование по X (Ctrl+LBD или Ctrl+RBD) ", "zoomx"},
        {TOOLBAR_TOGGLE_BUTTON, "Измерение курсорами", "cursor"},
        {TOOLBAR_CONTROL, "Усиление,дБ", nullptr},
    };
    int slot = 0;
    for (const Tool &t : tools) {
        int item = InsertToolBarItem(tb, -1, t.kind, t.kind == TOOLBAR_COMMAND_BUTTON && std::string(t.text) == "Стоп" ? 0 : 1,
                                     t.text, TOOLBAR_CALLBACK_COMMIT, ToolCallback, nullptr);
        if (t.image) {
            int bmp = 0;
            if (GetBitmapFromFile((dir + "/images/" + t.image + ".xpm").c_str(), &bmp) == 0)
                SetToolBarItemAttribute(tb, item, ATTR_TB_IMAGE, bmp);
        }
        if (t.kind == TOOLBAR_CONTROL) slot = item;
    }
    int mcfg = LoadMenuBar(0, dir.c_str(), "MCFG");
    SetToolBarItemAttribute(tb, 1, ATTR_TB_MENU_BAR, mcfg);
    SetToolBarItemAttribute(tb, slot, ATTR_TB_WIDTH, 120);
    int tbPanel = 0, slotCtrl = 0, left = 0;
    GetToolBarItemCtrl(tb, slot, &tbPanel, &slotCtrl);
    GetCtrlAttribute(tbPanel, slotCtrl, ATTR_LEFT, &left);
    int small = LoadPanel(tbPanel, dir.c_str(), "SMALL");
    SetPanelPos(small, 2, left);
    int amp = GetCtrlId(small, "MSRR");
    SetCtrlAttribute(small, amp, ATTR_LEFT, 2);
    SetCtrlAttribute(small, amp, ATTR_WIDTH, 110);
    SetCtrlVal(small, amp, 6.0);
    DisplayPanel(small);

    // A long record: 1M samples of a 5 MHz sine at 500 MS/s with some noise.
    const int graph = GetCtrlId(panel, "GRAPH");
    std::vector<double> y(1u << 20);
    unsigned seed = 12345;
    for (size_t i = 0; i < y.size(); i++) {
        seed = seed * 1103515245u + 12345u;
        double noise = (double((seed >> 16) & 0x7FFF) / 32768.0 - 0.5) * 0.05;
        y[i] = 0.8 * std::sin(2 * M_PI * 5e6 * 2e-9 * double(i)) + noise;
    }
    SetAxisRange(panel, graph, VAL_MANUAL, -1e-6, 3e-6, VAL_MANUAL, -1.5, 1.5);
    int plot = PlotWaveform(panel, graph, y.data(), y.size(), VAL_DOUBLE, 1.0, 0.0, -1e-6, 2e-9,
                            VAL_THIN_LINE, VAL_EMPTY_SQUARE, VAL_SOLID, 1, 0xE7E809);
    SetCtrlAttribute(panel, graph, ATTR_PLOT_BGCOLOR, VAL_BLACK);
    SetCtrlAttribute(panel, graph, ATTR_GRID_COLOR, VAL_DK_GRAY);
    const char *labels[] = {"-1.000E-6", "0", "1.000E-6", "3.000E-6"};
    const double at[] = {-1e-6, 0.0, 1e-6, 3e-6};
    for (int k = 0; k < 4; k++) InsertAxisItem(panel, graph, VAL_XAXIS, -1, labels[k], at[k]);
    SetCtrlAttribute(panel, graph, ATTR_XNAME, "Время, ");
    SetCursorAttribute(panel, graph, 1, ATTR_CURSOR_COLOR, VAL_WHITE);
    SetCursorAttribute(panel, graph, 2, ATTR_CURSOR_COLOR, VAL_CYAN);
    SetCursorAttribute(panel, graph, 3, ATTR_CURSOR_COLOR, VAL_MAGENTA);
    SetGraphCursorIndex(panel, graph, 1, plot, 800);
    SetGraphCursorIndex(panel, graph, 2, plot, 1000);
    SetCursorAttribute(panel, graph, 3, ATTR_CROSS_HAIR_STYLE, VAL_HORIZONTAL_LINE);
    SetGraphCursor(panel, graph, 3, 0.0, 0.4);

    // Measurement table in Russian.
    const int table = GetCtrlId(panel, "TABLE");
    const char *params[] = {"Средн.знач,В", "Мощность,Вт", "Плотность сп.мощн."};
    const char *results[] = {"1.234E-3", "12.800E-3", "-"};
    for (int r = 0; r < 3; r++) {
        SetTableCellVal(panel, table, MakePoint(1, r + 1), params[r]);
        SetTableCellVal(panel, table, MakePoint(2, r + 1), results[r]);
    }
    SetTableCellVal(panel, table, MakePoint(3, 2), 50.0);
    SetTableCellVal(panel, table, MakePoint(3, 3), 125e6);
    SetTableCellVal(panel, table, MakePoint(4, 3), 1e6);
    const int tree = GetCtrlId(panel, "TREE");
    int group = InsertTreeItem(panel, tree, VAL_CHILD, -1, VAL_LAST, "Проверка памяти", 1);
    InsertTreeItem(panel, tree, VAL_CHILD, group, VAL_LAST, "Тест \"бегущий 0\"", 2);
    for (int k = 0; k < 3; k++) SetTreeItemAttribute(panel, tree, k, ATTR_MARK_TYPE, VAL_MARK_CHECK);
    SetTreeItemAttribute(panel, tree, 2, ATTR_MARK_STATE, 1);
    const int log = GetCtrlId(panel, "LOG");
    std::string line = std::string(">> Самоконтроль * ") + DateStr() + " " + TimeStr() + " *";
    InsertTextBoxLine(panel, log, -1, line.c_str());
    line = std::string("<< Самоконтроль - НОРМА * ") + DateStr() + " " + TimeStr() + " *";
    InsertTextBoxLine(panel, log, -1, line.c_str());
    SetCtrlAttribute(panel, GetCtrlId(panel, "MSG"), ATTR_TEXT_COLOR, 0x008000);

    DisplayPanel(panel);
    if (argc > 1) {
        double seconds = std::atof(argv[1]);
        if (seconds > 0) {
            int t = NewCtrl(panel, CTRL_TIMER, nullptr, 0, 0);
            SetCtrlAttribute(panel, t, ATTR_INTERVAL, seconds);
            InstallCtrlCallback(panel, t, QuitTimer, nullptr);
        }
    }
    int code = RunUserInterface();
    DiscardPanel(panel);
    return code;
}
