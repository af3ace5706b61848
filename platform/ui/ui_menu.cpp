// Menu bars: loaded from .ui files or built at run time; items with check marks, dimming and
// callbacks (menuBar, item, callbackData, panel).
#include "ui_internal.h"
#include "tarq_ui_qt.h"

#include <QAction>
#include <QMenu>

namespace tarq_ui {
namespace {

struct Entry {
    int id = 0;
    QString name;
    bool isMenu = false;
    bool separator = false;
    QPointer<QMenu> menu;       // for menus
    QPointer<QAction> action;   // for items (and the menu's own action)
    int parent = 0;             // menu holding it; 0 for top-level menus
    MenuCallbackPtr callback = nullptr;
    void *callbackData = nullptr;
    bool checked = false;
};

struct MenuBarRec {
    int handle = 0;
    int panel = 0;
    QPointer<QMenuBar> bar;
    std::map<int, Entry> entries;
    int nextId = 2;
    MenuCallbackPtr callback = nullptr;   // whole bar (id 0)
    void *callbackData = nullptr;
};

std::map<int, std::unique_ptr<MenuBarRec>> bars;
int nextBar = 1;

MenuBarRec *findBar(int h) {
    auto it = bars.find(h);
    return it == bars.end() ? nullptr : it->second.get();
}

void fire(int bar, int item) {
    MenuBarRec *b = findBar(bar);
    if (!b || !b->entries.count(item)) return;
    Entry &e = b->entries[item];
    if (e.action && e.action->isCheckable()) e.action->setChecked(e.checked);   // marks change only by the program
    MenuCallbackPtr cb = nullptr;
    void *data = nullptr;
    bool haveData = false;
    for (int id = item; id; ) {
        Entry &x = b->entries[id];
        if (!cb) cb = x.callback;
        if (!haveData && x.callbackData) data = x.callbackData, haveData = true;
        id = x.parent;
    }
    if (!cb) cb = b->callback;
    if (!haveData) data = b->callbackData;
    if (cb) cb(bar, item, data, b->panel);
}

int addEntry(MenuBarRec &b, Entry e) {
    e.id = b.nextId++;
    int id = e.id;
    b.entries[id] = std::move(e);
    return id;
}

int addItem(MenuBarRec &b, int menu, const QString &name, const QString &text, QAction *before) {
    QMenu *m = b.entries[menu].menu;
    auto *a = new QAction(text, m);
    m->insertAction(before, a);
    Entry e;
    e.name = name;
    e.action = a;
    e.parent = menu;
    int id = addEntry(b, e);
    const int bar = b.handle;
    QObject::connect(a, &QAction::triggered, a, [bar, id] { fire(bar, id); });
    return id;
}

void buildMenu(MenuBarRec &b, int menuId, const UiNode &node, const UiFile &file) {
    for (const QString &name : node.addActions) {
        QMenu *m = b.entries[menuId].menu;
        if (name == "separator") {
            Entry e;
            e.separator = true;
            e.parent = menuId;
            e.action = m->addSeparator();
            addEntry(b, e);
            continue;
        }
        const UiNode *sub = nullptr;
        for (const UiNode &c : node.children)
            if (c.name == name && c.cls == "QMenu") sub = &c;
        if (sub) {
            auto *sm = new QMenu(sub->props.value("title").toString(), m);
            m->addMenu(sm);
            Entry e;
            e.name = name;
            e.isMenu = true;
            e.menu = sm;
            e.action = sm->menuAction();
            e.parent = menuId;
            int id = addEntry(b, e);
            buildMenu(b, id, *sub, file);
            continue;
        }
        auto it = file.actions.find(name);
        if (it == file.actions.end()) continue;
        int id = addItem(b, menuId, name, it->second.text, nullptr);
        Entry &e = b.entries[id];
        if (it->second.checkable || it->second.checked) {
            e.action->setCheckable(true);
            e.checked = it->second.checked;
            e.action->setChecked(e.checked);
        }
        e.action->setEnabled(it->second.enabled);
        if (!it->second.toolTip.isEmpty()) e.action->setToolTip(it->second.toolTip);
    }
}

int newBarRecord(int panel) {
    auto b = std::make_unique<MenuBarRec>();
    b->handle = nextBar++;
    b->bar = new QMenuBar;
    b->bar->hide();
    const int h = b->handle;
    bars[h] = std::move(b);
    if (panel) {
        int r = SetPanelMenuBar(panel, h);
        if (r < 0) {
            DiscardMenuBar(h);
            return r;
        }
    }
    return h;
}

}  // namespace

QMenuBar *menuBarWidget(int menuBar) {
    MenuBarRec *b = findBar(menuBar);
    return b ? b->bar.data() : nullptr;
}

int menuBarOfPanelDiscarded(int panel) {
    std::vector<int> owned;
    for (auto &[h, b] : bars)
        if (b->panel == panel) owned.push_back(h);
    for (int h : owned) DiscardMenuBar(h);
    return UI_OK;
}

void setMenuBarOwner(int menuBar, int panel) {
    if (MenuBarRec *b = findBar(menuBar)) b->panel = panel;
}

QMenu *menuForPullDown(int menuBar) {
    MenuBarRec *b = findBar(menuBar);
    if (!b) return nullptr;
    for (auto &[id, e] : b->entries)
        if (e.isMenu && e.parent == 0) return e.menu;
    return nullptr;
}

}  // namespace tarq_ui

