// Application, panels, event dispatch, event processing, deferred calls, thread pools, time.
#include "ui_internal.h"
#include "tarq_ui_qt.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>
#include <QWindowStateChangeEvent>

#include <atomic>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace tarq_ui {

// ---------------------------------------------------------------------------------------------
// Registry

namespace {
std::map<int, std::unique_ptr<Panel>> panels;
int nextPanelHandle = 1;
std::vector<int> popupStack;
std::map<int, QPixmap> bitmaps;
int nextBitmap = 1;
bool initialized = false;

std::mutex mouseMutex;
bool mouseSimulated = false;
int simLeft = 0, simRight = 0, simModifiers = 0;
}  // namespace

Panel *findPanel(int handle) {
    auto it = panels.find(handle);
    return it == panels.end() ? nullptr : it->second.get();
}

Control *findControl(int panel, int control) {
    Panel *p = findPanel(panel);
    if (!p) return nullptr;
    auto it = p->controls.find(control);
    return it == p->controls.end() ? nullptr : it->second.get();
}

Control *controlOfWidget(const QWidget *w) {
    for (const QWidget *x = w; x; x = x->parentWidget()) {
        QVariant panel = x->property("tarqPanel");
        QVariant ctrl = x->property("tarqCtrl");
        if (panel.isValid() && ctrl.isValid()) return findControl(panel.toInt(), ctrl.toInt());
        if (panel.isValid()) return nullptr;   // reached a panel: not inside a control
    }
    return nullptr;
}

QString fromUtf8(const char *s) { return s ? QString::fromUtf8(s) : QString(); }
QColor toColor(int rgb) {
    if (rgb & VAL_TRANSPARENT) return QColor(0, 0, 0, 0);
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}
int fromColor(const QColor &c) {
    if (c.alpha() == 0) return VAL_TRANSPARENT;
    return (c.red() << 16) | (c.green() << 8) | c.blue();
}

int storeBitmap(const QPixmap &p) {
    int h = nextBitmap++;
    bitmaps[h] = p;
    return h;
}
const QPixmap *bitmap(int handle) {
    auto it = bitmaps.find(handle);
    return it == bitmaps.end() ? nullptr : &it->second;
}

void currentMouseState(int *left, int *right, int *modifiers) {
    {
        std::lock_guard<std::mutex> lock(mouseMutex);
        if (mouseSimulated) {
            *left = simLeft;
            *right = simRight;
            *modifiers = simModifiers;
            return;
        }
    }
    Qt::MouseButtons b = QGuiApplication::mouseButtons();
    Qt::KeyboardModifiers k = QGuiApplication::queryKeyboardModifiers();
    *left = (b & Qt::LeftButton) ? 1 : 0;
    *right = (b & Qt::RightButton) ? 1 : 0;
    *modifiers = ((k & Qt::ControlModifier) ? VAL_MENUKEY_MODIFIER : 0) |
                 ((k & Qt::ShiftModifier) ? VAL_SHIFT_MODIFIER : 0);
}

int fireCtrl(int panel, int control, int event, int data1, int data2) {
    Control *c = findControl(panel, control);
    if (!c || !c->callback) return 0;
    if (c->commitOnly && event != EVENT_COMMIT) return 0;
    CtrlCallbackPtr cb = c->callback;
    void *data = c->callbackData;
    return cb(panel, control, event, data, data1, data2);   // c may be gone afterwards
}

int firePanel(int panel, int event, int data1, int data2) {
    Panel *p = findPanel(panel);
    if (!p || !p->callback) return 0;
    PanelCallbackPtr cb = p->callback;
    void *data = p->callbackData;
    return cb(panel, event, data, data1, data2);
}

// ---------------------------------------------------------------------------------------------
// Panel widget: reports user closing, sizing, moving, minimising and restoring.

class PanelWidget : public QWidget {
public:
    PanelWidget(int handle, QWidget *parent) : QWidget(parent), handle_(handle) {
        setProperty("tarqPanel", handle);
    }

protected:
    bool event(QEvent *e) override {
        Panel *p = findPanel(handle_);
        if (!p) return QWidget::event(e);
        switch (e->type()) {
        case QEvent::Close:
            e->ignore();   // the program decides what closing means
            if (p->closeCtrl && findControl(handle_, p->closeCtrl))
                fireCtrl(handle_, p->closeCtrl, EVENT_COMMIT, 0, 0);
            else
                firePanel(handle_, EVENT_CLOSE, 0, 0);
            return true;
        case QEvent::Resize:
        case QEvent::Move: {
            bool r = QWidget::event(e);
            if (QMenuBar *mb = p->menuBar ? menuBarWidget(p->menuBar) : nullptr)
                mb->setGeometry(0, 0, width(), mb->sizeHint().height());
            if (p->decoration) updateDecoration(*p);
            QRect g = geometry();
            if (p->suppressEvents == 0 && p->knownGeometry.isValid() && g != p->knownGeometry &&
                isVisible()) {
                bool sized = g.size() != p->knownGeometry.size();
                p->knownGeometry = g;
                firePanel(handle_, sized ? EVENT_PANEL_SIZE : EVENT_PANEL_MOVE, 0, 0);
            } else {
                p->knownGeometry = g;
            }
            return r;
        }
        case QEvent::WindowStateChange: {
            bool r = QWidget::event(e);
            bool minimized = windowState() & Qt::WindowMinimized;
            if (minimized != p->minimized) {
                p->minimized = minimized;
                firePanel(handle_, minimized ? EVENT_PANEL_MINIMIZE : EVENT_PANEL_RESTORE, 0, 0);
            }
            return r;
        }
        case QEvent::WindowActivate: {
            bool r = QWidget::event(e);
            firePanel(handle_, EVENT_GOT_FOCUS, 0, 0);
            return r;
        }
        default:
            return QWidget::event(e);
        }
    }

