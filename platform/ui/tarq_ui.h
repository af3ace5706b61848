// Panel toolkit: panels, controls, graphs, menus, tool bars, popups, event processing, ini and
// language files, printing. A thin layer over Qt6 Widgets and QCustomPlot: the widgets hold the
// values and attributes, this layer maps integer handles, constant names and events onto them.
//
// Vocabulary
// - Panels and menu bars are loaded from Qt Designer .ui files; the object names in those files
//   are the constant names. A panel handle is a positive int, never reused within a process.
// - Controls are numbered per panel in the order they appear in the .ui file, starting at 2
//   (a dynamic int property "ctrlId" fixes a number explicitly). GetCtrlId() resolves a name.
// - Callbacks return 0 to let the default handling of an event happen, nonzero to swallow it.
// - Pixel positions in events and mouse queries are relative to the panel's client area:
//   eventData1 is the vertical, eventData2 the horizontal position.
// - Every function returns a status: negative is an error (UI_ERR_*), 0 or positive success.
// - Every function may be called from any thread; calls from other threads run in the panel
//   thread (the thread of the Qt application) and wait for their result.
//
// Numbers: after the first call into the toolkit the process's numeric formatting (LC_NUMERIC) is
// the C locale, whatever the user's locale is, so printf/strtod keep the decimal point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Statuses
constexpr int UI_OK = 0;
constexpr int UI_ERR_BAD_PANEL = -1;        // no such panel handle
constexpr int UI_ERR_BAD_CONTROL = -2;      // no such control on the panel
constexpr int UI_ERR_BAD_ATTRIBUTE = -3;    // attribute not valid for this object
constexpr int UI_ERR_BAD_VALUE = -4;        // value out of range or of the wrong type
constexpr int UI_ERR_FILE = -5;             // file missing, unreadable or unwritable
constexpr int UI_ERR_RESOURCE = -6;         // resource not found or malformed
constexpr int UI_ERR_BAD_INDEX = -7;        // list, table, tree or axis index out of range
constexpr int UI_ERR_BAD_MENU = -8;         // no such menu bar, menu or item
constexpr int UI_ERR_BAD_PLOT = -9;         // no such plot
constexpr int UI_ERR_BAD_TOOLBAR = -10;     // no such tool bar or item
constexpr int UI_ERR_NO_MEMORY = -11;
constexpr int UI_ERR_NOT_FOUND = -12;       // key, entry or item not found
constexpr int UI_ERR_BAD_POOL = -13;        // no such thread pool or function
constexpr int UI_ERR_PRINT = -14;           // printing failed

const char *GetUserInterfaceErrorString(int status);

// ---------------------------------------------------------------------------------------------
// Callbacks
using PanelCallbackPtr = int (*)(int panel, int event, void *callbackData, int eventData1,
                                 int eventData2);
using CtrlCallbackPtr = int (*)(int panel, int control, int event, void *callbackData,
                                int eventData1, int eventData2);
using MenuCallbackPtr = void (*)(int menuBar, int menuItem, void *callbackData, int panel);
using DeferredCallbackPtr = void (*)(void *callbackData);
using ThreadFunctionPtr = int (*)(void *functionData);

// Events
constexpr int EVENT_NONE = 0;
constexpr int EVENT_COMMIT = 1;             // the user committed a value or pressed a button
constexpr int EVENT_VAL_CHANGED = 2;        // the value changed (also while a cursor is dragged)
constexpr int EVENT_LEFT_CLICK = 3;
constexpr int EVENT_LEFT_DOUBLE_CLICK = 4;
constexpr int EVENT_RIGHT_CLICK = 5;
constexpr int EVENT_RIGHT_DOUBLE_CLICK = 6;
constexpr int EVENT_KEYPRESS = 7;           // data1 = Qt key code, data2 = modifiers
constexpr int EVENT_GOT_FOCUS = 8;
constexpr int EVENT_LOST_FOCUS = 9;
constexpr int EVENT_CLOSE = 10;             // the user closed the window; it stays open
constexpr int EVENT_PANEL_SIZE = 11;        // the user resized the panel
constexpr int EVENT_PANEL_MOVE = 12;        // the user moved the panel
constexpr int EVENT_DISCARD = 13;           // panel or control is being discarded
constexpr int EVENT_TIMER_TICK = 14;        // timer control; data1/data2 unused
constexpr int EVENT_ZOOM = 15;              // the graph's own zoom changed an axis range
constexpr int EVENT_MOUSE_WHEEL = 16;       // data1 = MOUSE_WHEEL_SMALLER/LARGER, data2 = x
constexpr int EVENT_LEFT_CLICK_UP = 17;     // left button released over the control
constexpr int EVENT_ACTIVE_CELL_CHANGE = 18;// table: data1 = row, data2 = column (from 1)
constexpr int EVENT_MARK_STATE_CHANGE = 19; // tree: data1 = item index, data2 = new mark state
constexpr int EVENT_PANEL_MINIMIZE = 52;
constexpr int EVENT_PANEL_RESTORE = 54;

