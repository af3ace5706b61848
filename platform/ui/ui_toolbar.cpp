// Tool bars: a row of item controls on a small panel of their own over a backing panel.
#include "ui_internal.h"

#include <QAbstractButton>
#include <QFrame>
#include <QMenu>
#include <QToolButton>

namespace tarq_ui {
namespace {

struct Item {
    int type = TOOLBAR_SEPARATOR;
    int ctrl = 0;
    int active = 1;
    int visible = 1;
    int width = 0;
    int image = 0;
    int menuBar = 0;
    void *data = nullptr;
};

struct ToolBar {
    int handle = 0;
    int backing = 0;
    int panel = 0;
    int buttonSize = 30;
    std::vector<Item> items;
    void *data = nullptr;
    int background = 0;
    QPointer<QLabel> backgroundLabel;
};

std::map<int, std::unique_ptr<ToolBar>> toolBars;
int nextToolBar = 1;

ToolBar *findToolBar(int h) {
    auto it = toolBars.find(h);
    if (it == toolBars.end() || !findPanel(it->second->panel)) return nullptr;
    return it->second.get();
}

int itemWidth(const ToolBar &tb, const Item &it) {
    if (it.width > 0) return it.width;
    switch (it.type) {
    case TOOLBAR_SEPARATOR: return 2;
    case TOOLBAR_CONTROL: return 100;
    case TOOLBAR_MENU_BUTTON: return tb.buttonSize + 12;
    default: return tb.buttonSize;
    }
}

void layout(ToolBar &tb) {
    int x = 2;
    for (Item &it : tb.items) {
        Control *c = findControl(tb.panel, it.ctrl);
        if (!c || !c->widget) continue;
        if (!it.visible) {
            c->widget->hide();
            continue;
        }
        const int w = itemWidth(tb, it);
        if (it.type == TOOLBAR_SEPARATOR)   // a wider separator is a filler: space, no line
            static_cast<QFrame *>(c->widget.data())->setFrameStyle(w > 2 ? QFrame::NoFrame : (QFrame::VLine | QFrame::Sunken));
        c->widget->setGeometry(x, 2, w, tb.buttonSize);
        if (auto *b = qobject_cast<QAbstractButton *>(c->widget.data()))
            b->setIconSize(QSize(tb.buttonSize - 6, tb.buttonSize - 6));
        c->widget->show();
        x += w + 2;
    }
}

template <class F>
int withItem(int toolBar, int index, F &&f) {
    return onGui([&]() -> int {
        ToolBar *tb = findToolBar(toolBar);
        if (!tb) return UI_ERR_BAD_TOOLBAR;
        if (index == 0) return f(*tb, nullptr);
        if (index < 1 || index > int(tb->items.size())) return UI_ERR_BAD_TOOLBAR;
        return f(*tb, &tb->items[size_t(index - 1)]);
    });
}

}  // namespace
}  // namespace tarq_ui

using namespace tarq_ui;

int NewToolBar(int panel, int top, int left, int height, int width, int buttonSize) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        if (buttonSize <= 0) buttonSize = 30;
        if (height <= 0) height = buttonSize + 4;
        if (width <= 0) width = std::max(1, p->widget->width() - left);
        int tp = NewPanel(panel, "", top, left, height, width);
        if (tp < 0) return tp;
        SetPanelAttribute(tp, ATTR_TITLEBAR_VISIBLE, 0);
        SetPanelAttribute(tp, ATTR_FRAME_STYLE, VAL_NO_FRAME);
        auto tb = std::make_unique<ToolBar>();
        tb->handle = nextToolBar++;
        tb->backing = panel;
        tb->panel = tp;
        tb->buttonSize = buttonSize;
        const int h = tb->handle;
        toolBars[h] = std::move(tb);
        DisplayPanel(tp);
        return h;
    });
}

int DiscardToolBar(int toolBar) {
    return onGui([&]() -> int {
        auto it = toolBars.find(toolBar);
        if (it == toolBars.end()) return UI_ERR_BAD_TOOLBAR;
        int panel = it->second->panel;
        toolBars.erase(it);
        if (findPanel(panel)) DiscardPanel(panel);
        return UI_OK;
    });
}

int GetToolBarPanel(int toolBar, int *panel) {
    return onGui([&]() -> int {
        ToolBar *tb = findToolBar(toolBar);
        if (!tb) return UI_ERR_BAD_TOOLBAR;
        if (!panel) return UI_ERR_BAD_VALUE;
        *panel = tb->panel;
        return UI_OK;
    });
}