    // A child panel the user may size is sized by dragging its edges (a top-level window is
    // sized by the window manager).
    int edgesAt(const QPoint &pos) const {
        Panel *p = findPanel(handle_);
        if (!p || !p->parent || !p->sizable) return 0;
        const int m = 4;
        int e = 0;
        if (pos.x() < m) e |= 1;
        if (pos.x() >= width() - m) e |= 2;
        if (pos.y() < m) e |= 4;
        if (pos.y() >= height() - m) e |= 8;
        return e;
    }
    void mousePressEvent(QMouseEvent *e) override {
        if (Panel *p = findPanel(handle_); p && p->parent) setFocus(Qt::MouseFocusReason);
        drag_ = e->button() == Qt::LeftButton ? edgesAt(e->position().toPoint()) : 0;
        start_ = e->globalPosition().toPoint();
        startGeometry_ = geometry();
        if (!drag_) QWidget::mousePressEvent(e);
    }
    void mouseMoveEvent(QMouseEvent *e) override {
        if (!drag_) {
            int edges = edgesAt(e->position().toPoint());
            setCursor((edges & 3) && (edges & 12) ? Qt::SizeFDiagCursor
                      : (edges & 3) ? Qt::SizeHorCursor
                      : (edges & 12) ? Qt::SizeVerCursor : Qt::ArrowCursor);
            QWidget::mouseMoveEvent(e);
            return;
        }
        QPoint d = e->globalPosition().toPoint() - start_;
        QRect g = startGeometry_;
        if (drag_ & 1) g.setLeft(std::min(g.left() + d.x(), g.right() - 1));
        if (drag_ & 2) g.setRight(std::max(g.right() + d.x(), g.left() + 1));
        if (drag_ & 4) g.setTop(std::min(g.top() + d.y(), g.bottom() - 1));
        if (drag_ & 8) g.setBottom(std::max(g.bottom() + d.y(), g.top() + 1));
        setGeometry(g);
    }
    void mouseReleaseEvent(QMouseEvent *e) override {
        if (!drag_) QWidget::mouseReleaseEvent(e);
        drag_ = 0;
    }

public:
    static void updateDecoration(Panel &p) {
        if (!p.decoration || !p.widget) return;
        const int frame = p.frameStyle == VAL_NO_FRAME ? 0 : 2;
        const int title = p.titleBar ? 20 : 0;
        QRect g = p.widget->geometry();
        p.decoration->setGeometry(g.x() - frame, g.y() - frame - title, g.width() + 2 * frame,
                                  g.height() + 2 * frame + title);
        if (p.titleLabel) {
            p.titleLabel->setGeometry(frame, frame, g.width(), title);
            p.titleLabel->setVisible(title > 0);
        }
        p.decoration->setVisible(p.widget->isVisibleTo(p.widget->parentWidget()) &&
                                 (frame > 0 || title > 0));
        p.decoration->stackUnder(p.widget);
    }

private:
    int handle_;
    int drag_ = 0;
    QPoint start_;
    QRect startGeometry_;
};

// Title bar of a child panel: dragging it moves the panel.
class TitleBar : public QLabel {
public:
    TitleBar(int panel, QWidget *parent) : QLabel(parent), panel_(panel) {}

protected:
    void mousePressEvent(QMouseEvent *e) override {
        tarq_ui::Panel *p = findPanel(panel_);   // (QFrame has a Panel of its own)
        if (e->button() != Qt::LeftButton || !p || !p->widget) return;
        dragging_ = true;
        start_ = e->globalPosition().toPoint();
        startPos_ = p->widget->pos();
    }
    void mouseMoveEvent(QMouseEvent *e) override {
        tarq_ui::Panel *p = findPanel(panel_);   // (QFrame has a Panel of its own)
        if (!dragging_ || !p || !p->widget) return;
        p->widget->move(startPos_ + e->globalPosition().toPoint() - start_);
    }
    void mouseReleaseEvent(QMouseEvent *) override { dragging_ = false; }

private:
    int panel_;
    bool dragging_ = false;
    QPoint start_, startPos_;
};