constexpr int MOUSE_WHEEL_SMALLER = 2;      // wheel turned towards the user
constexpr int MOUSE_WHEEL_LARGER = 3;       // wheel turned away from the user

// ---------------------------------------------------------------------------------------------
// Attributes. Values are int unless noted (d = double, s = text, p = pointer).
constexpr int ATTR_TOP = 1;
constexpr int ATTR_LEFT = 2;
constexpr int ATTR_WIDTH = 3;
constexpr int ATTR_HEIGHT = 4;
constexpr int ATTR_VISIBLE = 5;
constexpr int ATTR_DIMMED = 6;
constexpr int ATTR_TITLE = 7;                   // s, panel caption
constexpr int ATTR_TITLEBAR_VISIBLE = 8;
constexpr int ATTR_SIZABLE = 9;
constexpr int ATTR_FRAME_STYLE = 10;            // VAL_*_FRAME
constexpr int ATTR_CALLBACK_DATA = 11;          // p
constexpr int ATTR_CALLBACK_FUNCTION_POINTER = 12;  // p (PanelCallbackPtr / CtrlCallbackPtr)
constexpr int ATTR_BACKCOLOR = 13;              // panels, buttons, text messages
constexpr int ATTR_PANEL_PARENT = 14;           // 0 for top-level panels
constexpr int ATTR_CONSTANT_NAME = 15;          // s, read only
constexpr int ATTR_WINDOW_ZOOM = 16;            // VAL_NO_ZOOM / VAL_MINIMIZE
constexpr int ATTR_CLOSE_CTRL = 17;             // closing the window commits this control (0: none)
constexpr int ATTR_CTRL_VAL = 20;               // same as Set/GetCtrlVal
constexpr int ATTR_LABEL_TEXT = 21;             // s
constexpr int ATTR_LABEL_FONT = 22;             // s, font family
constexpr int ATTR_LABEL_POINT_SIZE = 23;
constexpr int ATTR_LABEL_VISIBLE = 24;
constexpr int ATTR_TEXT_COLOR = 25;
constexpr int ATTR_TEXT_POINT_SIZE = 26;
constexpr int ATTR_MIN_VALUE = 27;              // d
constexpr int ATTR_MAX_VALUE = 28;              // d
constexpr int ATTR_INCR_VALUE = 29;             // d
constexpr int ATTR_PRECISION = 30;              // decimals of a real numeric
constexpr int ATTR_DATA_TYPE = 31;              // VAL_INTEGER / VAL_DOUBLE (numerics)
constexpr int ATTR_CTRL_STYLE = 32;             // CTRL_*, read only
constexpr int ATTR_CTRL_TAB_POSITION = 33;      // 0-based position in the panel's tab order
constexpr int ATTR_TOOLTIP_TEXT = 34;           // s
constexpr int ATTR_INTERVAL = 35;               // d, timer interval in seconds
constexpr int ATTR_ENABLED = 36;                // timer running
constexpr int ATTR_VISIBLE_LINES = 37;          // text box, read only
constexpr int ATTR_FIRST_VISIBLE_LINE = 38;     // text box, 0-based
constexpr int ATTR_TOTAL_LINES = 39;            // text box, read only
constexpr int ATTR_NUM_CURSORS = 40;            // graph
constexpr int ATTR_XNAME = 41;                  // s, graph x axis title
constexpr int ATTR_YNAME = 42;                  // s, graph y axis title
constexpr int ATTR_ZOOM_X = 43;                 // graph's own zoom and pan along x (wheel, drag)
constexpr int ATTR_ZOOM_Y = 44;
constexpr int ATTR_PLOT_BGCOLOR = 45;
constexpr int ATTR_GRID_COLOR = 46;
constexpr int ATTR_IMAGE_BITMAP = 47;           // picture controls and buttons: bitmap handle
constexpr int ATTR_ACTIVE_CTRL = 48;            // panels: the active (focused) control
constexpr int ATTR_NUM_ROWS = 49;               // tables, read only
constexpr int ATTR_NUM_COLUMNS = 50;            // tables, read only
constexpr int ATTR_CELL_TYPE = 51;              // table cells / columns: VAL_CELL_*
constexpr int ATTR_CELL_DIMMED = 52;
constexpr int ATTR_MARK_TYPE = 53;              // tree items: VAL_MARK_NONE / VAL_MARK_CHECK
constexpr int ATTR_MARK_STATE = 54;             // tree items: 0 / 1
constexpr int ATTR_LABEL = 55;                  // s, list/tree item label
constexpr int ATTR_SPLITTER_POSITION = 56;      // splitter: top (horizontal) or left (vertical)
constexpr int ATTR_LABEL_TOP = 57;              // label position in the panel; once set, the
constexpr int ATTR_LABEL_LEFT = 58;             // label no longer follows the control