using namespace tarq_ui;

QMenuBar *GetMenuBarWidget(int menuBar) {
    QMenuBar *w = nullptr;
    onGui([&]() -> int {
        w = menuBarWidget(menuBar);
        return 0;
    });
    return w;
}

int LoadMenuBar(int panel, const char *resource, const char *menuBarName) {
    return onGui([&]() -> int {
        if (panel && !findPanel(panel)) return UI_ERR_BAD_PANEL;
        const UiNode *node = nullptr;
        const UiFile *file = findUiResource(resource, fromUtf8(menuBarName), true, &node);
        if (!file || !node) return UI_ERR_RESOURCE;
        int h = newBarRecord(0);
        MenuBarRec &b = *findBar(h);
        b.bar->setObjectName(fromUtf8(menuBarName));
        for (const QString &name : node->addActions) {
            const UiNode *m = nullptr;
            for (const UiNode &c : node->children)
                if (c.name == name && c.cls == "QMenu") m = &c;
            if (!m) continue;
            auto *qm = b.bar->addMenu(m->props.value("title").toString());
            Entry e;
            e.name = name;
            e.isMenu = true;
            e.menu = qm;
            e.action = qm->menuAction();
            int id = addEntry(b, e);
            buildMenu(b, id, *m, *file);
        }
        if (panel) {
            int r = SetPanelMenuBar(panel, h);
            if (r < 0) {
                DiscardMenuBar(h);
                return r;
            }
        }
        return h;
    });
}

int NewMenuBar(int panel) {
    return onGui([&]() -> int {
        if (panel && !findPanel(panel)) return UI_ERR_BAD_PANEL;
        return newBarRecord(panel);
    });
}

int NewMenu(int menuBar, const char *label, int beforeMenu) {
    return onGui([&]() -> int {
        MenuBarRec *b = findBar(menuBar);
        if (!b) return UI_ERR_BAD_MENU;
        QAction *before = nullptr;
        if (beforeMenu > 0) {
            auto it = b->entries.find(beforeMenu);
            if (it == b->entries.end() || !it->second.isMenu || it->second.parent) return UI_ERR_BAD_MENU;
            before = it->second.action;
        }
        auto *qm = new QMenu(fromUtf8(label), b->bar);
        b->bar->insertMenu(before, qm);
        Entry e;
        e.isMenu = true;
        e.menu = qm;
        e.action = qm->menuAction();
        return addEntry(*b, e);
    });
}

int NewSubMenu(int menuBar, int menuItem) {
    return onGui([&]() -> int {
        MenuBarRec *b = findBar(menuBar);
        if (!b) return UI_ERR_BAD_MENU;
        auto it = b->entries.find(menuItem);
        if (it == b->entries.end() || it->second.isMenu || it->second.separator) return UI_ERR_BAD_MENU;
        Entry &item = it->second;
        auto *sm = new QMenu(item.action->text(), b->entries[item.parent].menu);
        item.action->setMenu(sm);
        item.isMenu = true;
        item.menu = sm;
        return menuItem;
    });
}

int NewMenuItem(int menuBar, int menu, const char *label, int beforeItem, MenuCallbackPtr callback,
                void *callbackData) {
    return onGui([&]() -> int {
        MenuBarRec *b = findBar(menuBar);
        if (!b) return UI_ERR_BAD_MENU;
        auto it = b->entries.find(menu);
        if (it == b->entries.end() || !it->second.isMenu || !it->second.menu) return UI_ERR_BAD_MENU;
        QAction *before = nullptr;
        if (beforeItem > 0) {
            auto bi = b->entries.find(beforeItem);
            if (bi == b->entries.end() || bi->second.parent != menu) return UI_ERR_BAD_MENU;
            before = bi->second.action;
        }
        int id = addItem(*b, menu, QString(), fromUtf8(label), before);
        b->entries[id].callback = callback;
        b->entries[id].callbackData = callbackData;
        return id;
    });
}