int InsertToolBarItem(int toolBar, int position, int itemType, int active, const char *description,
                      int callbackKind, CtrlCallbackPtr callback, void *callbackData) {
    return onGui([&]() -> int {
        ToolBar *tb = findToolBar(toolBar);
        if (!tb) return UI_ERR_BAD_TOOLBAR;
        if (position != -1 && (position < 1 || position > int(tb->items.size()) + 1)) return UI_ERR_BAD_INDEX;
        int style;
        switch (itemType) {
        case TOOLBAR_SEPARATOR: style = CTRL_DECORATION; break;
        case TOOLBAR_COMMAND_BUTTON: case TOOLBAR_MENU_BUTTON: style = CTRL_PICTURE_BUTTON; break;
        case TOOLBAR_TOGGLE_BUTTON: style = CTRL_PICTURE_TOGGLE_BUTTON; break;
        case TOOLBAR_CONTROL: style = CTRL_DECORATION; break;
        default: return UI_ERR_BAD_VALUE;
        }
        int ctrl = NewCtrl(tb->panel, style, nullptr, 2, 2);
        if (ctrl < 0) return ctrl;
        Control *c = findControl(tb->panel, ctrl);
        if (auto *f = qobject_cast<QFrame *>(c->widget.data())) {
            f->setFrameStyle(itemType == TOOLBAR_SEPARATOR ? (QFrame::VLine | QFrame::Sunken) : QFrame::NoFrame);
        }
        if (auto *b = qobject_cast<QToolButton *>(c->widget.data())) {
            b->setAutoRaise(true);
            b->setFocusPolicy(Qt::NoFocus);
            if (description) b->setText(fromUtf8(description));   // shown until an image is given
        }
        c->callback = callback;
        c->callbackData = callbackData;
        c->commitOnly = callbackKind == TOOLBAR_CALLBACK_COMMIT;
        c->widget->setToolTip(fromUtf8(description));
        c->widget->setEnabled(active != 0);
        Item it;
        it.type = itemType;
        it.ctrl = ctrl;
        it.active = active != 0;
        it.data = callbackData;
        size_t at = position < 0 ? tb->items.size() : size_t(position - 1);
        tb->items.insert(tb->items.begin() + long(at), it);
        for (size_t i = 0; i < tb->items.size(); i++)
            if (Control *x = findControl(tb->panel, tb->items[i].ctrl)) {
                x->toolBar = toolBar;
                x->toolBarItem = int(i) + 1;
            }
        layout(*tb);
        return int(at) + 1;
    });
}

int GetNumToolBarItems(int toolBar, int *count) {
    return withItem(toolBar, 0, [&](ToolBar &tb, Item *) -> int {
        if (!count) return UI_ERR_BAD_VALUE;
        *count = int(tb.items.size());
        return UI_OK;
    });
}

int GetToolBarItemCtrl(int toolBar, int index, int *panel, int *control) {
    return withItem(toolBar, index, [&](ToolBar &tb, Item *it) -> int {
        if (!it) return UI_ERR_BAD_TOOLBAR;
        if (panel) *panel = tb.panel;
        if (control) *control = it->ctrl;
        return UI_OK;
    });
}

int SetToolBarItemAttribute(int toolBar, int index, int attribute, int value) {
    return withItem(toolBar, index, [&](ToolBar &tb, Item *it) -> int {
        if (!it) {
            if (attribute != ATTR_TB_BACKGROUND_IMAGE) return UI_ERR_BAD_ATTRIBUTE;
            Panel *p = findPanel(tb.panel);
            const QPixmap *pm = value ? bitmap(value) : nullptr;
            if (value && !pm) return UI_ERR_BAD_VALUE;
            if (!tb.backgroundLabel) {
                tb.backgroundLabel = new QLabel(p->widget);
                tb.backgroundLabel->setScaledContents(true);
            }
            tb.background = value;
            tb.backgroundLabel->setPixmap(pm ? *pm : QPixmap());
            tb.backgroundLabel->setGeometry(p->widget->rect());
            tb.backgroundLabel->setVisible(pm != nullptr);
            tb.backgroundLabel->lower();
            return UI_OK;
        }
        Control *c = findControl(tb.panel, it->ctrl);
        if (!c) return UI_ERR_BAD_TOOLBAR;
        switch (attribute) {
        case ATTR_TB_ACTIVE:
            it->active = value != 0;
            c->widget->setEnabled(it->active);
            return UI_OK;
        case ATTR_TB_VISIBLE:
            it->visible = value != 0;
            layout(tb);
            return UI_OK;
        case ATTR_TB_WIDTH:
            if (value < 0) return UI_ERR_BAD_VALUE;
            it->width = value;
            layout(tb);
            return UI_OK;
        case ATTR_TB_IMAGE: {
            int r = SetCtrlBitmap(tb.panel, it->ctrl, value);
            if (r < 0) return r;
            it->image = value;
            if (auto *b = qobject_cast<QToolButton *>(c->widget.data()))
                b->setToolButtonStyle(value ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextOnly);
            return UI_OK;
        }
        case ATTR_TB_STATE:
            if (it->type == TOOLBAR_TOGGLE_BUTTON) return SetCtrlVal(tb.panel, it->ctrl, value ? 1 : 0);
            if (auto *b = qobject_cast<QAbstractButton *>(c->widget.data())) {
                b->setDown(value != 0);   // a command button shown pressed while its work runs
                return UI_OK;
            }
            return UI_ERR_BAD_ATTRIBUTE;
        case ATTR_TB_MENU_BAR: {
            auto *b = qobject_cast<QToolButton *>(c->widget.data());
            if (!b || it->type != TOOLBAR_MENU_BUTTON) return UI_ERR_BAD_ATTRIBUTE;
            QMenu *m = value ? menuForPullDown(value) : nullptr;
            if (value && !m) return UI_ERR_BAD_MENU;
            it->menuBar = value;
            if (value) setMenuBarOwner(value, tb.panel);
            b->setMenu(m);
            b->setPopupMode(QToolButton::InstantPopup);
            layout(tb);
            return UI_OK;
        }
        default:
            return UI_ERR_BAD_ATTRIBUTE;
        }
    });
}