namespace {

void updatePanelDecoration(Panel &p) {
    if (!p.widget || !p.parent) return;
    if (!p.decoration) {
        if (p.frameStyle == VAL_NO_FRAME && !p.titleBar) return;
        auto *frame = new QFrame(p.widget->parentWidget());
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        frame->setLineWidth(2);
        auto *title = new TitleBar(p.handle, frame);
        title->setAutoFillBackground(true);
        QPalette pal = title->palette();
        pal.setColor(QPalette::Window, QColor(0x30, 0x50, 0x90));
        pal.setColor(QPalette::WindowText, Qt::white);
        title->setPalette(pal);
        title->setIndent(4);
        title->setText(p.widget->windowTitle());
        p.decoration = frame;
        p.titleLabel = title;
    }
    auto *frame = static_cast<QFrame *>(p.decoration.data());
    frame->setFrameStyle(p.frameStyle == VAL_NO_FRAME ? QFrame::NoFrame
                         : p.frameStyle == VAL_RAISED_FRAME ? (QFrame::Panel | QFrame::Raised)
                                                            : (QFrame::Panel | QFrame::Sunken));
    PanelWidget::updateDecoration(p);
}

void applyPanelFlags(Panel &p) {
    if (!p.widget || p.parent) return;
    Qt::WindowFlags f = Qt::Window;
    if (!p.titleBar) f |= Qt::FramelessWindowHint;
    else f |= Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
              Qt::WindowCloseButtonHint | (p.sizable ? Qt::WindowMaximizeButtonHint : Qt::WindowType(0));
    bool visible = p.widget->isVisible();
    QRect g = p.widget->geometry();
    p.widget->setWindowFlags(f);
    if (p.sizable) {
        p.widget->setMinimumSize(1, 1);
        p.widget->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        p.widget->setFixedSize(g.size());
    }
    p.widget->setGeometry(g);
    if (visible) p.widget->show();
}

class EventRouter : public QObject {
public:
    bool eventFilter(QObject *o, QEvent *e) override {
        const QEvent::Type t = e->type();
        if (t != QEvent::MouseButtonPress && t != QEvent::MouseButtonDblClick &&
            t != QEvent::MouseButtonRelease && t != QEvent::Wheel && t != QEvent::KeyPress)
            return false;
        if (!o->isWidgetType()) return false;
        // Qt offers an event the control ignored to its parents (as a copy with the same time
        // stamp and position): a control answers each user action once.
        auto *ie = static_cast<QInputEvent *>(e);
        auto *w = static_cast<QWidget *>(o);
        Control *c = controlOfWidget(w);
        if (!c || !c->callback) return false;
        QPointF where;
        if (t == QEvent::Wheel) where = static_cast<QWheelEvent *>(e)->globalPosition();
        else if (t != QEvent::KeyPress) where = static_cast<QMouseEvent *>(e)->globalPosition();
        if (t == lastType_ && ie->timestamp() == lastStamp_ && where == lastWhere_ &&
            c->panel == lastPanel_ && c->id == lastCtrl_ && t != QEvent::KeyPress)
            return lastResult_;
        lastType_ = t;
        lastStamp_ = ie->timestamp();
        lastWhere_ = where;
        lastPanel_ = c->panel;
        lastCtrl_ = c->id;
        lastResult_ = false;
        Panel *p = findPanel(c->panel);
        if (!p || !p->widget) return false;
        const int panel = c->panel, ctrl = c->id;
        int result = 0;
        if (t == QEvent::KeyPress) {
            auto *ke = static_cast<QKeyEvent *>(e);
            result = fireCtrl(panel, ctrl, EVENT_KEYPRESS, ke->key(), int(ke->modifiers()));
        } else if (t == QEvent::Wheel) {
            auto *we = static_cast<QWheelEvent *>(e);
            QPoint pos = p->widget->mapFromGlobal(we->globalPosition().toPoint());
            int delta = we->angleDelta().y() != 0 ? we->angleDelta().y() : we->angleDelta().x();
            if (delta == 0) return false;
            result = fireCtrl(panel, ctrl, EVENT_MOUSE_WHEEL,
                              delta > 0 ? MOUSE_WHEEL_LARGER : MOUSE_WHEEL_SMALLER, pos.x());
        } else {
            auto *me = static_cast<QMouseEvent *>(e);
            QPoint pos = p->widget->mapFromGlobal(me->globalPosition().toPoint());
            int ev = EVENT_NONE;
            if (t == QEvent::MouseButtonPress)
                ev = me->button() == Qt::LeftButton ? EVENT_LEFT_CLICK
                     : me->button() == Qt::RightButton ? EVENT_RIGHT_CLICK : EVENT_NONE;
            else if (t == QEvent::MouseButtonDblClick)
                ev = me->button() == Qt::LeftButton ? EVENT_LEFT_DOUBLE_CLICK
                     : me->button() == Qt::RightButton ? EVENT_RIGHT_DOUBLE_CLICK : EVENT_NONE;
            else if (me->button() == Qt::LeftButton)
                ev = EVENT_LEFT_CLICK_UP;
            if (ev == EVENT_NONE) return false;
            result = fireCtrl(panel, ctrl, ev, pos.y(), pos.x());
        }
        lastResult_ = result != 0;
        return lastResult_;
    }

private:
    QEvent::Type lastType_ = QEvent::None;
    quint64 lastStamp_ = 0;
    QPointF lastWhere_;
    int lastPanel_ = 0, lastCtrl_ = 0;
    bool lastResult_ = false;
};

// The panel a widget belongs to (its own panel for a panel widget), 0 for none.
int panelOfWidget(const QWidget *w) {
    for (const QWidget *x = w; x; x = x->parentWidget()) {
        QVariant panel = x->property("tarqPanel");
        if (panel.isValid()) return panel.toInt();
    }
    return 0;
}

void focusChanged(QWidget *old, QWidget *now) {
    // Child panels have no window to activate: they gain and lose the focus with their controls
    // (top-level panels report window activation instead).
    const int oldPanel = old ? panelOfWidget(old) : 0, newPanel = now ? panelOfWidget(now) : 0;
    if (oldPanel != newPanel) {
        if (Panel *p = findPanel(oldPanel); p && p->parent) firePanel(oldPanel, EVENT_LOST_FOCUS, 0, 0);
        if (Panel *p = findPanel(newPanel); p && p->parent) firePanel(newPanel, EVENT_GOT_FOCUS, 0, 0);
    }
    Control *a = old ? controlOfWidget(old) : nullptr;
    Control *b = now ? controlOfWidget(now) : nullptr;
    int ap = a ? a->panel : 0, ac = a ? a->id : 0;
    int bp = b ? b->panel : 0, bc = b ? b->id : 0;
    if (ap == bp && ac == bc) return;
    if (b) {
        if (Panel *p = findPanel(bp)) p->activeCtrl = bc;
    }
    if (a) fireCtrl(ap, ac, EVENT_LOST_FOCUS, 0, 0);
    if (b) fireCtrl(bp, bc, EVENT_GOT_FOCUS, 0, 0);
}

void initOnce() {
    if (initialized) return;
    initialized = true;
    // Qt set the process locale from the environment; numbers stay in the C locale.
    std::setlocale(LC_NUMERIC, "C");
    qApp->installEventFilter(new EventRouter);
    QObject::connect(qApp, &QApplication::focusChanged, focusChanged);
}

int argcStore = 1;
char argv0[] = "tarq";
char *argvStore[] = {argv0, nullptr};

}  // namespace