int InsertSeparator(int menuBar, int menu, int beforeItem) {
    return onGui([&]() -> int {
        MenuBarRec *b = findBar(menuBar);
        if (!b) return UI_ERR_BAD_MENU;
        auto it = b->entries.find(menu);
        if (it == b->entries.end() || !it->second.isMenu) return UI_ERR_BAD_MENU;
        QAction *before = nullptr;
        if (beforeItem > 0) {
            auto bi = b->entries.find(beforeItem);
            if (bi == b->entries.end() || bi->second.parent != menu) return UI_ERR_BAD_MENU;
            before = bi->second.action;
        }
        Entry e;
        e.separator = true;
        e.parent = menu;
        e.action = it->second.menu->insertSeparator(before);
        return addEntry(*b, e);
    });
}

int DiscardMenuBar(int menuBar) {
    return onGui([&]() -> int {
        auto it = bars.find(menuBar);
        if (it == bars.end()) return UI_ERR_BAD_MENU;
        std::unique_ptr<MenuBarRec> b = std::move(it->second);
        bars.erase(it);
        if (b->panel)
            if (Panel *p = findPanel(b->panel); p && p->menuBar == menuBar) p->menuBar = 0;
        if (b->bar) {
            b->bar->hide();
            b->bar->deleteLater();
        }
        return UI_OK;
    });
}

int SetPanelMenuBar(int panel, int menuBar) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        if (p->menuBar && p->menuBar != menuBar) {
            if (MenuBarRec *old = findBar(p->menuBar)) {
                old->panel = 0;
                if (old->bar) {
                    old->bar->hide();
                    old->bar->setParent(nullptr);
                }
            }
            p->menuBar = 0;
        }
        if (!menuBar) return UI_OK;
        MenuBarRec *b = findBar(menuBar);
        if (!b) return UI_ERR_BAD_MENU;
        b->panel = panel;
        p->menuBar = menuBar;
        b->bar->setParent(p->widget);
        b->bar->setNativeMenuBar(false);
        b->bar->setGeometry(0, 0, p->widget->width(), b->bar->sizeHint().height());
        b->bar->show();
        b->bar->raise();
        return UI_OK;
    });
}

int GetPanelMenuBar(int panel, int *menuBar) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p) return UI_ERR_BAD_PANEL;
        if (!menuBar) return UI_ERR_BAD_VALUE;
        *menuBar = p->menuBar;
        return UI_OK;
    });
}

int GetMenuItemId(int menuBar, const char *constantName) {
    return onGui([&]() -> int {
        MenuBarRec *b = findBar(menuBar);
        if (!b) return UI_ERR_BAD_MENU;
        const QString n = fromUtf8(constantName);
        for (auto &[id, e] : b->entries)
            if (!e.name.isEmpty() && e.name == n) return id;
        return UI_ERR_BAD_MENU;
    });
}

namespace {
template <class F>
int withEntry(int menuBar, int id, F &&f) {
    return onGui([&]() -> int {
        MenuBarRec *b = findBar(menuBar);
        if (!b) return UI_ERR_BAD_MENU;
        if (id == 0) return f(*b, nullptr);
        auto it = b->entries.find(id);
        if (it == b->entries.end()) return UI_ERR_BAD_MENU;
        return f(*b, &it->second);
    });
}
}  // namespace

int SetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, int value) {
    return withEntry(menuBar, menuOrItem, [&](MenuBarRec &b, Entry *e) -> int {
        if (!e) {
            if (attribute == ATTR_MENU_DIMMED) { b.bar->setEnabled(!value); return UI_OK; }
            return UI_ERR_BAD_ATTRIBUTE;
        }
        switch (attribute) {
        case ATTR_CHECKED:
            if (e->separator) return UI_ERR_BAD_ATTRIBUTE;
            e->action->setCheckable(true);
            e->checked = value != 0;
            e->action->setChecked(e->checked);
            return UI_OK;
        case ATTR_CHECKABLE:
            e->action->setCheckable(value != 0);
            return UI_OK;
        case ATTR_MENU_DIMMED:
        case ATTR_DIMMED:
            e->action->setEnabled(value == 0);
            return UI_OK;
        case ATTR_VISIBLE:
            e->action->setVisible(value != 0);
            return UI_OK;
        default:
            return UI_ERR_BAD_ATTRIBUTE;
        }
    });
}

int SetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, const char *value) {
    return withEntry(menuBar, menuOrItem, [&](MenuBarRec &, Entry *e) -> int {
        if (!e || attribute != ATTR_ITEM_NAME) return UI_ERR_BAD_ATTRIBUTE;
        if (e->isMenu && e->menu) e->menu->setTitle(fromUtf8(value));
        else e->action->setText(fromUtf8(value));
        return UI_OK;
    });
}

int SetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, void *value) {
    return withEntry(menuBar, menuOrItem, [&](MenuBarRec &b, Entry *e) -> int {
        if (attribute == ATTR_MENU_CALLBACK_DATA || attribute == ATTR_CALLBACK_DATA) {
            (e ? e->callbackData : b.callbackData) = value;
            return UI_OK;
        }
        if (attribute == ATTR_MENU_CALLBACK) {
            (e ? e->callback : b.callback) = reinterpret_cast<MenuCallbackPtr>(value);
            return UI_OK;
        }
        return UI_ERR_BAD_ATTRIBUTE;
    });
}

int SetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, MenuCallbackPtr value) {
    return withEntry(menuBar, menuOrItem, [&](MenuBarRec &b, Entry *e) -> int {
        if (attribute != ATTR_MENU_CALLBACK) return UI_ERR_BAD_ATTRIBUTE;
        (e ? e->callback : b.callback) = value;
        return UI_OK;
    });
}

int GetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, int *value) {
    return withEntry(menuBar, menuOrItem, [&](MenuBarRec &b, Entry *e) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        if (!e) {
            if (attribute == ATTR_MENU_DIMMED) { *value = !b.bar->isEnabled(); return UI_OK; }
            return UI_ERR_BAD_ATTRIBUTE;
        }
        switch (attribute) {
        case ATTR_CHECKED: *value = e->checked ? 1 : 0; return UI_OK;
        case ATTR_CHECKABLE: *value = e->action->isCheckable(); return UI_OK;
        case ATTR_MENU_DIMMED: case ATTR_DIMMED: *value = e->action->isEnabled() ? 0 : 1; return UI_OK;
        case ATTR_VISIBLE: *value = e->action->isVisible(); return UI_OK;
        default: return UI_ERR_BAD_ATTRIBUTE;
        }
    });
}

int GetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, std::string *value) {
    return withEntry(menuBar, menuOrItem, [&](MenuBarRec &, Entry *e) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        if (!e) return UI_ERR_BAD_ATTRIBUTE;
        if (attribute == ATTR_ITEM_NAME)
            *value = (e->isMenu && e->menu ? e->menu->title() : e->action->text()).toStdString();
        else if (attribute == ATTR_CONSTANT_NAME) *value = e->name.toStdString();
        else return UI_ERR_BAD_ATTRIBUTE;
        return UI_OK;
    });
}

int GetMenuBarAttribute(int menuBar, int menuOrItem, int attribute, void **value) {
    return withEntry(menuBar, menuOrItem, [&](MenuBarRec &b, Entry *e) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        if (attribute == ATTR_MENU_CALLBACK_DATA || attribute == ATTR_CALLBACK_DATA)
            *value = e ? e->callbackData : b.callbackData;
        else if (attribute == ATTR_MENU_CALLBACK)
            *value = reinterpret_cast<void *>(e ? e->callback : b.callback);
        else return UI_ERR_BAD_ATTRIBUTE;
        return UI_OK;
    });
}

int InstallMenuCallback(int menuBar, int menuOrItem, MenuCallbackPtr callback, void *callbackData) {
    return withEntry(menuBar, menuOrItem, [&](MenuBarRec &b, Entry *e) -> int {
        (e ? e->callback : b.callback) = callback;
        (e ? e->callbackData : b.callbackData) = callbackData;
        return UI_OK;
    });
}

int GetMenuItems(int menuBar, int menu, std::vector<int> *items) {
    return onGui([&]() -> int {
        MenuBarRec *b = findBar(menuBar);
        if (!b) return UI_ERR_BAD_MENU;
        if (!items) return UI_ERR_BAD_VALUE;
        if (menu && (!b->entries.count(menu) || !b->entries[menu].isMenu)) return UI_ERR_BAD_MENU;
        items->clear();
        // In display order: walk the Qt actions of the menu (or bar).
        QList<QAction *> actions = menu ? b->entries[menu].menu->actions() : b->bar->actions();
        for (QAction *a : actions)
            for (auto &[id, e] : b->entries)
                if (e.action == a && e.parent == menu) items->push_back(id);
        return UI_OK;
    });
}

int ActivateMenuItem(int menuBar, int menuItem) {
    return onGui([&]() -> int {
        MenuBarRec *b = findBar(menuBar);
        if (!b) return UI_ERR_BAD_MENU;
        auto it = b->entries.find(menuItem);
        if (it == b->entries.end() || it->second.isMenu || it->second.separator) return UI_ERR_BAD_MENU;
        if (!it->second.action->isEnabled()) return UI_ERR_BAD_MENU;
        it->second.action->trigger();
        return UI_OK;
    });
}