// Graph cursors (SetCursorAttribute)
constexpr int ATTR_CURSOR_COLOR = 60;           // colour or VAL_TRANSPARENT
constexpr int ATTR_CROSS_HAIR_STYLE = 61;       // VAL_LONG_CROSS / VAL_VERTICAL_LINE / ...
constexpr int ATTR_CURSOR_MODE = 62;            // VAL_FREE_FORM / VAL_SNAP_TO_POINT / VAL_LOCKED

// Graph plots (SetPlotAttribute)
constexpr int ATTR_TRACE_COLOR = 70;
constexpr int ATTR_LINE_STYLE = 71;
constexpr int ATTR_PLOT_THICKNESS = 72;
constexpr int ATTR_NUM_POINTS = 73;             // read only

// Menu bars (SetMenuBarAttribute)
constexpr int ATTR_CHECKED = 80;
constexpr int ATTR_ITEM_NAME = 81;              // s, label of a menu or item
constexpr int ATTR_MENU_CALLBACK = 82;          // p, MenuCallbackPtr
constexpr int ATTR_MENU_CALLBACK_DATA = 83;     // p
constexpr int ATTR_MENU_DIMMED = 84;
constexpr int ATTR_CHECKABLE = 85;

// Values
constexpr int VAL_NO_FRAME = 0;
constexpr int VAL_RAISED_FRAME = 1;
constexpr int VAL_SUNKEN_FRAME = 2;
constexpr int VAL_NO_ZOOM = 0;
constexpr int VAL_MINIMIZE = 1;

constexpr int VAL_INTEGER = 1;     // int32
constexpr int VAL_DOUBLE = 2;
constexpr int VAL_FLOAT = 3;
constexpr int VAL_SHORT_INTEGER = 4;  // int16
constexpr int VAL_UNSIGNED_INTEGER = 5;

constexpr int VAL_CELL_STRING = 0;
constexpr int VAL_CELL_NUMERIC = 1;   // double
constexpr int VAL_CELL_RING = 2;

constexpr int VAL_MARK_NONE = 0;
constexpr int VAL_MARK_CHECK = 1;

constexpr int VAL_SIBLING = 0;     // tree insertion relative to an item
constexpr int VAL_CHILD = 1;
constexpr int VAL_FIRST = 0;       // position among the siblings
constexpr int VAL_LAST = -1;

// Colours are 0xRRGGBB.
constexpr int VAL_BLACK = 0x000000;
constexpr int VAL_WHITE = 0xFFFFFF;
constexpr int VAL_RED = 0xFF0000;
constexpr int VAL_GREEN = 0x00FF00;
constexpr int VAL_BLUE = 0x0000FF;
constexpr int VAL_YELLOW = 0xFFFF00;
constexpr int VAL_MAGENTA = 0xFF00FF;
constexpr int VAL_CYAN = 0x00FFFF;
constexpr int VAL_GRAY = 0xA0A0A0;
constexpr int VAL_LT_GRAY = 0xC0C0C0;
constexpr int VAL_DK_GRAY = 0x808080;
constexpr int VAL_TRANSPARENT = 0x1000000;

// Graph
constexpr int VAL_XAXIS = 0;
constexpr int VAL_LEFT_YAXIS = 1;
constexpr int VAL_MANUAL = 0;
constexpr int VAL_AUTOSCALE = 1;
constexpr int VAL_NO_CHANGE = 2;
constexpr int VAL_IMMEDIATE_DRAW = 0;
constexpr int VAL_DELAYED_DRAW = 1;
constexpr int VAL_NO_DRAW = 2;
constexpr int VAL_THIN_LINE = 0;       // plot styles
constexpr int VAL_FAT_LINE = 1;
constexpr int VAL_SCATTER = 2;
constexpr int VAL_CONNECTED_POINTS = 3;
constexpr int VAL_SOLID = 0;           // line styles
constexpr int VAL_DASH = 1;
constexpr int VAL_DOT = 2;
constexpr int VAL_EMPTY_SQUARE = 0;    // point styles
constexpr int VAL_SOLID_CIRCLE = 1;
constexpr int VAL_NO_POINT = 2;
constexpr int VAL_LONG_CROSS = 0;      // cross-hair styles
constexpr int VAL_VERTICAL_LINE = 1;
constexpr int VAL_HORIZONTAL_LINE = 2;
constexpr int VAL_SHORT_CROSS = 3;
constexpr int VAL_FREE_FORM = 0;       // cursor modes
constexpr int VAL_SNAP_TO_POINT = 1;
constexpr int VAL_LOCKED = 2;
constexpr int VAL_ALL_PLOTS = -1;