void ensureApplication() {
    if (!QCoreApplication::instance()) {
        // Without a display Qt would abort; such a process gets the offscreen platform.
        if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") &&
            !std::getenv("WAYLAND_DISPLAY"))
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        new QApplication(argcStore, argvStore);
    }
    if (!initialized) {
        if (QThread::currentThread() == qApp->thread()) initOnce();
        else QMetaObject::invokeMethod(qApp, [] { initOnce(); }, Qt::BlockingQueuedConnection);
    }
}

// ---------------------------------------------------------------------------------------------
// Panels

namespace {

int newPanelRecord(int parent, const QString &name, const QRect &geometry, const QString &title) {
    Panel *parentPanel = parent ? findPanel(parent) : nullptr;
    if (parent && (!parentPanel || !parentPanel->widget)) return UI_ERR_BAD_PANEL;
    auto p = std::make_unique<Panel>();
    p->handle = nextPanelHandle++;
    p->parent = parent;
    p->name = name;
    auto *w = new PanelWidget(p->handle, parentPanel ? parentPanel->widget.data() : nullptr);
    if (parentPanel) {
        w->setMouseTracking(true);            // edge cursors of a sizable child panel
        w->setFocusPolicy(Qt::ClickFocus);    // a click on it makes it the active panel
    }
    w->setWindowTitle(title);
    w->setAutoFillBackground(true);
    p->widget = w;
    p->suppressEvents++;
    if (parentPanel) {
        w->setGeometry(geometry);
        w->hide();
    } else {
        w->setWindowFlags(Qt::Window);
        w->setGeometry(geometry);
    }
    p->knownGeometry = w->geometry();
    p->suppressEvents--;
    p->titleBar = parentPanel == nullptr;
    p->frameStyle = VAL_NO_FRAME;
    const int h = p->handle;
    panels[h] = std::move(p);
    return h;
}

}  // namespace

int registerControl(Panel &p, QWidget *w, int style, const QString &name, int fixedId) {
    auto c = std::make_unique<Control>();
    int id = fixedId > 0 && !p.controls.count(fixedId) ? fixedId : p.nextId;
    while (p.controls.count(id)) id++;
    p.nextId = std::max(p.nextId, id + 1);
    c->id = id;
    c->panel = p.handle;
    c->name = name;
    c->style = style;
    c->widget = w;
    w->setProperty("tarqPanel", p.handle);
    w->setProperty("tarqCtrl", id);
    p.controls[id] = std::move(c);
    p.tabOrder.push_back(id);
    return id;
}

void applyLabel(Control &c, const QString &text) {
    if (!c.widget) return;
    if (!c.label) {
        c.label = new QLabel(c.widget->parentWidget());
        c.label->setProperty("tarqLabelOf", c.id);
    }
    c.label->setText(text);
    c.label->adjustSize();
    placeLabel(c);
    c.label->setVisible(!text.isEmpty() && !c.widget->isHidden());
}

void placeLabel(Control &c) {
    if (!c.label || !c.widget) return;
    if (c.labelPinned) {
        c.label->adjustSize();
        return;
    }
    QRect g = c.widget->geometry();
    c.label->adjustSize();
    c.label->move(g.x(), g.y() - c.label->height());
}

}  // namespace tarq_ui

using namespace tarq_ui;

// Controls of a loaded panel are created by ui_controls.cpp.
namespace tarq_ui {
void buildControls(Panel &p, const UiNode &node, QWidget *parentWidget);
void destroyControl(Panel &p, int control);
}

int InitUserInterface() {
    ensureApplication();
    std::setlocale(LC_NUMERIC, "C");
    return UI_OK;
}