int SetToolBarItemAttribute(int toolBar, int index, int attribute, const char *value) {
    return withItem(toolBar, index, [&](ToolBar &tb, Item *it) -> int {
        if (!it || attribute != ATTR_TB_DESCRIPTION) return UI_ERR_BAD_ATTRIBUTE;
        Control *c = findControl(tb.panel, it->ctrl);
        if (!c) return UI_ERR_BAD_TOOLBAR;
        c->widget->setToolTip(fromUtf8(value));
        if (auto *b = qobject_cast<QToolButton *>(c->widget.data())) b->setText(fromUtf8(value));
        return UI_OK;
    });
}

int SetToolBarItemAttribute(int toolBar, int index, int attribute, void *value) {
    return withItem(toolBar, index, [&](ToolBar &tb, Item *it) -> int {
        if (attribute != ATTR_TB_CALLBACK_DATA) return UI_ERR_BAD_ATTRIBUTE;
        if (!it) {
            tb.data = value;
            return UI_OK;
        }
        it->data = value;
        if (Control *c = findControl(tb.panel, it->ctrl)) c->callbackData = value;
        return UI_OK;
    });
}

int GetToolBarItemAttribute(int toolBar, int index, int attribute, int *value) {
    return withItem(toolBar, index, [&](ToolBar &tb, Item *it) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        if (!it) {
            if (attribute == ATTR_TB_BACKGROUND_IMAGE) { *value = tb.background; return UI_OK; }
            return UI_ERR_BAD_ATTRIBUTE;
        }
        switch (attribute) {
        case ATTR_TB_ACTIVE: *value = it->active; return UI_OK;
        case ATTR_TB_VISIBLE: *value = it->visible; return UI_OK;
        case ATTR_TB_WIDTH: *value = itemWidth(tb, *it); return UI_OK;
        case ATTR_TB_IMAGE: *value = it->image; return UI_OK;
        case ATTR_TB_MENU_BAR: *value = it->menuBar; return UI_OK;
        case ATTR_TB_ITEM_TYPE: *value = it->type; return UI_OK;
        case ATTR_TB_STATE:
            if (it->type == TOOLBAR_TOGGLE_BUTTON) return GetCtrlVal(tb.panel, it->ctrl, value);
            if (auto *b = qobject_cast<QAbstractButton *>(findControl(tb.panel, it->ctrl)->widget.data())) {
                *value = b->isDown() ? 1 : 0;
                return UI_OK;
            }
            return UI_ERR_BAD_ATTRIBUTE;
        default: return UI_ERR_BAD_ATTRIBUTE;
        }
    });
}

int GetToolBarItemAttribute(int toolBar, int index, int attribute, std::string *value) {
    return withItem(toolBar, index, [&](ToolBar &tb, Item *it) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        if (!it || attribute != ATTR_TB_DESCRIPTION) return UI_ERR_BAD_ATTRIBUTE;
        Control *c = findControl(tb.panel, it->ctrl);
        if (!c) return UI_ERR_BAD_TOOLBAR;
        *value = c->widget->toolTip().toStdString();
        return UI_OK;
    });
}

int GetToolBarItemAttribute(int toolBar, int index, int attribute, void **value) {
    return withItem(toolBar, index, [&](ToolBar &tb, Item *it) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        if (attribute != ATTR_TB_CALLBACK_DATA) return UI_ERR_BAD_ATTRIBUTE;
        *value = it ? it->data : tb.data;
        return UI_OK;
    });
}

int GetToolBarFromCtrl(int panel, int control, int *toolBar, int *index) {
    return onGui([&]() -> int {
        Control *c = findControl(panel, control);
        if (!c) return findPanel(panel) ? UI_ERR_BAD_CONTROL : UI_ERR_BAD_PANEL;
        if (!c->toolBar || !findToolBar(c->toolBar)) return UI_ERR_BAD_TOOLBAR;
        if (toolBar) *toolBar = c->toolBar;
        if (index) *index = c->toolBarItem;
        return UI_OK;
    });
}

int GetToolBarCallbackData(int panel, int control, void **callbackData) {
    return onGui([&]() -> int {
        if (!callbackData) return UI_ERR_BAD_VALUE;
        int tb = 0, index = 0;
        int r = GetToolBarFromCtrl(panel, control, &tb, &index);
        if (r < 0) return r;
        ToolBar *t = findToolBar(tb);
        void *data = t->items[size_t(index - 1)].data;
        *callbackData = data ? data : t->data;
        return UI_OK;
    });
}