// Key modifiers in mouse states
constexpr int VAL_MENUKEY_MODIFIER = 1;   // Ctrl
constexpr int VAL_SHIFT_MODIFIER = 2;

// Control styles (NewCtrl, ATTR_CTRL_STYLE)
constexpr int CTRL_NUMERIC = 1;
constexpr int CTRL_RING = 2;
constexpr int CTRL_TOGGLE_BUTTON = 3;
constexpr int CTRL_COMMAND_BUTTON = 4;
constexpr int CTRL_PICTURE_BUTTON = 5;        // command button showing a bitmap
constexpr int CTRL_PICTURE_TOGGLE_BUTTON = 6; // toggle button showing a bitmap
constexpr int CTRL_CHECK_BOX = 7;
constexpr int CTRL_STRING = 8;
constexpr int CTRL_TEXT_MSG = 9;
constexpr int CTRL_TEXT_BOX = 10;
constexpr int CTRL_TABLE = 11;
constexpr int CTRL_TREE = 12;
constexpr int CTRL_LIST_BOX = 13;
constexpr int CTRL_GRAPH = 14;
constexpr int CTRL_TIMER = 15;
constexpr int CTRL_SPLITTER = 16;
constexpr int CTRL_PICTURE = 17;
constexpr int CTRL_DECORATION = 18;

struct Point {
    int x;   // column for table cells (from 1)
    int y;   // row for table cells (from 1)
};
inline Point MakePoint(int x, int y) { return Point{x, y}; }
struct Rect {
    int top, left, height, width;
};
inline Rect MakeRect(int top, int left, int height, int width) { return Rect{top, left, height, width}; }

// ---------------------------------------------------------------------------------------------
// Application and event processing
// Creates the Qt application when none exists (every function does so when needed) and puts
// numeric formatting back into the C locale.
int InitUserInterface();
int ProcessSystemEvents();          // runs pending events, timers and deferred calls; re-entrant
int ProcessDrawEvents();            // paints what is pending
int PostDeferredCall(DeferredCallbackPtr function, void *callbackData);  // from any thread
int RunUserInterface();             // loops until QuitUserInterface; returns its code
int QuitUserInterface(int returnCode);
void Delay(double seconds);         // sleeps without processing events
double Timer();                     // seconds since an arbitrary start, monotonic
const char *DateStr();              // "MM-DD-YYYY", per-thread buffer
const char *TimeStr();              // "HH:MM:SS", per-thread buffer
int GetProjectDir(std::string *directory);  // host project's directory (start of file dialogs)
int SetProjectDir(const char *directory);   // overrides it (host, tests)

// Thread pool: worker functions may call any toolkit function.
int NewThreadPool(int numThreads, int *poolHandle);
int ScheduleThreadPoolFunction(int poolHandle, ThreadFunctionPtr function, void *functionData,
                               int *functionId);
// Waits (processing events when called from the panel thread) until the function returned.
int WaitForThreadPoolFunction(int poolHandle, int functionId, int *returnValue);
int DiscardThreadPool(int poolHandle);   // waits for every scheduled function, then releases

// ---------------------------------------------------------------------------------------------
// Panels
// resource: a .ui file, or a directory holding <panelName>.ui (or any .ui whose top-level widget
// has that name). parentPanel 0 makes a top-level window, otherwise a child panel.
int LoadPanel(int parentPanel, const char *resource, const char *panelName);
int NewPanel(int parentPanel, const char *title, int top, int left, int height, int width);
int DiscardPanel(int panel);
int DisplayPanel(int panel);
int HidePanel(int panel);
int InstallPopup(int panel);            // shows it application-modal
int RemovePopup(int panel);             // 0: the most recent popup
int SetPanelAttribute(int panel, int attribute, int value);
int SetPanelAttribute(int panel, int attribute, const char *value);
int SetPanelAttribute(int panel, int attribute, void *value);
int SetPanelAttribute(int panel, int attribute, PanelCallbackPtr value);
int GetPanelAttribute(int panel, int attribute, int *value);
int GetPanelAttribute(int panel, int attribute, std::string *value);
int GetPanelAttribute(int panel, int attribute, void **value);
int SetPanelPos(int panel, int top, int left);
int SetPanelSize(int panel, int height, int width);
int InstallPanelCallback(int panel, PanelCallbackPtr function, void *callbackData);
int GetActivePanel();
int GetActiveCtrl(int panel);
int SetActiveCtrl(int panel, int control);
int GetPanelHandleFromName(const char *panelName);   // first live panel with that constant name