int LoadPanel(int parentPanel, const char *resource, const char *panelName) {
    return onGui([&]() -> int {
        const UiNode *node = nullptr;
        const QString name = fromUtf8(panelName);
        const UiFile *file = findUiResource(resource, name, false, &node);
        if (!file || !node) return UI_ERR_RESOURCE;
        QRect g = node->props.value("geometry").toRect();
        if (g.width() <= 0) g.setWidth(400);
        if (g.height() <= 0) g.setHeight(300);
        int h = newPanelRecord(parentPanel, name, g, node->props.value("windowTitle").toString());
        if (h < 0) return h;
        Panel &p = *findPanel(h);
        p.suppressEvents++;
        const UiNode *content = node;
        if (node->cls == "QMainWindow") {
            for (const UiNode &c : node->children)
                if (c.cls == "QWidget") content = &c;
        }
        buildControls(p, *content, p.widget);
        const QVariantMap &props = node->props;
        if (props.contains("titleBar")) p.titleBar = props.value("titleBar").toBool();
        if (props.contains("sizable")) p.sizable = props.value("sizable").toBool();
        if (props.contains("frameStyle")) {
            QString f = props.value("frameStyle").toString();
            p.frameStyle = f == "sunken" ? VAL_SUNKEN_FRAME : f == "raised" ? VAL_RAISED_FRAME
                                                                           : VAL_NO_FRAME;
        }
        if (props.contains("backColor")) {
            QColor c = props.value("backColor").value<QColor>();
            p.backColor = fromColor(c);
            QPalette pal = p.widget->palette();
            pal.setColor(QPalette::Window, c);
            p.widget->setPalette(pal);
        }
        applyPanelFlags(p);
        updatePanelDecoration(p);
        p.knownGeometry = p.widget->geometry();
        p.suppressEvents--;
        return h;
    });
}

int NewPanel(int parentPanel, const char *title, int top, int left, int height, int width) {
    return onGui([&]() -> int {
        int h = newPanelRecord(parentPanel, QString(), QRect(left, top, std::max(1, width),
                                                             std::max(1, height)),
                               fromUtf8(title));
        if (h < 0) return h;
        Panel &p = *findPanel(h);
        applyPanelFlags(p);
        updatePanelDecoration(p);
        return h;
    });
}

int DiscardPanel(int panel) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p) return UI_ERR_BAD_PANEL;
        // Children first, so that each gets its discard event while its parent still exists.
        std::vector<int> children;
        for (auto &[h, q] : panels)
            if (q->parent == panel) children.push_back(h);
        for (int c : children) DiscardPanel(c);
        firePanel(panel, EVENT_DISCARD, 0, 0);
        p = findPanel(panel);
        if (!p) return UI_OK;
        std::vector<int> ids;
        for (auto &[id, c] : p->controls) ids.push_back(id);
        for (int id : ids) fireCtrl(panel, id, EVENT_DISCARD, 0, 0);
        p = findPanel(panel);
        if (!p) return UI_OK;
        menuBarOfPanelDiscarded(panel);
        popupStack.erase(std::remove(popupStack.begin(), popupStack.end(), panel), popupStack.end());
        std::unique_ptr<Panel> owned = std::move(panels[panel]);
        panels.erase(panel);
        for (auto &[id, c] : owned->controls)
            if (c->timer) c->timer->stop();
        if (owned->decoration) owned->decoration->deleteLater();
        if (owned->widget) {
            owned->widget->hide();
            owned->widget->deleteLater();
        }
        return UI_OK;
    });
}

int DisplayPanel(int panel) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        p->suppressEvents++;
        p->shown = true;
        p->widget->show();
        if (QGuiApplication::platformName() != QLatin1String("offscreen")) p->widget->raise();
        if (p->decoration) PanelWidget::updateDecoration(*p);
        p->knownGeometry = p->widget->geometry();
        p->suppressEvents--;
        return UI_OK;
    });
}

int HidePanel(int panel) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        p->shown = false;
        p->widget->hide();
        if (p->decoration) p->decoration->hide();
        return UI_OK;
    });
}

int InstallPopup(int panel) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        if (p->parent) return UI_ERR_BAD_PANEL;   // only top-level panels can be popups
        p->widget->hide();
        p->widget->setWindowModality(Qt::ApplicationModal);
        popupStack.push_back(panel);
        return DisplayPanel(panel);
    });
}

int RemovePopup(int panel) {
    return onGui([&]() -> int {
        if (popupStack.empty()) return UI_ERR_BAD_PANEL;
        int h = panel ? panel : popupStack.back();
        auto it = std::find(popupStack.begin(), popupStack.end(), h);
        if (it == popupStack.end()) return UI_ERR_BAD_PANEL;
        popupStack.erase(it);
        Panel *p = findPanel(h);
        if (!p) return UI_ERR_BAD_PANEL;
        HidePanel(h);
        p->widget->setWindowModality(Qt::NonModal);
        return UI_OK;
    });
}

namespace {

int setPanelGeometry(Panel &p, int attribute, int value) {
    QRect g = p.widget->geometry();
    switch (attribute) {
    case ATTR_TOP: g.moveTop(value); break;
    case ATTR_LEFT: g.moveLeft(value); break;
    case ATTR_WIDTH: g.setWidth(std::max(1, value)); break;
    case ATTR_HEIGHT: g.setHeight(std::max(1, value)); break;
    }
    p.suppressEvents++;
    if (!p.sizable && !p.parent) p.widget->setFixedSize(g.size());
    p.widget->setGeometry(g);
    p.knownGeometry = p.widget->geometry();
    if (p.decoration) PanelWidget::updateDecoration(p);
    p.suppressEvents--;
    return UI_OK;
}

}  // namespace

