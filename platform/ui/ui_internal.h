// Internal structures of the panel toolkit shared by its translation units. Only ui_graph.cpp
// includes qcustomplot.h; everything else sees graphs through the functions declared here.
#pragma once

#include "tarq_ui.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace tarq_ui {

void ensureApplication();

// Runs f in the panel thread and returns its result.
template <class F>
int onGui(F &&f) {
    ensureApplication();
    if (QThread::currentThread() == qApp->thread()) return f();
    int result = 0;
    QMetaObject::invokeMethod(qApp, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

class GraphWidget;
}  // namespace tarq_ui
class QTreeWidgetItem;
namespace tarq_ui {

struct Control {
    int id = 0;
    int panel = 0;
    QString name;
    int style = 0;
    QPointer<QWidget> widget;
    QPointer<QLabel> label;            // label shown above the control, if any
    CtrlCallbackPtr callback = nullptr;
    void *callbackData = nullptr;
    bool commitOnly = false;           // tool-bar items fired on commit only
    int dataType = VAL_DOUBLE;         // numerics
    int textColor = -1;
    int backColor = -1;
    int labelPointSize = 0;
    bool labelPinned = false;          // placed by the program, not above the control
    QString labelFont;
    QTimer *timer = nullptr;           // timer controls
    double interval = 1.0;
    std::vector<std::pair<int, int>> splitterCtrls;   // (control, edge)
    int toolBar = 0;                   // tool bar and item this control represents
    int toolBarItem = 0;
    std::vector<QTreeWidgetItem *> treeItems;   // tree items by index (insertion order)
    int programmatic = 0;              // >0 while the toolkit itself changes the widget
};

class PanelWidget;

struct Panel {
    int handle = 0;
    int parent = 0;
    QString name;
    QPointer<QWidget> widget;
    QPointer<QWidget> decoration;      // frame and title bar of a child panel
    QPointer<QLabel> titleLabel;
    PanelCallbackPtr callback = nullptr;
    void *callbackData = nullptr;
    std::map<int, std::unique_ptr<Control>> controls;
    int nextId = 2;
    int menuBar = 0;
    int frameStyle = VAL_NO_FRAME;
    bool titleBar = true;
    bool sizable = true;
    int backColor = -1;
    bool shown = false;                // visible as the program asked
    QRect knownGeometry;               // last geometry set or reported, to spot user changes
    int suppressEvents = 0;
    bool minimized = false;
    int activeCtrl = 0;
    int closeCtrl = 0;                 // commits when the user closes the window
    std::vector<int> tabOrder;
};

Panel *findPanel(int handle);
Control *findControl(int panel, int control);
Control *controlOfWidget(const QWidget *w);   // walks up the parents
int registerControl(Panel &p, QWidget *w, int style, const QString &name, int fixedId);
void applyLabel(Control &c, const QString &text);
void placeLabel(Control &c);
// Calls the control's callback; returns its result (nonzero swallows).
int fireCtrl(int panel, int control, int event, int data1, int data2);
int firePanel(int panel, int event, int data1, int data2);
QString fromUtf8(const char *s);
QColor toColor(int rgb);
int fromColor(const QColor &c);

// Mouse state as the toolkit reports it (simulated in tests).
void currentMouseState(int *left, int *right, int *modifiers);

// Graphs (ui_graph.cpp)
QWidget *createGraph(QWidget *parent);
GraphWidget *asGraph(QWidget *w);
void graphBind(GraphWidget *g, int panel, int control);
int graphSetAttribute(GraphWidget *g, int attribute, int value);
int graphSetAttribute(GraphWidget *g, int attribute, const QString &value);
int graphGetAttribute(GraphWidget *g, int attribute, int *value);
int graphGetAttribute(GraphWidget *g, int attribute, QString *value);
int graphPlotXY(GraphWidget *g, const void *x, const void *y, size_t count, int xType, int yType,
                int plotStyle, int pointStyle, int lineStyle, int color);

// Menus (ui_menu.cpp)
QMenuBar *menuBarWidget(int menuBar);
int menuBarOfPanelDiscarded(int panel);
QMenu *menuForPullDown(int menuBar);
void setMenuBarOwner(int menuBar, int panel);   // panel passed to the callbacks of a pull-down

// .ui resources (ui_resource.cpp)
struct UiNode {
    QString cls;
    QString name;
    QVariantMap props;           // geometry -> QRect, strings, numbers, bools, colours, pixmaps
    QStringList items;           // combo/list items
    QStringList columns;         // table column headers
    QStringList rows;            // table row headers
    struct TreeItem {
        QString text;
        std::vector<TreeItem> children;
    };
    std::vector<TreeItem> treeItems;
    QStringList addActions;      // menus/menu bars: names of actions or menus, "separator"
    std::vector<UiNode> children;
    QString baseDir;             // for relative pixmap paths
};
struct UiAction {
    QString name, text, toolTip;
    bool checkable = false, checked = false, enabled = true;
};
struct UiFile {
    UiNode top;
    std::map<QString, UiAction> actions;
};
// Finds the .ui node of a top-level panel (cls != QMenuBar) or of a QMenuBar by name.
const UiFile *findUiResource(const char *resource, const QString &name, bool menuBar,
                             const UiNode **node);
const UiNode *findChild(const UiNode &n, const QString &name);

// Language files (ui_util.cpp)
using Translation = std::map<QString, QString>;
int loadTranslation(const char *file, const QString &section, Translation *t);

// Bitmaps
int storeBitmap(const QPixmap &p);
const QPixmap *bitmap(int handle);

}  // namespace tarq_ui