// ---------------------------------------------------------------------------------------------
// Controls
int GetCtrlId(int panel, const char *constantName);   // control id or UI_ERR_BAD_CONTROL
int NewCtrl(int panel, int style, const char *label, int top, int left);
int DiscardCtrl(int panel, int control);
// Copies a control (kind, geometry, value, attributes, callback) into another panel.
int DuplicateCtrl(int sourcePanel, int control, int destPanel, const char *label, int top,
                  int left);
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, const char *value);   // text boxes: appends
int GetCtrlVal(int panel, int control, int *value);
int GetCtrlVal(int panel, int control, double *value);
int GetCtrlVal(int panel, int control, std::string *value);
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, double value);
int SetCtrlAttribute(int panel, int control, int attribute, const char *value);
int SetCtrlAttribute(int panel, int control, int attribute, void *value);
int SetCtrlAttribute(int panel, int control, int attribute, CtrlCallbackPtr value);
int GetCtrlAttribute(int panel, int control, int attribute, int *value);
int GetCtrlAttribute(int panel, int control, int attribute, double *value);
int GetCtrlAttribute(int panel, int control, int attribute, std::string *value);
int GetCtrlAttribute(int panel, int control, int attribute, void **value);
int InstallCtrlCallback(int panel, int control, CtrlCallbackPtr function, void *callbackData);
int SetCtrlBitmap(int panel, int control, int bitmap);   // picture controls and buttons
int GetCtrlBitmap(int panel, int control, int *bitmap);  // a new bitmap handle (discard it)
int DiscardBitmap(int bitmap);
int GetBitmapFromFile(const char *path, int *bitmap);

// Rings and list boxes (index from 0)
int InsertListItem(int panel, int control, int index, const char *label, int value);
int InsertListItem(int panel, int control, int index, const char *label, double value);
int InsertListItem(int panel, int control, int index, const char *label, void *value);
int DeleteListItem(int panel, int control, int index, int count);  // count -1: to the end
int ClearListCtrl(int panel, int control);
int GetNumListItems(int panel, int control, int *count);
int GetCtrlIndex(int panel, int control, int *index);   // -1 when empty
int SetCtrlIndex(int panel, int control, int index);
int GetLabelFromIndex(int panel, int control, int index, std::string *label);
int GetValueFromIndex(int panel, int control, int index, int *value);
int GetValueFromIndex(int panel, int control, int index, double *value);
int GetValueFromIndex(int panel, int control, int index, void **value);

// Text boxes (line index from 0)
int InsertTextBoxLine(int panel, int control, int index, const char *text);  // -1 appends
int GetNumTextBoxLines(int panel, int control, int *count);
int GetTextBoxLine(int panel, int control, int index, std::string *text);
int ResetTextBox(int panel, int control, const char *text);

// Tables (rows and columns from 1)
int InsertTableRows(int panel, int control, int index, int count, int cellType);   // -1 appends
int DeleteTableRows(int panel, int control, int index, int count);  // count -1: to the end
int InsertTableColumns(int panel, int control, int index, int count, int cellType);
int GetNumTableRows(int panel, int control, int *rows);
int GetNumTableColumns(int panel, int control, int *columns);
int SetTableCellVal(int panel, int control, Point cell, int value);
int SetTableCellVal(int panel, int control, Point cell, double value);
int SetTableCellVal(int panel, int control, Point cell, const char *value);  // ring: by label
int GetTableCellVal(int panel, int control, Point cell, int *value);   // ring: index
int GetTableCellVal(int panel, int control, Point cell, double *value);
int GetTableCellVal(int panel, int control, Point cell, std::string *value);  // ring: label
int SetTableCellAttribute(int panel, int control, Point cell, int attribute, int value);
int GetTableCellAttribute(int panel, int control, Point cell, int attribute, int *value);
int SetTableColumnAttribute(int panel, int control, int column, int attribute, int value);
int SetTableColumnAttribute(int panel, int control, int column, int attribute, const char *value);
int InsertTableCellRingItem(int panel, int control, Point cell, int index, const char *label);
int GetActiveTableCell(int panel, int control, Point *cell);
int SetActiveTableCell(int panel, int control, Point cell);
int SetTableSelection(int panel, int control, Rect cells);  // top row, left column, rows, columns
int GetTableSelection(int panel, int control, Rect *cells);