int SetPanelAttribute(int panel, int attribute, int value) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        switch (attribute) {
        case ATTR_TOP: case ATTR_LEFT: case ATTR_WIDTH: case ATTR_HEIGHT:
            return setPanelGeometry(*p, attribute, value);
        case ATTR_VISIBLE:
            return value ? DisplayPanel(panel) : HidePanel(panel);
        case ATTR_DIMMED:
            p->widget->setEnabled(!value);
            return UI_OK;
        case ATTR_TITLEBAR_VISIBLE:
            p->titleBar = value != 0;
            applyPanelFlags(*p);
            updatePanelDecoration(*p);
            return UI_OK;
        case ATTR_SIZABLE:
            p->sizable = value != 0;
            applyPanelFlags(*p);
            return UI_OK;
        case ATTR_FRAME_STYLE:
            if (value < VAL_NO_FRAME || value > VAL_SUNKEN_FRAME) return UI_ERR_BAD_VALUE;
            p->frameStyle = value;
            updatePanelDecoration(*p);
            return UI_OK;
        case ATTR_BACKCOLOR: {
            p->backColor = value;
            QPalette pal = p->widget->palette();
            pal.setColor(QPalette::Window, toColor(value));
            p->widget->setPalette(pal);
            return UI_OK;
        }
        case ATTR_WINDOW_ZOOM:
            if (p->parent) return UI_ERR_BAD_ATTRIBUTE;
            p->widget->setWindowState(value == VAL_MINIMIZE ? Qt::WindowMinimized : Qt::WindowNoState);
            return UI_OK;
        case ATTR_ACTIVE_CTRL:
            return SetActiveCtrl(panel, value);
        case ATTR_CLOSE_CTRL:
            if (value && !findControl(panel, value)) return UI_ERR_BAD_CONTROL;
            p->closeCtrl = value;
            return UI_OK;
        case ATTR_CALLBACK_DATA:
            p->callbackData = reinterpret_cast<void *>(static_cast<intptr_t>(value));
            return UI_OK;
        default:
            return UI_ERR_BAD_ATTRIBUTE;
        }
    });
}

int SetPanelAttribute(int panel, int attribute, const char *value) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        if (attribute != ATTR_TITLE) return UI_ERR_BAD_ATTRIBUTE;
        p->widget->setWindowTitle(fromUtf8(value));
        if (p->titleLabel) p->titleLabel->setText(fromUtf8(value));
        return UI_OK;
    });
}

int SetPanelAttribute(int panel, int attribute, void *value) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p) return UI_ERR_BAD_PANEL;
        if (attribute == ATTR_CALLBACK_DATA) p->callbackData = value;
        else if (attribute == ATTR_CALLBACK_FUNCTION_POINTER)
            p->callback = reinterpret_cast<PanelCallbackPtr>(value);
        else return UI_ERR_BAD_ATTRIBUTE;
        return UI_OK;
    });
}

int SetPanelAttribute(int panel, int attribute, PanelCallbackPtr value) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p) return UI_ERR_BAD_PANEL;
        if (attribute != ATTR_CALLBACK_FUNCTION_POINTER) return UI_ERR_BAD_ATTRIBUTE;
        p->callback = value;
        return UI_OK;
    });
}

int GetPanelAttribute(int panel, int attribute, int *value) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        if (!value) return UI_ERR_BAD_VALUE;
        QRect g = p->widget->geometry();
        switch (attribute) {
        case ATTR_TOP: *value = g.top(); break;
        case ATTR_LEFT: *value = g.left(); break;
        case ATTR_WIDTH: *value = g.width(); break;
        case ATTR_HEIGHT: *value = g.height(); break;
        case ATTR_VISIBLE: *value = p->shown ? 1 : 0; break;
        case ATTR_DIMMED: *value = p->widget->isEnabled() ? 0 : 1; break;
        case ATTR_TITLEBAR_VISIBLE: *value = p->titleBar ? 1 : 0; break;
        case ATTR_SIZABLE: *value = p->sizable ? 1 : 0; break;
        case ATTR_FRAME_STYLE: *value = p->frameStyle; break;
        case ATTR_BACKCOLOR: *value = fromColor(p->widget->palette().color(QPalette::Window)); break;
        case ATTR_PANEL_PARENT: *value = p->parent; break;
        case ATTR_WINDOW_ZOOM: *value = p->minimized ? VAL_MINIMIZE : VAL_NO_ZOOM; break;
        case ATTR_ACTIVE_CTRL: *value = GetActiveCtrl(panel); break;
        case ATTR_CLOSE_CTRL: *value = p->closeCtrl; break;
        default: return UI_ERR_BAD_ATTRIBUTE;
        }
        return UI_OK;
    });
}

int GetPanelAttribute(int panel, int attribute, std::string *value) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        if (!value) return UI_ERR_BAD_VALUE;
        if (attribute == ATTR_TITLE) *value = p->widget->windowTitle().toStdString();
        else if (attribute == ATTR_CONSTANT_NAME) *value = p->name.toStdString();
        else return UI_ERR_BAD_ATTRIBUTE;
        return UI_OK;
    });
}

int GetPanelAttribute(int panel, int attribute, void **value) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p) return UI_ERR_BAD_PANEL;
        if (!value) return UI_ERR_BAD_VALUE;
        if (attribute == ATTR_CALLBACK_DATA) *value = p->callbackData;
        else if (attribute == ATTR_CALLBACK_FUNCTION_POINTER)
            *value = reinterpret_cast<void *>(p->callback);
        else return UI_ERR_BAD_ATTRIBUTE;
        return UI_OK;
    });
}

int SetPanelPos(int panel, int top, int left) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        p->suppressEvents++;
        p->widget->setGeometry(QRect(QPoint(left, top), p->widget->size()));   // client area, not frame
        p->knownGeometry = p->widget->geometry();
        if (p->decoration) PanelWidget::updateDecoration(*p);
        p->suppressEvents--;
        return UI_OK;
    });
}

int SetPanelSize(int panel, int height, int width) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        setPanelGeometry(*p, ATTR_HEIGHT, height);
        return setPanelGeometry(*p, ATTR_WIDTH, width);
    });
}

int InstallPanelCallback(int panel, PanelCallbackPtr function, void *callbackData) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p) return UI_ERR_BAD_PANEL;
        p->callback = function;
        p->callbackData = callbackData;
        return UI_OK;
    });
}

int GetActivePanel() {
    return onGui([&]() -> int {
        QWidget *w = QApplication::activeWindow();
        if (!w) return 0;
        QVariant v = w->property("tarqPanel");
        return v.isValid() ? v.toInt() : 0;
    });
}

int GetActiveCtrl(int panel) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        if (QWidget *f = p->widget->focusWidget())
            if (Control *c = controlOfWidget(f))
                if (c->panel == panel) p->activeCtrl = c->id;
        if (!findControl(panel, p->activeCtrl)) p->activeCtrl = 0;
        return p->activeCtrl;
    });
}

int SetActiveCtrl(int panel, int control) {
    return onGui([&]() -> int {
        Control *c = findControl(panel, control);
        if (!c) return findPanel(panel) ? UI_ERR_BAD_CONTROL : UI_ERR_BAD_PANEL;
        findPanel(panel)->activeCtrl = control;
        if (c->widget) c->widget->setFocus(Qt::OtherFocusReason);
        return UI_OK;
    });
}

int GetPanelHandleFromName(const char *panelName) {
    return onGui([&]() -> int {
        const QString n = fromUtf8(panelName);
        for (auto &[h, p] : panels)
            if (p->name == n) return h;
        return UI_ERR_BAD_PANEL;
    });
}

QWidget *GetPanelWidget(int panel) {
    QWidget *w = nullptr;
    onGui([&]() -> int {
        Panel *p = findPanel(panel);
        w = p ? p->widget.data() : nullptr;
        return 0;
    });
    return w;
}

QWidget *GetCtrlWidget(int panel, int control) {
    QWidget *w = nullptr;
    onGui([&]() -> int {
        Control *c = findControl(panel, control);
        w = c ? c->widget.data() : nullptr;
        return 0;
    });
    return w;
}

// ---------------------------------------------------------------------------------------------
// Bitmaps

int GetBitmapFromFile(const char *path, int *bitmapHandle) {
    return onGui([&]() -> int {
        if (!bitmapHandle) return UI_ERR_BAD_VALUE;
        QPixmap p;
        if (!path || !p.load(fromUtf8(path))) return UI_ERR_FILE;
        *bitmapHandle = storeBitmap(p);
        return UI_OK;
    });
}

int DiscardBitmap(int bitmapHandle) {
    return onGui([&]() -> int { return bitmaps.erase(bitmapHandle) ? UI_OK : UI_ERR_BAD_VALUE; });
}

// ---------------------------------------------------------------------------------------------
// Event processing

int ProcessSystemEvents() {
    return onGui([&]() -> int {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return UI_OK;
    });
}

int ProcessDrawEvents() {
    return onGui([&]() -> int {
        for (auto &[h, p] : panels)
            if (p->widget && p->widget->isVisible()) p->widget->repaint();
        return UI_OK;
    });
}

int PostDeferredCall(DeferredCallbackPtr function, void *callbackData) {
    if (!function) return UI_ERR_BAD_VALUE;
    ensureApplication();
    QMetaObject::invokeMethod(qApp, [function, callbackData] { function(callbackData); },
                              Qt::QueuedConnection);
    return UI_OK;
}

namespace {
std::vector<QEventLoop *> runLoops;
}

int RunUserInterface() {
    return onGui([&]() -> int {
        QEventLoop loop;
        runLoops.push_back(&loop);
        int code = loop.exec();
        runLoops.pop_back();
        return code;
    });
}

int QuitUserInterface(int returnCode) {
    return onGui([&]() -> int {
        if (runLoops.empty()) return UI_ERR_BAD_VALUE;
        runLoops.back()->exit(returnCode);
        return UI_OK;
    });
}

void Delay(double seconds) {
    if (!(seconds > 0)) return;
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(seconds, 1e6)));
}