// Trees (item index from 0 in insertion order across the whole tree)
// relation VAL_SIBLING/VAL_CHILD of relativeIndex (-1 with VAL_CHILD: top level); position
// VAL_FIRST or VAL_LAST among those siblings. Returns the new item's index.
int InsertTreeItem(int panel, int control, int relation, int relativeIndex, int position,
                   const char *label, void *value);
int InsertTreeItem(int panel, int control, int relation, int relativeIndex, int position,
                   const char *label, int value);
int GetNumTreeItems(int panel, int control, int *count);
int GetTreeItemParent(int panel, int control, int index, int *parent);   // -1 top level
int GetTreeItemNumChildren(int panel, int control, int index, int *count);
int GetTreeItemChild(int panel, int control, int index, int n, int *child);
int SetTreeItemAttribute(int panel, int control, int index, int attribute, int value);
int SetTreeItemAttribute(int panel, int control, int index, int attribute, const char *value);
int GetTreeItemAttribute(int panel, int control, int index, int attribute, int *value);
int GetTreeItemAttribute(int panel, int control, int index, int attribute, std::string *value);
int SetActiveTreeItem(int panel, int control, int index);
int GetActiveTreeItem(int panel, int control, int *index);
int ClearTree(int panel, int control);

// Splitters: controls whose edge follows the splitter when the user drags it.
constexpr int VAL_TOP_EDGE = 1;     // for horizontal splitters: the control above/below
constexpr int VAL_BOTTOM_EDGE = 2;
constexpr int VAL_LEFT_EDGE = 3;    // for vertical splitters
constexpr int VAL_RIGHT_EDGE = 4;
int AddCtrlToSplitter(int panel, int splitter, int control, int edge);
int OperateSplitter(int panel, int splitter, int offset);  // moves as if dragged, then commits

// ---------------------------------------------------------------------------------------------
// Graphs
// Waveform: y[i] * gain + offset at x = initialX + i * xIncrement. The graph keeps one copy of the
// values and hands the widget about two points per pixel column of the visible range.
int PlotWaveform(int panel, int control, const void *y, size_t count, int dataType, double gain,
                 double offset, double initialX, double xIncrement, int plotStyle,
                 int pointStyle, int lineStyle, int pointFrequency, int color);
int PlotXY(int panel, int control, const void *x, const void *y, size_t count, int xType,
           int yType, int plotStyle, int pointStyle, int lineStyle, int pointFrequency, int color);
int DeleteGraphPlot(int panel, int control, int plot, int refresh);  // plot -1: all
int RefreshGraph(int panel, int control);
int SetPlotAttribute(int panel, int control, int plot, int attribute, int value);
int GetPlotAttribute(int panel, int control, int plot, int attribute, int *value);
int SetAxisRange(int panel, int control, int xMode, double xMin, double xMax, int yMode,
                 double yMin, double yMax);
int GetAxisRange(int panel, int control, int *xMode, double *xMin, double *xMax, int *yMode,
                 double *yMin, double *yMax);
int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max);
int GetAxisScalingMode(int panel, int control, int axis, int *mode, double *min, double *max);
// Custom labels: once an axis has any, it shows only them.
int InsertAxisItem(int panel, int control, int axis, int index, const char *label, double value);
int ReplaceAxisItem(int panel, int control, int axis, int index, const char *label, double value);
int DeleteAxisItem(int panel, int control, int axis, int index, int count);  // count -1: all
int GetNumAxisItems(int panel, int control, int axis, int *count);
// Cursors are numbered from 1.
int SetCursorAttribute(int panel, int control, int cursor, int attribute, int value);
int GetCursorAttribute(int panel, int control, int cursor, int attribute, int *value);
int SetGraphCursor(int panel, int control, int cursor, double x, double y);
int GetGraphCursor(int panel, int control, int cursor, double *x, double *y);
int SetGraphCursorIndex(int panel, int control, int cursor, int plot, int index);
int GetGraphCursorIndex(int panel, int control, int cursor, int *plot, int *index);
int SetActiveGraphCursor(int panel, int control, int cursor);
int GetActiveGraphCursor(int panel, int control, int *cursor);
// pixel: panel coordinates (x horizontal, y vertical)
int GetGraphCoordsFromPoint(int panel, int control, Point pixel, double *x, double *y);
int GetGraphPointFromCoords(int panel, int control, double x, double y, Point *pixel);
// Mouse over a control: position in panel coordinates, buttons held, VAL_*_MODIFIER bits.
int GetRelativeMouseState(int panel, int control, int *x, int *y, int *leftDown, int *rightDown,
                          int *keyModifiers);

// ---------------------------------------------------------------------------------------------
// Menus. Menus and items of a menu bar share one id space; GetMenuItemId resolves the object
// name of a QMenu or QAction of the .ui file.
int LoadMenuBar(int panel, const char *resource, const char *menuBarName);  // panel 0: detached
int NewMenuBar(int panel);
int NewMenu(int menuBar, const char *label, int beforeMenu);            // -1 appends
int NewSubMenu(int menuBar, int menuItem);                              // returns the sub-menu
int NewMenuItem(int menuBar, int menu, const char *label, int beforeItem, MenuCallbackPtr callback,
                void *callbackData);
int InsertSeparator(int menuBar, int menu, int beforeItem);
int DiscardMenuBar(int menuBar);
int SetPanelMenuBar(int panel, int menuBar);
int GetPanelMenuBar(int panel, int *menuBar);
int GetMenuItemId(int menuBar, const char *constantName);
int SetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, int value);
int SetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, const char *value);
int SetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, void *value);
int SetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, MenuCallbackPtr value);
int GetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, int *value);
int GetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, std::string *value);
int GetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, void **value);
int InstallMenuCallback(int menuBar, int menuOrItem, MenuCallbackPtr callback, void *callbackData);
int GetMenuItems(int menuBar, int menu, std::vector<int> *items);      // direct items, in order

// ---------------------------------------------------------------------------------------------
// Tool bars: a row of items on a panel of its own, placed on a backing panel. Items are controls
// of that panel, so their callbacks get the tool-bar panel and the item's control.
constexpr int TOOLBAR_SEPARATOR = 0;      // also a filler when wider than 2 pixels
constexpr int TOOLBAR_COMMAND_BUTTON = 1;
constexpr int TOOLBAR_TOGGLE_BUTTON = 2;
constexpr int TOOLBAR_MENU_BUTTON = 6;    // button with a pull-down menu
constexpr int TOOLBAR_CONTROL = 7;        // slot for an embedded control of a small panel
constexpr int TOOLBAR_CALLBACK_COMMIT = 0;  // callback kind: fire on commit only
constexpr int TOOLBAR_CALLBACK_ALL = 1;     // fire on every event of the item's control

constexpr int ATTR_TB_ACTIVE = 100;
constexpr int ATTR_TB_VISIBLE = 101;
constexpr int ATTR_TB_DESCRIPTION = 102;  // s, tooltip
constexpr int ATTR_TB_IMAGE = 103;        // bitmap handle
constexpr int ATTR_TB_STATE = 104;        // toggle state; command buttons: shown pressed
constexpr int ATTR_TB_WIDTH = 105;
constexpr int ATTR_TB_CALLBACK_DATA = 106;  // p, of an item, or of the tool bar (index 0)
constexpr int ATTR_TB_MENU_BAR = 107;     // pull-down menu bar of a menu button
constexpr int ATTR_TB_BACKGROUND_IMAGE = 108;  // tool bar (index 0): bitmap handle
constexpr int ATTR_TB_ITEM_TYPE = 109;    // read only

// The tool bar is created on `panel` at (top, left), `height` and `width` 0 fit it to the panel.
int NewToolBar(int panel, int top, int left, int height, int width, int buttonSize);
int DiscardToolBar(int toolBar);
int GetToolBarPanel(int toolBar, int *panel);
// Returns the item's index (from 1).
int InsertToolBarItem(int toolBar, int position, int itemType, int active, const char *description,
                      int callbackKind, CtrlCallbackPtr callback, void *callbackData);
int GetNumToolBarItems(int toolBar, int *count);
int GetToolBarItemCtrl(int toolBar, int index, int *panel, int *control);
int SetToolBarItemAttribute(int toolBar, int index, int attribute, int value);
int SetToolBarItemAttribute(int toolBar, int index, int attribute, const char *value);
int SetToolBarItemAttribute(int toolBar, int index, int attribute, void *value);
int GetToolBarItemAttribute(int toolBar, int index, int attribute, int *value);
int GetToolBarItemAttribute(int toolBar, int index, int attribute, std::string *value);
int GetToolBarItemAttribute(int toolBar, int index, int attribute, void **value);
// From a callback: the tool bar and item whose control fired, and its callback data.
int GetToolBarFromCtrl(int panel, int control, int *toolBar, int *index);
int GetToolBarCallbackData(int panel, int control, void **callbackData);