double Timer() {
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const char *DateStr() {
    thread_local char buffer[32];
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::snprintf(buffer, sizeof buffer, "%02d-%02d-%04d", tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_year + 1900);
    return buffer;
}

const char *TimeStr() {
    thread_local char buffer[32];
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buffer;
}

namespace {
std::mutex projectMutex;
std::string projectDir;
}

int GetProjectDir(std::string *directory) {
    if (!directory) return UI_ERR_BAD_VALUE;
    {
        std::lock_guard<std::mutex> lock(projectMutex);
        if (!projectDir.empty()) {
            *directory = projectDir;
            return UI_OK;
        }
    }
    if (const char *env = std::getenv("TARQ_PROJECT_DIR"); env && *env) {
        *directory = env;
        return UI_OK;
    }
    ensureApplication();
    *directory = QCoreApplication::applicationDirPath().toStdString();
    if (directory->empty()) *directory = QDir::currentPath().toStdString();
    return UI_OK;
}

int SetProjectDir(const char *directory) {
    std::lock_guard<std::mutex> lock(projectMutex);
    projectDir = directory ? directory : "";
    return UI_OK;
}

// ---------------------------------------------------------------------------------------------
// Thread pools

namespace {

struct Pool {
    std::mutex m;
    std::condition_variable cv;
    std::deque<std::pair<int, std::pair<ThreadFunctionPtr, void *>>> queue;
    std::map<int, std::pair<bool, int>> results;   // id -> (done, return value)
    std::vector<std::thread> threads;
    bool stopping = false;
    int nextId = 1;
    int pending = 0;

    void run() {
        for (;;) {
            std::pair<int, std::pair<ThreadFunctionPtr, void *>> job;
            {
                std::unique_lock<std::mutex> lock(m);
                cv.wait(lock, [&] { return stopping || !queue.empty(); });
                if (queue.empty()) return;
                job = queue.front();
                queue.pop_front();
            }
            int r = job.second.first(job.second.second);
            std::lock_guard<std::mutex> lock(m);
            results[job.first] = {true, r};
            pending--;
        }
    }
};

std::mutex poolsMutex;
std::map<int, std::shared_ptr<Pool>> pools;
int nextPool = 1;

std::shared_ptr<Pool> findPool(int h) {
    std::lock_guard<std::mutex> lock(poolsMutex);
    auto it = pools.find(h);
    return it == pools.end() ? nullptr : it->second;
}

// Waits for `done`; in the panel thread events keep flowing, so that workers calling toolkit
// functions (which run in the panel thread) can finish.
template <class Pred>
void waitProcessing(Pred done) {
    const bool gui = QCoreApplication::instance() && QThread::currentThread() == qApp->thread();
    while (!done()) {
        if (gui) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

int NewThreadPool(int numThreads, int *poolHandle) {
    if (!poolHandle || numThreads < 1 || numThreads > 64) return UI_ERR_BAD_VALUE;
    ensureApplication();
    auto pool = std::make_shared<Pool>();
    for (int i = 0; i < numThreads; i++) pool->threads.emplace_back([p = pool.get()] { p->run(); });
    std::lock_guard<std::mutex> lock(poolsMutex);
    *poolHandle = nextPool++;
    pools[*poolHandle] = pool;
    return UI_OK;
}

int ScheduleThreadPoolFunction(int poolHandle, ThreadFunctionPtr function, void *functionData,
                               int *functionId) {
    auto pool = findPool(poolHandle);
    if (!pool) return UI_ERR_BAD_POOL;
    if (!function) return UI_ERR_BAD_VALUE;
    std::lock_guard<std::mutex> lock(pool->m);
    if (pool->stopping) return UI_ERR_BAD_POOL;
    int id = pool->nextId++;
    pool->queue.push_back({id, {function, functionData}});
    pool->results[id] = {false, 0};
    pool->pending++;
    if (functionId) *functionId = id;
    pool->cv.notify_one();
    return UI_OK;
}

int WaitForThreadPoolFunction(int poolHandle, int functionId, int *returnValue) {
    auto pool = findPool(poolHandle);
    if (!pool) return UI_ERR_BAD_POOL;
    {
        std::lock_guard<std::mutex> lock(pool->m);
        if (!pool->results.count(functionId)) return UI_ERR_BAD_POOL;
    }
    waitProcessing([&] {
        std::lock_guard<std::mutex> lock(pool->m);
        return pool->results[functionId].first;
    });
    std::lock_guard<std::mutex> lock(pool->m);
    if (returnValue) *returnValue = pool->results[functionId].second;
    return UI_OK;
}

int DiscardThreadPool(int poolHandle) {
    std::shared_ptr<Pool> pool;
    {
        std::lock_guard<std::mutex> lock(poolsMutex);
        auto it = pools.find(poolHandle);
        if (it == pools.end()) return UI_ERR_BAD_POOL;
        pool = it->second;
        pools.erase(it);
    }
    waitProcessing([&] {
        std::lock_guard<std::mutex> lock(pool->m);
        return pool->pending == 0;
    });
    {
        std::lock_guard<std::mutex> lock(pool->m);
        pool->stopping = true;
    }
    pool->cv.notify_all();
    for (auto &t : pool->threads)
        if (t.joinable()) t.join();
    return UI_OK;
}

// ---------------------------------------------------------------------------------------------
// Test support

void SimulateMouseState(int active, int leftDown, int rightDown, int keyModifiers) {
    std::lock_guard<std::mutex> lock(mouseMutex);
    mouseSimulated = active != 0;
    simLeft = leftDown ? 1 : 0;
    simRight = rightDown ? 1 : 0;
    simModifiers = keyModifiers;
}

const char *GetUserInterfaceErrorString(int status) {
    switch (status) {
    case UI_OK: return "No error";
    case UI_ERR_BAD_PANEL: return "Invalid panel handle";
    case UI_ERR_BAD_CONTROL: return "Invalid control";
    case UI_ERR_BAD_ATTRIBUTE: return "Attribute not valid for this object";
    case UI_ERR_BAD_VALUE: return "Invalid value";
    case UI_ERR_FILE: return "File error";
    case UI_ERR_RESOURCE: return "Resource not found or malformed";
    case UI_ERR_BAD_INDEX: return "Index out of range";
    case UI_ERR_BAD_MENU: return "Invalid menu bar, menu or item";
    case UI_ERR_BAD_PLOT: return "Invalid plot";
    case UI_ERR_BAD_TOOLBAR: return "Invalid tool bar or item";
    case UI_ERR_NO_MEMORY: return "Out of memory";
    case UI_ERR_NOT_FOUND: return "Not found";
    case UI_ERR_BAD_POOL: return "Invalid thread pool or function";
    case UI_ERR_PRINT: return "Printing failed";
    default: return status < 0 ? "Unknown error" : "No error";
    }
}