// ---------------------------------------------------------------------------------------------
// Popups. Each can be answered by a test (see ScriptPopupAnswer); without an answer and with no
// display (offscreen platform) a popup returns its cancel answer at once, so tests never block.
constexpr int VAL_GENERIC_POPUP_BTN1 = 1;
constexpr int VAL_GENERIC_POPUP_BTN2 = 2;
constexpr int VAL_GENERIC_POPUP_BTN3 = 3;
constexpr int VAL_LOAD_BUTTON = 0;
constexpr int VAL_SAVE_BUTTON = 1;
constexpr int VAL_OK_BUTTON = 2;
constexpr int VAL_NO_FILE_SELECTED = 0;
constexpr int VAL_EXISTING_FILE_SELECTED = 1;
constexpr int VAL_NEW_FILE_SELECTED = 2;

int MessagePopup(const char *title, const char *message);
// Returns the button number chosen (Escape gives escapeButton).
int GenericMessagePopup(const char *title, const char *message, const char *button1,
                        const char *button2, const char *button3, int enterButton,
                        int escapeButton);
// fileSpec: default name or pattern ("*.cfg"); typeList: patterns separated by ';'.
int FileSelectPopup(const char *defaultDirectory, const char *fileSpec, const char *typeList,
                    const char *title, int buttonKind, int allowCancel, std::string *path);
int XYGraphPopup(const char *title, const void *x, const void *y, size_t count, int xType,
                 int yType);
int SetWaitCursor(int on);
int GetWaitCursorState();

// ---------------------------------------------------------------------------------------------
// Printing. outputFile set: the panel goes to that PDF file without a dialog. Otherwise the
// print dialog is shown (with no display: the file named by SetPrintOutputFile or the
// environment variable TARQ_PRINT_PDF, else nothing is printed and UI_ERR_PRINT returned).
int PrintPanel(int panel, const char *outputFile, int scaleToPaper, int promptUser);
int SetPrintOutputFile(const char *pdfPath);   // nullptr or "" restores the dialog

// ---------------------------------------------------------------------------------------------
// Ini files: sections of "key = value" lines. Section and key names compare case-insensitively;
// entries are written in insertion order. With duplicate checking (the default) putting an
// existing key replaces its value in place; without it every put appends an entry, and reading
// keeps every line (Get finds the first). Reading skips lines it cannot understand.
struct IniTextRecord;
using IniText = IniTextRecord *;
IniText Ini_New(int automaticSorting);
void Ini_Dispose(IniText ini);
int Ini_SetDuplicateChecking(IniText ini, int check);
int Ini_ReadFromFile(IniText ini, const char *path);
int Ini_WriteToFile(IniText ini, const char *path);   // all or nothing (temporary, then rename)
int Ini_PutInt(IniText ini, const char *section, const char *key, int value);
int Ini_PutDouble(IniText ini, const char *section, const char *key, double value);
int Ini_PutString(IniText ini, const char *section, const char *key, const char *value);
// Get: 1 found, 0 missing (value unchanged), negative: present but not of that type.
int Ini_GetInt(IniText ini, const char *section, const char *key, int *value);
int Ini_GetDouble(IniText ini, const char *section, const char *key, double *value);
int Ini_GetString(IniText ini, const char *section, const char *key, std::string *value);
int Ini_NumberOfItems(IniText ini, const char *section);
int Ini_RemoveItem(IniText ini, const char *section, const char *key);

// ---------------------------------------------------------------------------------------------
// Language files (UTF-8 text, see platform/ui/README.md):
//   # comment
//   [MAIN]                      resource name of a panel or menu bar; [*] applies to all
//   Файл = File                 source text = translation
//   "Сброс экрана " = "Reset screen"   quotes keep blanks; \n \t \\ \" \= are escapes
// Every text of the panel or menu bar (caption, labels, button texts, ring, list and tree
// items, table headers and ring cells, tooltips, menu titles and items) found on the left is
// replaced. A missing file or entry leaves the text as loaded.
int LocalizePanel(int panel, const char *languageFile);
int LocalizeMenuBar(int menuBar, const char *languageFile);

// ---------------------------------------------------------------------------------------------
// Test support: scripted popups and mouse state.
struct PopupRecord {
    std::string kind;      // "message", "generic", "file", "xygraph", "print"
    std::string title;
    std::string message;
    int answer;
};
// Queues the answer of the next popup: a button number, or for file popups the
// VAL_*_SELECTED result with `path`.
void ScriptPopupAnswer(int answer, const char *path = nullptr);
void ClearPopupScript();
std::vector<PopupRecord> TakePopupLog();      // popups shown since the last call
// While active, mouse-state queries report these values instead of the real mouse.
void SimulateMouseState(int active, int leftDown, int rightDown, int keyModifiers);
// Fires a menu item as if the user chose it.
int ActivateMenuItem(int menuBar, int menuItem);
