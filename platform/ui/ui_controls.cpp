// Controls: creation from .ui nodes, values, attributes, events, lists, text boxes, tables,
// trees, splitters.
#include "ui_internal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFrame>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTextBlock>
#include <QToolButton>
#include <QTreeWidget>

#include <charconv>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace tarq_ui {
namespace {

constexpr int TypeRole = Qt::UserRole + 1;     // table cell type
constexpr int RingRole = Qt::UserRole + 2;     // table ring cell items (QStringList)
constexpr int ValueRole = Qt::UserRole;        // list/tree item values

struct Programmatic {
    Control &c;
    explicit Programmatic(Control &c) : c(c) { c.programmatic++; }
    ~Programmatic() { c.programmatic--; }
};

// Numbers in texts always have a decimal point, whatever the process locale says.
QString numberText(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf - 1, v, std::chars_format::general, 10);
    *r.ptr = '\0';
    return QString::fromLatin1(buf);
}

bool parseNumber(const QString &text, double *v) {
    const QByteArray b = text.trimmed().toUtf8();
    const char *s = b.constData(), *end = s + b.size();
    if (s != end && *s == '+') s++;
    if (s == end) return false;
    double d = 0;
    auto r = std::from_chars(s, end, d);
    if (r.ec != std::errc() || r.ptr != end) return false;
    *v = d;
    return true;
}

// Table cells of numeric type are edited as text and shown in the C locale.
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant &value, const QLocale &locale) const override {
        if (value.typeId() == QMetaType::Double) return numberText(value.toDouble());
        return QStyledItemDelegate::displayText(value, locale);
    }
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override {
        if (index.data(TypeRole).toInt() == VAL_CELL_NUMERIC) return new QLineEdit(parent);
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
    void setEditorData(QWidget *editor, const QModelIndex &index) const override {
        if (auto *e = qobject_cast<QLineEdit *>(editor);
            e && index.data(TypeRole).toInt() == VAL_CELL_NUMERIC) {
            e->setText(numberText(index.data(Qt::EditRole).toDouble()));
            return;
        }
        QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override {
        if (auto *e = qobject_cast<QLineEdit *>(editor);
            e && index.data(TypeRole).toInt() == VAL_CELL_NUMERIC) {
            double v;
            if (parseNumber(e->text(), &v)) model->setData(index, v, Qt::EditRole);
            return;
        }
        QStyledItemDelegate::setModelData(editor, model, index);
    }
};

// A splitter is a thin bar the user drags; the edges of the controls added to it follow.
class SplitterBar : public QFrame {
public:
    explicit SplitterBar(QWidget *parent) : QFrame(parent) {
        setFrameStyle(QFrame::Panel | QFrame::Raised);
        setAutoFillBackground(true);
    }
    bool horizontal() const { return width() >= height(); }

protected:
    void mousePressEvent(QMouseEvent *e) override {
        if (e->button() == Qt::LeftButton) {
            dragging_ = true;
            start_ = e->globalPosition().toPoint();
        }
    }
    void mouseMoveEvent(QMouseEvent *e) override {
        if (!dragging_) return;
        QPoint p = e->globalPosition().toPoint();
        int offset = horizontal() ? p.y() - start_.y() : p.x() - start_.x();
        if (offset == 0) return;
        start_ = p;
        moveBy(offset, false);
    }
    void mouseReleaseEvent(QMouseEvent *e) override {
        if (e->button() == Qt::LeftButton && dragging_) {
            dragging_ = false;
            if (Control *c = controlOfWidget(this)) fireCtrl(c->panel, c->id, EVENT_COMMIT, 0, 0);
        }
    }

public:
    void moveBy(int offset, bool commit);

private:
    bool dragging_ = false;
    QPoint start_;
};

QRect ctrlGeometry(const Control &c) {
    Panel *p = findPanel(c.panel);
    if (!p || !p->widget || !c.widget) return {};
    QPoint tl = c.widget->mapTo(p->widget, QPoint(0, 0));
    return QRect(tl, c.widget->size());
}

void setCtrlGeometry(Control &c, const QRect &panelRect) {
    Panel *p = findPanel(c.panel);
    if (!p || !p->widget || !c.widget) return;
    QWidget *parent = c.widget->parentWidget();
    QPoint tl = parent ? parent->mapFrom(p->widget, panelRect.topLeft()) : panelRect.topLeft();
    c.widget->setGeometry(QRect(tl, QSize(std::max(1, panelRect.width()), std::max(1, panelRect.height()))));
    placeLabel(c);
}

void SplitterBar::moveBy(int offset, bool commit) {
    Control *c = controlOfWidget(this);
    if (!c) return;
    const bool h = horizontal();
    move(h ? x() : x() + offset, h ? y() + offset : y());
    for (auto [id, edge] : c->splitterCtrls) {
        Control *o = findControl(c->panel, id);
        if (!o) continue;
        QRect g = ctrlGeometry(*o);
        switch (edge) {
        case VAL_TOP_EDGE: g.setTop(g.top() + offset); break;
        case VAL_BOTTOM_EDGE: g.setBottom(g.bottom() + offset); break;
        case VAL_LEFT_EDGE: g.setLeft(g.left() + offset); break;
        case VAL_RIGHT_EDGE: g.setRight(g.right() + offset); break;
        }
        setCtrlGeometry(*o, g);
    }
    const int panel = c->panel, id = c->id;
    fireCtrl(panel, id, EVENT_VAL_CHANGED, offset, 0);
    if (commit) fireCtrl(panel, id, EVENT_COMMIT, 0, 0);
}

void updateStyle(Control &c) {
    if (!c.widget) return;
    QString css;
    if (c.textColor >= 0) css += QString("color: %1;").arg(toColor(c.textColor).name());
    if (c.backColor >= 0)
        css += (c.backColor & VAL_TRANSPARENT) ? QString("background-color: transparent;")
                                               : QString("background-color: %1;").arg(toColor(c.backColor).name());
    c.widget->setStyleSheet(css.isEmpty() ? QString() : css);
}

// Events of the widgets' own signals.
void wire(Control &c) {
    QWidget *w = c.widget;
    const int panel = c.panel, id = c.id;
    auto user = [panel, id] {
        Control *x = findControl(panel, id);
        return x && x->programmatic == 0;
    };
    auto changedAndCommit = [panel, id, user] {
        if (!user()) return;
        fireCtrl(panel, id, EVENT_VAL_CHANGED, 0, 0);
        fireCtrl(panel, id, EVENT_COMMIT, 0, 0);
    };
    switch (c.style) {
    case CTRL_NUMERIC: {
        auto *s = static_cast<QDoubleSpinBox *>(w);
        s->setKeyboardTracking(false);
        QObject::connect(s, &QDoubleSpinBox::valueChanged, s, changedAndCommit);
        break;
    }
    case CTRL_RING:
        QObject::connect(static_cast<QComboBox *>(w), &QComboBox::activated, w, changedAndCommit);
        break;
    case CTRL_TOGGLE_BUTTON:
    case CTRL_PICTURE_TOGGLE_BUTTON:
    case CTRL_CHECK_BOX:
        QObject::connect(static_cast<QAbstractButton *>(w), &QAbstractButton::clicked, w, changedAndCommit);
        break;
    case CTRL_COMMAND_BUTTON:
    case CTRL_PICTURE_BUTTON:
        QObject::connect(static_cast<QAbstractButton *>(w), &QAbstractButton::clicked, w,
                         [panel, id, user] { if (user()) fireCtrl(panel, id, EVENT_COMMIT, 0, 0); });
        break;
    case CTRL_STRING: {
        auto *e = static_cast<QLineEdit *>(w);
        QObject::connect(e, &QLineEdit::textEdited, e,
                         [panel, id] { fireCtrl(panel, id, EVENT_VAL_CHANGED, 0, 0); });
        QObject::connect(e, &QLineEdit::returnPressed, e,
                         [panel, id] { fireCtrl(panel, id, EVENT_COMMIT, 0, 0); });
        break;
    }
    case CTRL_LIST_BOX: {
        auto *l = static_cast<QListWidget *>(w);
        QObject::connect(l, &QListWidget::currentRowChanged, l, [panel, id, user](int row) {
            if (user()) fireCtrl(panel, id, EVENT_VAL_CHANGED, row, 0);
        });
        QObject::connect(l, &QListWidget::itemActivated, l, [panel, id, l](QListWidgetItem *it) {
            fireCtrl(panel, id, EVENT_COMMIT, l->row(it), 0);
        });
        break;
    }
    case CTRL_TREE: {
        auto *t = static_cast<QTreeWidget *>(w);
        QObject::connect(t, &QTreeWidget::itemChanged, t, [panel, id, user](QTreeWidgetItem *it, int) {
            if (!user()) return;
            Control *x = findControl(panel, id);
            if (!x) return;
            auto pos = std::find(x->treeItems.begin(), x->treeItems.end(), it);
            if (pos == x->treeItems.end()) return;
            int index = int(pos - x->treeItems.begin());
            int state = it->checkState(0) == Qt::Checked ? 1 : 0;
            if (fireCtrl(panel, id, EVENT_MARK_STATE_CHANGE, index, state) == 0)
                fireCtrl(panel, id, EVENT_VAL_CHANGED, index, 0);
        });
        QObject::connect(t, &QTreeWidget::currentItemChanged, t, [panel, id, user](QTreeWidgetItem *it, QTreeWidgetItem *) {
            if (!user()) return;
            Control *x = findControl(panel, id);
            if (!x) return;
            auto pos = std::find(x->treeItems.begin(), x->treeItems.end(), it);
            if (pos != x->treeItems.end())
                fireCtrl(panel, id, EVENT_VAL_CHANGED, int(pos - x->treeItems.begin()), 0);
        });
        QObject::connect(t, &QTreeWidget::itemActivated, t, [panel, id](QTreeWidgetItem *it, int) {
            Control *x = findControl(panel, id);
            if (!x) return;
            auto pos = std::find(x->treeItems.begin(), x->treeItems.end(), it);
            if (pos != x->treeItems.end())
                fireCtrl(panel, id, EVENT_COMMIT, int(pos - x->treeItems.begin()), 0);
        });
        break;
    }
    case CTRL_TABLE: {
        auto *t = static_cast<QTableWidget *>(w);
        QObject::connect(t, &QTableWidget::itemChanged, t, [panel, id, user](QTableWidgetItem *it) {
            if (!user()) return;
            int r = it->row() + 1, col = it->column() + 1;
            fireCtrl(panel, id, EVENT_VAL_CHANGED, r, col);
            fireCtrl(panel, id, EVENT_COMMIT, r, col);
        });
        QObject::connect(t, &QTableWidget::currentCellChanged, t, [panel, id, user](int r, int col, int, int) {
            if (user() && r >= 0 && col >= 0) fireCtrl(panel, id, EVENT_ACTIVE_CELL_CHANGE, r + 1, col + 1);
        });
        break;
    }
    case CTRL_TIMER: {
        c.timer = new QTimer(w);
        QObject::connect(c.timer, &QTimer::timeout, w, [panel, id] {
            fireCtrl(panel, id, EVENT_TIMER_TICK, 0, 0);
        });
        break;
    }
    default:
        break;
    }
}

QWidget *createWidget(int style, QWidget *parent) {
    switch (style) {
    case CTRL_NUMERIC: {
        auto *s = new QDoubleSpinBox(parent);
        s->setRange(-1e300, 1e300);
        s->setDecimals(2);
        s->setValue(0);
        return s;
    }
    case CTRL_RING: return new QComboBox(parent);
    case CTRL_TOGGLE_BUTTON: {
        auto *b = new QPushButton(parent);
        b->setCheckable(true);
        return b;
    }
    case CTRL_COMMAND_BUTTON: return new QPushButton(parent);
    case CTRL_PICTURE_BUTTON:
    case CTRL_PICTURE_TOGGLE_BUTTON: {
        auto *b = new QToolButton(parent);
        b->setCheckable(style == CTRL_PICTURE_TOGGLE_BUTTON);
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        return b;
    }
    case CTRL_CHECK_BOX: return new QCheckBox(parent);
    case CTRL_STRING: return new QLineEdit(parent);
    case CTRL_TEXT_MSG: return new QLabel(parent);
    case CTRL_TEXT_BOX: {
        auto *t = new QPlainTextEdit(parent);
        t->setLineWrapMode(QPlainTextEdit::NoWrap);
        return t;
    }
    case CTRL_TABLE: {
        auto *t = new QTableWidget(parent);
        t->setItemDelegate(new CellDelegate(t));
        return t;
    }
    case CTRL_TREE: {
        auto *t = new QTreeWidget(parent);
        t->setHeaderHidden(true);
        t->setColumnCount(1);
        return t;
    }
    case CTRL_LIST_BOX: return new QListWidget(parent);
    case CTRL_GRAPH: return createGraph(parent);
    case CTRL_TIMER: {
        auto *w = new QWidget(parent);
        w->setFixedSize(1, 1);
        w->hide();
        return w;
    }
    case CTRL_SPLITTER: return new SplitterBar(parent);
    case CTRL_PICTURE: {
        auto *l = new QLabel(parent);
        l->setScaledContents(true);
        return l;
    }
    default: {
        auto *f = new QFrame(parent);
        f->setFrameStyle(QFrame::Box | QFrame::Plain);
        return f;
    }
    }
}

int styleOfNode(const UiNode &n) {
    const QString kind = n.props.value("tarqKind").toString();
    if (kind == "timer") return CTRL_TIMER;
    if (kind == "splitter") return CTRL_SPLITTER;
    if (kind == "graph") return CTRL_GRAPH;
    if (kind == "picture") return CTRL_PICTURE;
    if (kind == "textbox") return CTRL_TEXT_BOX;
    const QString &c = n.cls;
    if (c == "QDoubleSpinBox" || c == "QSpinBox" || c == "QSlider" || c == "QProgressBar")
        return CTRL_NUMERIC;
    if (c == "QComboBox") return CTRL_RING;
    if (c == "QPushButton" || c == "QToolButton") {
        bool picture = n.props.contains("icon") || c == "QToolButton";
        bool toggle = n.props.value("checkable").toBool();
        if (picture) return toggle ? CTRL_PICTURE_TOGGLE_BUTTON : CTRL_PICTURE_BUTTON;
        return toggle ? CTRL_TOGGLE_BUTTON : CTRL_COMMAND_BUTTON;
    }
    if (c == "QCheckBox" || c == "QRadioButton") return CTRL_CHECK_BOX;
    if (c == "QLineEdit") return CTRL_STRING;
    if (c == "QLabel") return n.props.contains("pixmap") ? CTRL_PICTURE : CTRL_TEXT_MSG;
    if (c == "QPlainTextEdit" || c == "QTextEdit" || c == "QTextBrowser") return CTRL_TEXT_BOX;
    if (c == "QTableWidget") return CTRL_TABLE;
    if (c == "QTreeWidget") return CTRL_TREE;
    if (c == "QListWidget") return CTRL_LIST_BOX;
    if (c == "QCustomPlot") return CTRL_GRAPH;
    return CTRL_DECORATION;
}

QStringList splitList(const QString &s) {
    return s.isEmpty() ? QStringList() : s.split('|');
}

void addTreeItems(Control &c, QTreeWidget *t, QTreeWidgetItem *parent,
                  const std::vector<UiNode::TreeItem> &items) {
    for (const auto &ti : items) {
        auto *it = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(t);
        it->setText(0, ti.text);
        it->setData(0, ValueRole, int(c.treeItems.size()));
        c.treeItems.push_back(it);
        addTreeItems(c, t, it, ti.children);
    }
}

QTableWidgetItem *newCell(int type, const QStringList &ring) {
    auto *it = new QTableWidgetItem;
    it->setData(TypeRole, type);
    if (type == VAL_CELL_NUMERIC) it->setData(Qt::EditRole, 0.0);
    if (type == VAL_CELL_RING) it->setData(RingRole, ring);
    return it;
}

void makeRingCell(Control &c, QTableWidget *t, int row, int col, const QStringList &items) {
    auto *it = t->item(row, col);
    if (!it) return;
    auto *combo = new QComboBox;
    combo->addItems(items);
    it->setText(items.value(0));
    const int panel = c.panel, id = c.id;
    QObject::connect(combo, &QComboBox::activated, combo, [panel, id, t, combo](int) {
        Control *x = findControl(panel, id);
        if (!x) return;
        // Find the cell by its widget: rows may have moved since the combo was made.
        for (int r = 0; r < t->rowCount(); r++)
            for (int k = 0; k < t->columnCount(); k++)
                if (t->cellWidget(r, k) == combo) {
                    {
                        Programmatic g(*x);
                        if (auto *cell = t->item(r, k)) cell->setText(combo->currentText());
                    }
                    // Choosing in a ring cell makes it the active cell, as a click on any cell does.
                    if (t->currentRow() != r || t->currentColumn() != k) t->setCurrentCell(r, k);
                    fireCtrl(panel, id, EVENT_VAL_CHANGED, r + 1, k + 1);
                    fireCtrl(panel, id, EVENT_COMMIT, r + 1, k + 1);
                    return;
                }
    });
    t->setCellWidget(row, col, combo);
}

int columnType(QTableWidget *t, int col) {
    QTableWidgetItem *h = t->horizontalHeaderItem(col);
    return h ? h->data(TypeRole).toInt() : VAL_CELL_STRING;
}

QStringList columnRing(QTableWidget *t, int col) {
    QTableWidgetItem *h = t->horizontalHeaderItem(col);
    return h ? h->data(RingRole).toStringList() : QStringList();
}

void fillRow(Control &c, QTableWidget *t, int row, int forcedType) {
    for (int col = 0; col < t->columnCount(); col++) {
        int type = forcedType >= 0 ? forcedType : columnType(t, col);
        t->setItem(row, col, newCell(type, columnRing(t, col)));
        if (type == VAL_CELL_RING) makeRingCell(c, t, row, col, columnRing(t, col));
    }
}

void configureFromNode(Control &c, const UiNode &n) {
    QWidget *w = c.widget;
    const QVariantMap &p = n.props;
    Programmatic g(c);
    if (p.contains("geometry")) w->setGeometry(p.value("geometry").toRect());
    if (p.contains("toolTip")) w->setToolTip(p.value("toolTip").toString());
    if (p.contains("enabled")) w->setEnabled(p.value("enabled").toBool());
    if (p.contains("font")) w->setFont(p.value("font").value<QFont>());
    if (p.contains("styleSheet")) w->setStyleSheet(p.value("styleSheet").toString());
    switch (c.style) {
    case CTRL_NUMERIC: {
        auto *s = static_cast<QDoubleSpinBox *>(w);
        bool integer = n.cls == "QSpinBox" || n.cls == "QSlider" || n.cls == "QProgressBar" ||
                       p.value("dataType").toString() == "integer";
        c.dataType = integer ? VAL_INTEGER : VAL_DOUBLE;
        if (integer) {
            s->setDecimals(0);
            s->setRange(INT_MIN, INT_MAX);
        }
        if (p.contains("decimals")) s->setDecimals(p.value("decimals").toInt());
        if (p.contains("minimum") || p.contains("maximum"))
            s->setRange(p.value("minimum", s->minimum()).toDouble(),
                        p.value("maximum", s->maximum()).toDouble());
        if (p.contains("singleStep")) s->setSingleStep(p.value("singleStep").toDouble());
        if (p.contains("value")) s->setValue(p.value("value").toDouble());
        if (p.value("readOnly").toBool()) s->setReadOnly(true);
        break;
    }
    case CTRL_RING:
    case CTRL_LIST_BOX: {
        QStringList values = splitList(p.value("values").toString());
        for (int i = 0; i < n.items.size(); i++) {
            QVariant v = i;
            double d;
            if (i < values.size() && parseNumber(values[i], &d))
                v = (d == std::floor(d) && std::fabs(d) < 2e9 && !values[i].contains('.')) ? QVariant(int(d)) : QVariant(d);
            if (c.style == CTRL_RING) static_cast<QComboBox *>(w)->addItem(n.items[i], v);
            else {
                auto *it = new QListWidgetItem(n.items[i], static_cast<QListWidget *>(w));
                it->setData(ValueRole, v);
            }
        }
        if (p.contains("currentIndex")) {
            if (c.style == CTRL_RING) static_cast<QComboBox *>(w)->setCurrentIndex(p.value("currentIndex").toInt());
            else static_cast<QListWidget *>(w)->setCurrentRow(p.value("currentIndex").toInt());
        }
        break;
    }
    case CTRL_TOGGLE_BUTTON:
    case CTRL_COMMAND_BUTTON:
    case CTRL_PICTURE_BUTTON:
    case CTRL_PICTURE_TOGGLE_BUTTON:
    case CTRL_CHECK_BOX: {
        auto *b = static_cast<QAbstractButton *>(w);
        b->setText(p.value("text").toString());
        if (p.contains("checked")) b->setChecked(p.value("checked").toBool());
        if (p.contains("icon")) {
            QPixmap pm(p.value("icon").toStringList().value(0));
            b->setIcon(QIcon(pm));
            b->setIconSize(w->size() - QSize(6, 6));
        }
        break;
    }
    case CTRL_STRING:
        static_cast<QLineEdit *>(w)->setText(p.value("text").toString());
        if (p.value("readOnly").toBool()) static_cast<QLineEdit *>(w)->setReadOnly(true);
        break;
    case CTRL_TEXT_MSG:
        static_cast<QLabel *>(w)->setText(p.value("text").toString());
        static_cast<QLabel *>(w)->setWordWrap(p.value("wordWrap").toBool());
        break;
    case CTRL_TEXT_BOX:
        static_cast<QPlainTextEdit *>(w)->setPlainText(p.value("plainText").toString());
        static_cast<QPlainTextEdit *>(w)->setReadOnly(p.value("readOnly").toBool());
        break;
    case CTRL_PICTURE:
        if (p.contains("pixmap")) static_cast<QLabel *>(w)->setPixmap(QPixmap(p.value("pixmap").toStringList().value(0)));
        break;
    case CTRL_TABLE: {
        auto *t = static_cast<QTableWidget *>(w);
        QStringList types = splitList(p.value("columnTypes").toString());
        QStringList ring = splitList(p.value("ringItems").toString());
        t->setColumnCount(n.columns.size());
        for (int col = 0; col < n.columns.size(); col++) {
            auto *h = new QTableWidgetItem(n.columns[col]);
            QString ty = types.value(col);
            int type = ty == "ring" ? VAL_CELL_RING : ty == "numeric" ? VAL_CELL_NUMERIC : VAL_CELL_STRING;
            h->setData(TypeRole, type);
            if (type == VAL_CELL_RING) h->setData(RingRole, ring);
            t->setHorizontalHeaderItem(col, h);
        }
        t->setRowCount(n.rows.size());
        for (int r = 0; r < n.rows.size(); r++) {
            t->setVerticalHeaderItem(r, new QTableWidgetItem(n.rows[r]));
            fillRow(c, t, r, -1);
        }
        break;
    }
    case CTRL_TREE:
        addTreeItems(c, static_cast<QTreeWidget *>(w), nullptr, n.treeItems);
        break;
    case CTRL_TIMER:
        c.interval = p.value("interval", 1.0).toDouble();
        if (c.interval <= 0) c.interval = 1.0;
        c.timer->setInterval(int(std::lround(c.interval * 1000)));
        if (p.value("enabled", true).toBool()) c.timer->start();
        break;
    case CTRL_GRAPH:
        graphBind(asGraph(w), c.panel, c.id);
        if (p.contains("numCursors")) graphSetAttribute(asGraph(w), ATTR_NUM_CURSORS, p.value("numCursors").toInt());
        if (p.contains("xName")) graphSetAttribute(asGraph(w), ATTR_XNAME, p.value("xName").toString());
        if (p.contains("yName")) graphSetAttribute(asGraph(w), ATTR_YNAME, p.value("yName").toString());
        break;
    default:
        break;
    }
    if (p.contains("textColor")) c.textColor = fromColor(p.value("textColor").value<QColor>());
    if (p.contains("backColor")) c.backColor = fromColor(p.value("backColor").value<QColor>());
    if (c.textColor >= 0 || c.backColor >= 0) updateStyle(c);
    if (p.contains("label")) applyLabel(c, p.value("label").toString());
    if (p.contains("visible") && !p.value("visible").toBool()) {
        w->hide();
        if (c.label) c.label->hide();
    }
}

}  // namespace

void buildControls(Panel &p, const UiNode &node, QWidget *parentWidget) {
    for (const UiNode &child : node.children) {
        if (child.cls == "QMenuBar" || child.cls == "QStatusBar" || child.cls == "QToolBar") continue;
        const int style = styleOfNode(child);
        QWidget *w = createWidget(style, parentWidget);
        int id = registerControl(p, w, style, child.name, child.props.value("ctrlId").toInt());
        Control &c = *p.controls[id];
        wire(c);
        configureFromNode(c, child);
        if (style != CTRL_TIMER && !(child.props.contains("visible") && !child.props.value("visible").toBool()))
            w->show();
        if (style == CTRL_DECORATION && !child.children.empty()) {
            // Containers (frames, group boxes) keep their children; the children are controls
            // of the same panel.
            if (child.cls == "QFrame" || child.cls == "QWidget")
                static_cast<QFrame *>(w)->setFrameStyle(QFrame::NoFrame);
            buildControls(p, child, w);
        }
    }
}

void destroyControl(Panel &p, int control) {
    auto it = p.controls.find(control);
    if (it == p.controls.end()) return;
    std::unique_ptr<Control> c = std::move(it->second);
    p.controls.erase(it);
    p.tabOrder.erase(std::remove(p.tabOrder.begin(), p.tabOrder.end(), control), p.tabOrder.end());
    if (c->timer) c->timer->stop();
    if (c->label) c->label->deleteLater();
    if (c->widget) {
        c->widget->hide();
        c->widget->setProperty("tarqCtrl", QVariant());
        c->widget->setProperty("tarqPanel", QVariant());
        c->widget->deleteLater();
    }
}

}  // namespace tarq_ui

using namespace tarq_ui;

namespace {

template <class F>
int withCtrl(int panel, int control, F &&f) {
    return onGui([&]() -> int {
        if (!findPanel(panel)) return UI_ERR_BAD_PANEL;
        Control *c = findControl(panel, control);
        if (!c || !c->widget) return UI_ERR_BAD_CONTROL;
        return f(*c);
    });
}

int findItemByValue(const QVariantList &values, double v) {
    for (int i = 0; i < values.size(); i++) {
        bool ok = false;
        double d = values[i].toDouble(&ok);
        if (ok && d == v) return i;
    }
    return -1;
}

QVariantList itemValues(Control &c) {
    QVariantList l;
    if (c.style == CTRL_RING) {
        auto *b = static_cast<QComboBox *>(c.widget.data());
        for (int i = 0; i < b->count(); i++) l << b->itemData(i);
    } else if (c.style == CTRL_LIST_BOX) {
        auto *b = static_cast<QListWidget *>(c.widget.data());
        for (int i = 0; i < b->count(); i++) l << b->item(i)->data(ValueRole);
    }
    return l;
}

int currentIndex(Control &c) {
    if (c.style == CTRL_RING) return static_cast<QComboBox *>(c.widget.data())->currentIndex();
    if (c.style == CTRL_LIST_BOX) return static_cast<QListWidget *>(c.widget.data())->currentRow();
    return -1;
}

int setIndex(Control &c, int index) {
    Programmatic g(c);
    if (c.style == CTRL_RING) {
        auto *b = static_cast<QComboBox *>(c.widget.data());
        if (index < 0 || index >= b->count()) return UI_ERR_BAD_INDEX;
        b->setCurrentIndex(index);
        return UI_OK;
    }
    if (c.style == CTRL_LIST_BOX) {
        auto *b = static_cast<QListWidget *>(c.widget.data());
        if (index < 0 || index >= b->count()) return UI_ERR_BAD_INDEX;
        b->setCurrentRow(index);
        return UI_OK;
    }
    return UI_ERR_BAD_CONTROL;
}

double variantNumber(const QVariant &v) {
    if (v.typeId() == QMetaType::VoidStar) return double(reinterpret_cast<intptr_t>(v.value<void *>()));
    return v.toDouble();
}

int setNumeric(Control &c, double v) {
    Programmatic g(c);
    switch (c.style) {
    case CTRL_NUMERIC:
        if (std::isnan(v)) return UI_ERR_BAD_VALUE;
        static_cast<QDoubleSpinBox *>(c.widget.data())->setValue(v);
        return UI_OK;
    case CTRL_RING:
    case CTRL_LIST_BOX: {
        int i = findItemByValue(itemValues(c), v);
        if (i < 0) return UI_ERR_BAD_VALUE;
        return setIndex(c, i);
    }
    case CTRL_TOGGLE_BUTTON:
    case CTRL_PICTURE_TOGGLE_BUTTON:
    case CTRL_CHECK_BOX:
        static_cast<QAbstractButton *>(c.widget.data())->setChecked(v != 0);
        return UI_OK;
    case CTRL_STRING:
        static_cast<QLineEdit *>(c.widget.data())->setText(numberText(v));
        return UI_OK;
    case CTRL_TEXT_MSG:
        static_cast<QLabel *>(c.widget.data())->setText(numberText(v));
        return UI_OK;
    case CTRL_TREE: {
        for (size_t i = 0; i < c.treeItems.size(); i++)
            if (variantNumber(c.treeItems[i]->data(0, ValueRole)) == v) {
                static_cast<QTreeWidget *>(c.widget.data())->setCurrentItem(c.treeItems[i]);
                return UI_OK;
            }
        return UI_ERR_BAD_VALUE;
    }
    default:
        return UI_ERR_BAD_CONTROL;
    }
}

int getNumeric(Control &c, double *v) {
    switch (c.style) {
    case CTRL_NUMERIC:
        *v = static_cast<QDoubleSpinBox *>(c.widget.data())->value();
        return UI_OK;
    case CTRL_RING:
    case CTRL_LIST_BOX: {
        int i = currentIndex(c);
        if (i < 0) return UI_ERR_BAD_INDEX;
        *v = variantNumber(itemValues(c).value(i));
        return UI_OK;
    }
    case CTRL_TOGGLE_BUTTON:
    case CTRL_PICTURE_TOGGLE_BUTTON:
    case CTRL_CHECK_BOX:
        *v = static_cast<QAbstractButton *>(c.widget.data())->isChecked() ? 1 : 0;
        return UI_OK;
    case CTRL_STRING:
        return parseNumber(static_cast<QLineEdit *>(c.widget.data())->text(), v) ? UI_OK : UI_ERR_BAD_VALUE;
    case CTRL_TEXT_MSG:
        return parseNumber(static_cast<QLabel *>(c.widget.data())->text(), v) ? UI_OK : UI_ERR_BAD_VALUE;
    case CTRL_TREE: {
        auto *it = static_cast<QTreeWidget *>(c.widget.data())->currentItem();
        if (!it) return UI_ERR_BAD_INDEX;
        *v = variantNumber(it->data(0, ValueRole));
        return UI_OK;
    }
    default:
        return UI_ERR_BAD_CONTROL;
    }
}

}  // namespace

int GetCtrlId(int panel, const char *constantName) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p) return UI_ERR_BAD_PANEL;
        const QString n = fromUtf8(constantName);
        for (auto &[id, c] : p->controls)
            if (c->name == n) return id;
        return UI_ERR_BAD_CONTROL;
    });
}

int NewCtrl(int panel, int style, const char *label, int top, int left) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        if (style < CTRL_NUMERIC || style > CTRL_DECORATION) return UI_ERR_BAD_VALUE;
        QWidget *w = createWidget(style, p->widget);
        int id = registerControl(*p, w, style, QString(), 0);
        Control &c = *p->controls[id];
        wire(c);
        QSize size(100, 24);
        switch (style) {
        case CTRL_TABLE: case CTRL_TREE: case CTRL_LIST_BOX: case CTRL_TEXT_BOX: size = QSize(200, 120); break;
        case CTRL_GRAPH: size = QSize(300, 200); break;
        case CTRL_PICTURE_BUTTON: case CTRL_PICTURE_TOGGLE_BUTTON: size = QSize(30, 30); break;
        case CTRL_SPLITTER: size = QSize(200, 4); break;
        default: break;
        }
        w->setGeometry(left, top, size.width(), size.height());
        if (style == CTRL_GRAPH) graphBind(asGraph(w), panel, id);
        const QString text = fromUtf8(label);
        if (auto *b = qobject_cast<QAbstractButton *>(w)) b->setText(text);
        else if (style == CTRL_TEXT_MSG) static_cast<QLabel *>(w)->setText(text);
        else if (!text.isEmpty()) applyLabel(c, text);
        if (style == CTRL_TIMER) {
            c.timer->setInterval(1000);
            c.timer->start();
        } else {
            w->show();
        }
        return id;
    });
}

int DiscardCtrl(int panel, int control) {
    return withCtrl(panel, control, [&](Control &) -> int {
        fireCtrl(panel, control, EVENT_DISCARD, 0, 0);
        if (Panel *p = findPanel(panel)) destroyControl(*p, control);
        return UI_OK;
    });
}

int DuplicateCtrl(int sourcePanel, int control, int destPanel, const char *label, int top, int left) {
    return withCtrl(sourcePanel, control, [&](Control &src) -> int {
        Panel *dst = findPanel(destPanel);
        if (!dst || !dst->widget) return UI_ERR_BAD_PANEL;
        int id = NewCtrl(destPanel, src.style, nullptr, top, left);
        if (id < 0) return id;
        Control &c = *dst->controls[id];
        Control *s = findControl(sourcePanel, control);   // NewCtrl may have rehashed nothing, but be safe
        if (!s) return UI_ERR_BAD_CONTROL;
        c.name = s->name;
        c.callback = s->callback;
        c.callbackData = s->callbackData;
        c.dataType = s->dataType;
        c.textColor = s->textColor;
        c.backColor = s->backColor;
        c.widget->resize(s->widget->size());
        c.widget->setToolTip(s->widget->toolTip());
        c.widget->setEnabled(s->widget->isEnabled());
        c.widget->setFont(s->widget->font());
        updateStyle(c);
        Programmatic g(c);
        if (auto *b = qobject_cast<QAbstractButton *>(s->widget.data())) {
            auto *d = static_cast<QAbstractButton *>(c.widget.data());
            d->setText(b->text());
            d->setIcon(b->icon());
            d->setIconSize(b->iconSize());
            d->setChecked(b->isChecked());
        } else if (auto *l = qobject_cast<QLabel *>(s->widget.data())) {
            auto *d = static_cast<QLabel *>(c.widget.data());
            d->setText(l->text());
            if (!l->pixmap().isNull()) d->setPixmap(l->pixmap());
        } else if (auto *sp = qobject_cast<QDoubleSpinBox *>(s->widget.data())) {
            auto *d = static_cast<QDoubleSpinBox *>(c.widget.data());
            d->setDecimals(sp->decimals());
            d->setRange(sp->minimum(), sp->maximum());
            d->setSingleStep(sp->singleStep());
            d->setValue(sp->value());
        } else if (auto *cb = qobject_cast<QComboBox *>(s->widget.data())) {
            auto *d = static_cast<QComboBox *>(c.widget.data());
            for (int i = 0; i < cb->count(); i++) d->addItem(cb->itemText(i), cb->itemData(i));
            d->setCurrentIndex(cb->currentIndex());
        } else if (auto *le = qobject_cast<QLineEdit *>(s->widget.data())) {
            static_cast<QLineEdit *>(c.widget.data())->setText(le->text());
        }
        QString text = label ? fromUtf8(label) : (s->label ? s->label->text() : QString());
        if (!text.isEmpty() && !qobject_cast<QAbstractButton *>(c.widget.data())) applyLabel(c, text);
        else if (label && qobject_cast<QAbstractButton *>(c.widget.data()) && *label)
            static_cast<QAbstractButton *>(c.widget.data())->setText(text);
        if (s->style == CTRL_TIMER) {
            c.interval = s->interval;
            c.timer->setInterval(s->timer->interval());
            if (!s->timer->isActive()) c.timer->stop();
        }
        return id;
    });
}

int SetCtrlVal(int panel, int control, int value) {
    return withCtrl(panel, control, [&](Control &c) { return setNumeric(c, value); });
}
int SetCtrlVal(int panel, int control, double value) {
    return withCtrl(panel, control, [&](Control &c) { return setNumeric(c, value); });
}
int SetCtrlVal(int panel, int control, const char *value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        const QString text = fromUtf8(value);
        Programmatic g(c);
        switch (c.style) {
        case CTRL_STRING: static_cast<QLineEdit *>(c.widget.data())->setText(text); return UI_OK;
        case CTRL_TEXT_MSG: static_cast<QLabel *>(c.widget.data())->setText(text); return UI_OK;
        case CTRL_TEXT_BOX: {
            // Text boxes append what they are given.
            auto *t = static_cast<QPlainTextEdit *>(c.widget.data());
            QTextCursor cur(t->document());
            cur.movePosition(QTextCursor::End);
            cur.insertText(text);
            return UI_OK;
        }
        case CTRL_RING:
        case CTRL_LIST_BOX: {
            if (c.style == CTRL_RING) {
                int i = static_cast<QComboBox *>(c.widget.data())->findText(text);
                return i < 0 ? UI_ERR_BAD_VALUE : setIndex(c, i);
            }
            auto items = static_cast<QListWidget *>(c.widget.data())->findItems(text, Qt::MatchExactly);
            if (items.isEmpty()) return UI_ERR_BAD_VALUE;
            return setIndex(c, static_cast<QListWidget *>(c.widget.data())->row(items[0]));
        }
        default: {
            double v;
            if (!parseNumber(text, &v)) return UI_ERR_BAD_VALUE;
            return setNumeric(c, v);
        }
        }
    });
}

int GetCtrlVal(int panel, int control, double *value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        return getNumeric(c, value);
    });
}
int GetCtrlVal(int panel, int control, int *value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        double d;
        int r = getNumeric(c, &d);
        if (r < 0) return r;
        if (!(d >= INT_MIN && d <= INT_MAX)) return UI_ERR_BAD_VALUE;
        *value = int(std::lround(d));
        return UI_OK;
    });
}
int GetCtrlVal(int panel, int control, std::string *value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        QString t;
        switch (c.style) {
        case CTRL_STRING: t = static_cast<QLineEdit *>(c.widget.data())->text(); break;
        case CTRL_TEXT_MSG: t = static_cast<QLabel *>(c.widget.data())->text(); break;
        case CTRL_TEXT_BOX: t = static_cast<QPlainTextEdit *>(c.widget.data())->toPlainText(); break;
        case CTRL_RING: t = static_cast<QComboBox *>(c.widget.data())->currentText(); break;
        case CTRL_LIST_BOX: {
            auto *it = static_cast<QListWidget *>(c.widget.data())->currentItem();
            if (!it) return UI_ERR_BAD_INDEX;
            t = it->text();
            break;
        }
        case CTRL_COMMAND_BUTTON: case CTRL_TOGGLE_BUTTON: case CTRL_CHECK_BOX:
        case CTRL_PICTURE_BUTTON: case CTRL_PICTURE_TOGGLE_BUTTON:
            t = static_cast<QAbstractButton *>(c.widget.data())->text();
            break;
        default: {
            double d;
            int r = getNumeric(c, &d);
            if (r < 0) return r;
            t = numberText(d);
        }
        }
        *value = t.toStdString();
        return UI_OK;
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        QWidget *w = c.widget;
        switch (attribute) {
        case ATTR_TOP: case ATTR_LEFT: case ATTR_WIDTH: case ATTR_HEIGHT: {
            QRect g = ctrlGeometry(c);
            if (attribute == ATTR_TOP) g.moveTop(value);
            else if (attribute == ATTR_LEFT) g.moveLeft(value);
            else if (attribute == ATTR_WIDTH) g.setWidth(std::max(1, value));
            else g.setHeight(std::max(1, value));
            setCtrlGeometry(c, g);
            if (c.style == CTRL_GRAPH) graphSetAttribute(asGraph(w), ATTR_WIDTH, 0);
            return UI_OK;
        }
        case ATTR_VISIBLE:
            if (c.style == CTRL_TIMER) return UI_ERR_BAD_ATTRIBUTE;
            w->setVisible(value != 0);
            if (c.label) c.label->setVisible(value != 0 && !c.label->text().isEmpty());
            return UI_OK;
        case ATTR_DIMMED:
            w->setEnabled(value == 0);
            if (c.label) c.label->setEnabled(value == 0);
            return UI_OK;
        case ATTR_LABEL_VISIBLE:
            if (c.label) c.label->setVisible(value != 0);
            return UI_OK;
        case ATTR_LABEL_TOP:
        case ATTR_LABEL_LEFT: {
            if (!c.label) applyLabel(c, QString());
            Panel *p = findPanel(panel);
            QPoint at = c.label->parentWidget()->mapTo(p->widget, c.label->pos());
            if (attribute == ATTR_LABEL_TOP) at.setY(value); else at.setX(value);
            c.labelPinned = true;
            c.label->move(c.label->parentWidget()->mapFrom(p->widget, at));
            return UI_OK;
        }
        case ATTR_LABEL_POINT_SIZE: {
            if (value <= 0) return UI_ERR_BAD_VALUE;
            c.labelPointSize = value;
            QWidget *target = c.label ? static_cast<QWidget *>(c.label.data()) : w;
            QFont f = target->font();
            f.setPointSize(value);
            target->setFont(f);
            placeLabel(c);
            return UI_OK;
        }
        case ATTR_TEXT_POINT_SIZE: {
            if (value <= 0) return UI_ERR_BAD_VALUE;
            QFont f = w->font();
            f.setPointSize(value);
            w->setFont(f);
            return UI_OK;
        }
        case ATTR_TEXT_COLOR: c.textColor = value; updateStyle(c); return UI_OK;
        case ATTR_BACKCOLOR: c.backColor = value; updateStyle(c); return UI_OK;
        case ATTR_CTRL_VAL: return setNumeric(c, value);
        case ATTR_PRECISION:
            if (c.style != CTRL_NUMERIC || value < 0 || value > 15) return UI_ERR_BAD_VALUE;
            static_cast<QDoubleSpinBox *>(w)->setDecimals(value);
            return UI_OK;
        case ATTR_DATA_TYPE:
            if (c.style != CTRL_NUMERIC || (value != VAL_INTEGER && value != VAL_DOUBLE)) return UI_ERR_BAD_VALUE;
            c.dataType = value;
            if (value == VAL_INTEGER) static_cast<QDoubleSpinBox *>(w)->setDecimals(0);
            return UI_OK;
        case ATTR_MIN_VALUE: case ATTR_MAX_VALUE: case ATTR_INCR_VALUE:
            return SetCtrlAttribute(panel, control, attribute, double(value));
        case ATTR_INTERVAL:
            return SetCtrlAttribute(panel, control, attribute, double(value));
        case ATTR_ENABLED:
            if (c.style != CTRL_TIMER) return UI_ERR_BAD_ATTRIBUTE;
            if (value) c.timer->start(); else c.timer->stop();
            return UI_OK;
        case ATTR_FIRST_VISIBLE_LINE:
            if (c.style != CTRL_TEXT_BOX) return UI_ERR_BAD_ATTRIBUTE;
            static_cast<QPlainTextEdit *>(w)->verticalScrollBar()->setValue(std::max(0, value));
            return UI_OK;
        case ATTR_CTRL_TAB_POSITION: {
            Panel *p = findPanel(panel);
            auto &order = p->tabOrder;
            order.erase(std::remove(order.begin(), order.end(), control), order.end());
            int pos = std::clamp(value, 0, int(order.size()));
            order.insert(order.begin() + pos, control);
            QWidget *prev = nullptr;
            for (int id : order) {
                Control *x = findControl(panel, id);
                if (!x || !x->widget || x->widget->focusPolicy() == Qt::NoFocus) continue;
                if (prev) QWidget::setTabOrder(prev, x->widget);
                prev = x->widget;
            }
            return UI_OK;
        }
        case ATTR_IMAGE_BITMAP:
            return SetCtrlBitmap(panel, control, value);
        case ATTR_SPLITTER_POSITION: {
            if (c.style != CTRL_SPLITTER) return UI_ERR_BAD_ATTRIBUTE;
            auto *s = static_cast<SplitterBar *>(w);
            QRect g = ctrlGeometry(c);
            s->moveBy(s->horizontal() ? value - g.top() : value - g.left(), false);
            return UI_OK;
        }
        case ATTR_CALLBACK_DATA:
            c.callbackData = reinterpret_cast<void *>(static_cast<intptr_t>(value));
            return UI_OK;
        default:
            if (c.style == CTRL_GRAPH) return graphSetAttribute(asGraph(w), attribute, value);
            return UI_ERR_BAD_ATTRIBUTE;
        }
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, double value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        switch (attribute) {
        case ATTR_MIN_VALUE: case ATTR_MAX_VALUE: case ATTR_INCR_VALUE: {
            if (c.style != CTRL_NUMERIC || std::isnan(value)) return UI_ERR_BAD_ATTRIBUTE;
            auto *s = static_cast<QDoubleSpinBox *>(c.widget.data());
            Programmatic g(c);
            if (attribute == ATTR_MIN_VALUE) s->setMinimum(value);
            else if (attribute == ATTR_MAX_VALUE) s->setMaximum(value);
            else s->setSingleStep(value);
            return UI_OK;
        }
        case ATTR_INTERVAL:
            if (c.style != CTRL_TIMER) return UI_ERR_BAD_ATTRIBUTE;
            if (!(value > 0) || value > 2e6) return UI_ERR_BAD_VALUE;
            c.interval = value;
            c.timer->setInterval(int(std::lround(value * 1000)));
            return UI_OK;
        case ATTR_CTRL_VAL:
            return setNumeric(c, value);
        default:
            return SetCtrlAttribute(panel, control, attribute, int(std::lround(value)));
        }
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, const char *value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        const QString text = fromUtf8(value);
        switch (attribute) {
        case ATTR_LABEL_TEXT:
            if (auto *b = qobject_cast<QAbstractButton *>(c.widget.data())) b->setText(text);
            else if (c.style == CTRL_TEXT_MSG) static_cast<QLabel *>(c.widget.data())->setText(text);
            else applyLabel(c, text);
            return UI_OK;
        case ATTR_LABEL_FONT: {
            c.labelFont = text;
            QWidget *target = c.label ? static_cast<QWidget *>(c.label.data()) : c.widget.data();
            QFont f = target->font();
            f.setFamily(text);
            target->setFont(f);
            placeLabel(c);
            return UI_OK;
        }
        case ATTR_TOOLTIP_TEXT:
            c.widget->setToolTip(text);
            return UI_OK;
        case ATTR_CTRL_VAL:
            return SetCtrlVal(panel, control, value);
        default:
            if (c.style == CTRL_GRAPH) return graphSetAttribute(asGraph(c.widget), attribute, text);
            return UI_ERR_BAD_ATTRIBUTE;
        }
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, void *value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (attribute == ATTR_CALLBACK_DATA) c.callbackData = value;
        else if (attribute == ATTR_CALLBACK_FUNCTION_POINTER) c.callback = reinterpret_cast<CtrlCallbackPtr>(value);
        else return UI_ERR_BAD_ATTRIBUTE;
        return UI_OK;
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, CtrlCallbackPtr value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (attribute != ATTR_CALLBACK_FUNCTION_POINTER) return UI_ERR_BAD_ATTRIBUTE;
        c.callback = value;
        return UI_OK;
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, int *value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        QWidget *w = c.widget;
        QRect g = ctrlGeometry(c);
        switch (attribute) {
        case ATTR_TOP: *value = g.top(); return UI_OK;
        case ATTR_LEFT: *value = g.left(); return UI_OK;
        case ATTR_WIDTH: *value = g.width(); return UI_OK;
        case ATTR_HEIGHT: *value = g.height(); return UI_OK;
        case ATTR_VISIBLE: *value = c.style == CTRL_TIMER ? 0 : !w->isHidden(); return UI_OK;
        case ATTR_DIMMED: *value = w->isEnabled() ? 0 : 1; return UI_OK;
        case ATTR_LABEL_VISIBLE: *value = c.label && !c.label->isHidden(); return UI_OK;
        case ATTR_LABEL_TOP: case ATTR_LABEL_LEFT: {
            if (!c.label) return UI_ERR_BAD_ATTRIBUTE;
            QPoint at = c.label->parentWidget()->mapTo(findPanel(panel)->widget, c.label->pos());
            *value = attribute == ATTR_LABEL_TOP ? at.y() : at.x();
            return UI_OK;
        }
        case ATTR_LABEL_POINT_SIZE: *value = (c.label ? c.label->font() : w->font()).pointSize(); return UI_OK;
        case ATTR_TEXT_POINT_SIZE: *value = w->font().pointSize(); return UI_OK;
        case ATTR_TEXT_COLOR: *value = c.textColor >= 0 ? c.textColor : fromColor(w->palette().color(QPalette::WindowText)); return UI_OK;
        case ATTR_BACKCOLOR: *value = c.backColor >= 0 ? c.backColor : fromColor(w->palette().color(QPalette::Button)); return UI_OK;
        case ATTR_CTRL_STYLE: *value = c.style; return UI_OK;
        case ATTR_DATA_TYPE: *value = c.dataType; return UI_OK;
        case ATTR_PRECISION:
            if (c.style != CTRL_NUMERIC) return UI_ERR_BAD_ATTRIBUTE;
            *value = static_cast<QDoubleSpinBox *>(w)->decimals();
            return UI_OK;
        case ATTR_CTRL_VAL: return GetCtrlVal(panel, control, value);
        case ATTR_ENABLED:
            if (c.style != CTRL_TIMER) return UI_ERR_BAD_ATTRIBUTE;
            *value = c.timer->isActive();
            return UI_OK;
        case ATTR_VISIBLE_LINES: case ATTR_FIRST_VISIBLE_LINE: case ATTR_TOTAL_LINES: {
            if (c.style != CTRL_TEXT_BOX) return UI_ERR_BAD_ATTRIBUTE;
            auto *t = static_cast<QPlainTextEdit *>(w);
            if (attribute == ATTR_VISIBLE_LINES) {
                int lh = std::max(1, t->fontMetrics().lineSpacing());
                *value = std::max(1, t->viewport()->height() / lh);
            } else if (attribute == ATTR_FIRST_VISIBLE_LINE) {
                *value = t->verticalScrollBar()->value();
            } else {
                return GetNumTextBoxLines(panel, control, value);
            }
            return UI_OK;
        }
        case ATTR_CTRL_TAB_POSITION: {
            auto &order = findPanel(panel)->tabOrder;
            *value = int(std::find(order.begin(), order.end(), control) - order.begin());
            return UI_OK;
        }
        case ATTR_NUM_ROWS: case ATTR_NUM_COLUMNS:
            if (c.style != CTRL_TABLE) return UI_ERR_BAD_ATTRIBUTE;
            *value = attribute == ATTR_NUM_ROWS ? static_cast<QTableWidget *>(w)->rowCount()
                                                : static_cast<QTableWidget *>(w)->columnCount();
            return UI_OK;
        case ATTR_SPLITTER_POSITION:
            if (c.style != CTRL_SPLITTER) return UI_ERR_BAD_ATTRIBUTE;
            *value = static_cast<SplitterBar *>(w)->horizontal() ? g.top() : g.left();
            return UI_OK;
        default:
            if (c.style == CTRL_GRAPH) return graphGetAttribute(asGraph(w), attribute, value);
            return UI_ERR_BAD_ATTRIBUTE;
        }
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, double *value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        switch (attribute) {
        case ATTR_MIN_VALUE: case ATTR_MAX_VALUE: case ATTR_INCR_VALUE: {
            if (c.style != CTRL_NUMERIC) return UI_ERR_BAD_ATTRIBUTE;
            auto *s = static_cast<QDoubleSpinBox *>(c.widget.data());
            *value = attribute == ATTR_MIN_VALUE ? s->minimum() : attribute == ATTR_MAX_VALUE ? s->maximum() : s->singleStep();
            return UI_OK;
        }
        case ATTR_INTERVAL:
            if (c.style != CTRL_TIMER) return UI_ERR_BAD_ATTRIBUTE;
            *value = c.interval;
            return UI_OK;
        case ATTR_CTRL_VAL:
            return getNumeric(c, value);
        default: {
            int v;
            int r = GetCtrlAttribute(panel, control, attribute, &v);
            if (r >= 0) *value = v;
            return r;
        }
        }
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, std::string *value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        QString t;
        switch (attribute) {
        case ATTR_LABEL_TEXT:
            if (auto *b = qobject_cast<QAbstractButton *>(c.widget.data())) t = b->text();
            else if (c.style == CTRL_TEXT_MSG) t = static_cast<QLabel *>(c.widget.data())->text();
            else t = c.label ? c.label->text() : QString();
            break;
        case ATTR_LABEL_FONT: t = (c.label ? c.label->font() : c.widget->font()).family(); break;
        case ATTR_TOOLTIP_TEXT: t = c.widget->toolTip(); break;
        case ATTR_CONSTANT_NAME: t = c.name; break;
        case ATTR_CTRL_VAL: return GetCtrlVal(panel, control, value);
        default:
            if (c.style == CTRL_GRAPH) {
                int r = graphGetAttribute(asGraph(c.widget), attribute, &t);
                if (r < 0) return r;
                break;
            }
            return UI_ERR_BAD_ATTRIBUTE;
        }
        *value = t.toStdString();
        return UI_OK;
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, void **value) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        if (attribute == ATTR_CALLBACK_DATA) *value = c.callbackData;
        else if (attribute == ATTR_CALLBACK_FUNCTION_POINTER) *value = reinterpret_cast<void *>(c.callback);
        else return UI_ERR_BAD_ATTRIBUTE;
        return UI_OK;
    });
}

int InstallCtrlCallback(int panel, int control, CtrlCallbackPtr function, void *callbackData) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        c.callback = function;
        c.callbackData = callbackData;
        return UI_OK;
    });
}

int SetCtrlBitmap(int panel, int control, int bitmapHandle) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        const QPixmap *pm = bitmapHandle ? bitmap(bitmapHandle) : nullptr;
        if (bitmapHandle && !pm) return UI_ERR_BAD_VALUE;
        QPixmap p = pm ? *pm : QPixmap();
        if (auto *b = qobject_cast<QAbstractButton *>(c.widget.data())) {
            b->setIcon(QIcon(p));
            b->setIconSize(c.widget->size() - QSize(6, 6));
        } else if (c.style == CTRL_PICTURE) {
            static_cast<QLabel *>(c.widget.data())->setPixmap(p);
        } else {
            return UI_ERR_BAD_CONTROL;
        }
        return UI_OK;
    });
}

int GetCtrlBitmap(int panel, int control, int *bitmapHandle) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (!bitmapHandle) return UI_ERR_BAD_VALUE;
        QPixmap p;
        if (auto *b = qobject_cast<QAbstractButton *>(c.widget.data())) {
            if (!b->icon().isNull()) p = b->icon().pixmap(b->iconSize());
        } else if (c.style == CTRL_PICTURE) {
            p = static_cast<QLabel *>(c.widget.data())->pixmap();
        } else {
            return UI_ERR_BAD_CONTROL;
        }
        if (p.isNull()) return UI_ERR_NOT_FOUND;
        *bitmapHandle = storeBitmap(p);
        return UI_OK;
    });
}

// ---------------------------------------------------------------------------------------------
// Rings and list boxes

namespace {
int insertItem(int panel, int control, int index, const char *label, const QVariant &v) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        Programmatic g(c);
        const QString text = fromUtf8(label);
        if (c.style == CTRL_RING) {
            auto *b = static_cast<QComboBox *>(c.widget.data());
            if (index < -1 || index > b->count()) return UI_ERR_BAD_INDEX;
            b->insertItem(index < 0 ? b->count() : index, text, v);
            return UI_OK;
        }
        if (c.style == CTRL_LIST_BOX) {
            auto *b = static_cast<QListWidget *>(c.widget.data());
            if (index < -1 || index > b->count()) return UI_ERR_BAD_INDEX;
            auto *it = new QListWidgetItem(text);
            it->setData(ValueRole, v);
            b->insertItem(index < 0 ? b->count() : index, it);
            if (b->currentRow() < 0) b->setCurrentRow(0);
            return UI_OK;
        }
        return UI_ERR_BAD_CONTROL;
    });
}
}  // namespace

int InsertListItem(int panel, int control, int index, const char *label, int value) {
    return insertItem(panel, control, index, label, QVariant(value));
}
int InsertListItem(int panel, int control, int index, const char *label, double value) {
    return insertItem(panel, control, index, label, QVariant(value));
}
int InsertListItem(int panel, int control, int index, const char *label, void *value) {
    return insertItem(panel, control, index, label, QVariant::fromValue(value));
}

int DeleteListItem(int panel, int control, int index, int count) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        Programmatic g(c);
        int n = 0;
        GetNumListItems(panel, control, &n);
        if (index < 0 || index >= n) return UI_ERR_BAD_INDEX;
        int last = count < 0 ? n : std::min(n, index + count);
        for (int i = last - 1; i >= index; i--) {
            if (c.style == CTRL_RING) static_cast<QComboBox *>(c.widget.data())->removeItem(i);
            else delete static_cast<QListWidget *>(c.widget.data())->takeItem(i);
        }
        return UI_OK;
    });
}

int ClearListCtrl(int panel, int control) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        Programmatic g(c);
        if (c.style == CTRL_RING) static_cast<QComboBox *>(c.widget.data())->clear();
        else if (c.style == CTRL_LIST_BOX) static_cast<QListWidget *>(c.widget.data())->clear();
        else if (c.style == CTRL_TREE) return ClearTree(panel, control);
        else return UI_ERR_BAD_CONTROL;
        return UI_OK;
    });
}

int GetNumListItems(int panel, int control, int *count) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (!count) return UI_ERR_BAD_VALUE;
        if (c.style == CTRL_RING) *count = static_cast<QComboBox *>(c.widget.data())->count();
        else if (c.style == CTRL_LIST_BOX) *count = static_cast<QListWidget *>(c.widget.data())->count();
        else if (c.style == CTRL_TREE) *count = int(c.treeItems.size());
        else return UI_ERR_BAD_CONTROL;
        return UI_OK;
    });
}

int GetCtrlIndex(int panel, int control, int *index) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (!index) return UI_ERR_BAD_VALUE;
        if (c.style == CTRL_TREE) return GetActiveTreeItem(panel, control, index);
        if (c.style != CTRL_RING && c.style != CTRL_LIST_BOX) return UI_ERR_BAD_CONTROL;
        *index = currentIndex(c);
        return UI_OK;
    });
}

int SetCtrlIndex(int panel, int control, int index) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (c.style == CTRL_TREE) return SetActiveTreeItem(panel, control, index);
        return setIndex(c, index);
    });
}

int GetLabelFromIndex(int panel, int control, int index, std::string *label) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (!label) return UI_ERR_BAD_VALUE;
        if (c.style == CTRL_TREE) return GetTreeItemAttribute(panel, control, index, ATTR_LABEL, label);
        int n = 0;
        GetNumListItems(panel, control, &n);
        if (index < 0 || index >= n) return UI_ERR_BAD_INDEX;
        if (c.style == CTRL_RING) *label = static_cast<QComboBox *>(c.widget.data())->itemText(index).toStdString();
        else *label = static_cast<QListWidget *>(c.widget.data())->item(index)->text().toStdString();
        return UI_OK;
    });
}

namespace {
int valueAt(int panel, int control, int index, QVariant *v) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (c.style == CTRL_TREE) {
            if (index < 0 || index >= int(c.treeItems.size())) return UI_ERR_BAD_INDEX;
            *v = c.treeItems[index]->data(0, ValueRole);
            return UI_OK;
        }
        QVariantList l = itemValues(c);
        if (c.style != CTRL_RING && c.style != CTRL_LIST_BOX) return UI_ERR_BAD_CONTROL;
        if (index < 0 || index >= l.size()) return UI_ERR_BAD_INDEX;
        *v = l[index];
        return UI_OK;
    });
}
}  // namespace

int GetValueFromIndex(int panel, int control, int index, int *value) {
    QVariant v;
    int r = valueAt(panel, control, index, &v);
    if (r < 0) return r;
    if (!value) return UI_ERR_BAD_VALUE;
    *value = int(std::lround(variantNumber(v)));
    return UI_OK;
}
int GetValueFromIndex(int panel, int control, int index, double *value) {
    QVariant v;
    int r = valueAt(panel, control, index, &v);
    if (r < 0) return r;
    if (!value) return UI_ERR_BAD_VALUE;
    *value = variantNumber(v);
    return UI_OK;
}
int GetValueFromIndex(int panel, int control, int index, void **value) {
    QVariant v;
    int r = valueAt(panel, control, index, &v);
    if (r < 0) return r;
    if (!value) return UI_ERR_BAD_VALUE;
    if (v.typeId() != QMetaType::VoidStar) return UI_ERR_BAD_VALUE;
    *value = v.value<void *>();
    return UI_OK;
}

// ---------------------------------------------------------------------------------------------
// Text boxes

int InsertTextBoxLine(int panel, int control, int index, const char *text) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (c.style != CTRL_TEXT_BOX) return UI_ERR_BAD_CONTROL;
        auto *t = static_cast<QPlainTextEdit *>(c.widget.data());
        QTextDocument *d = t->document();
        const bool empty = d->isEmpty();
        const int lines = empty ? 0 : d->blockCount();
        if (index < -1 || index > lines) return UI_ERR_BAD_INDEX;
        Programmatic g(c);
        QTextCursor cur(d);
        const QString s = fromUtf8(text);
        if (empty) {
            cur.insertText(s);
        } else if (index < 0 || index == lines) {
            cur.movePosition(QTextCursor::End);
            cur.insertBlock();
            cur.insertText(s);
        } else {
            cur.setPosition(d->findBlockByNumber(index).position());
            cur.insertText(s);
            cur.insertBlock();
        }
        return UI_OK;
    });
}

int GetNumTextBoxLines(int panel, int control, int *count) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (c.style != CTRL_TEXT_BOX) return UI_ERR_BAD_CONTROL;
        if (!count) return UI_ERR_BAD_VALUE;
        QTextDocument *d = static_cast<QPlainTextEdit *>(c.widget.data())->document();
        *count = d->isEmpty() ? 0 : d->blockCount();
        return UI_OK;
    });
}

int GetTextBoxLine(int panel, int control, int index, std::string *text) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (c.style != CTRL_TEXT_BOX) return UI_ERR_BAD_CONTROL;
        if (!text) return UI_ERR_BAD_VALUE;
        QTextDocument *d = static_cast<QPlainTextEdit *>(c.widget.data())->document();
        int lines = d->isEmpty() ? 0 : d->blockCount();
        if (index < 0 || index >= lines) return UI_ERR_BAD_INDEX;
        *text = d->findBlockByNumber(index).text().toStdString();
        return UI_OK;
    });
}

int ResetTextBox(int panel, int control, const char *text) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (c.style != CTRL_TEXT_BOX) return UI_ERR_BAD_CONTROL;
        Programmatic g(c);
        static_cast<QPlainTextEdit *>(c.widget.data())->setPlainText(fromUtf8(text));
        return UI_OK;
    });
}

// ---------------------------------------------------------------------------------------------
// Tables

namespace {
template <class F>
int withTable(int panel, int control, F &&f) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (c.style != CTRL_TABLE) return UI_ERR_BAD_CONTROL;
        return f(c, static_cast<QTableWidget *>(c.widget.data()));
    });
}
template <class F>
int withCell(int panel, int control, Point cell, F &&f) {
    return withTable(panel, control, [&](Control &c, QTableWidget *t) -> int {
        int r = cell.y - 1, col = cell.x - 1;
        if (r < 0 || r >= t->rowCount() || col < 0 || col >= t->columnCount()) return UI_ERR_BAD_INDEX;
        QTableWidgetItem *it = t->item(r, col);
        if (!it) {
            it = newCell(columnType(t, col), columnRing(t, col));
            Programmatic g(c);
            t->setItem(r, col, it);
        }
        return f(c, t, it, r, col);
    });
}
}  // namespace

int InsertTableRows(int panel, int control, int index, int count, int cellType) {
    return withTable(panel, control, [&](Control &c, QTableWidget *t) -> int {
        if (count < 1) return UI_ERR_BAD_VALUE;
        if (index != -1 && (index < 1 || index > t->rowCount() + 1)) return UI_ERR_BAD_INDEX;
        int at = index < 0 ? t->rowCount() : index - 1;
        Programmatic g(c);
        for (int i = 0; i < count; i++) {
            t->insertRow(at + i);
            fillRow(c, t, at + i, cellType < 0 ? -1 : cellType);
        }
        return UI_OK;
    });
}

int DeleteTableRows(int panel, int control, int index, int count) {
    return withTable(panel, control, [&](Control &c, QTableWidget *t) -> int {
        if (index < 1 || index > t->rowCount()) return UI_ERR_BAD_INDEX;
        int last = count < 0 ? t->rowCount() : std::min(t->rowCount(), index - 1 + count);
        Programmatic g(c);
        for (int r = last - 1; r >= index - 1; r--) t->removeRow(r);
        return UI_OK;
    });
}

int InsertTableColumns(int panel, int control, int index, int count, int cellType) {
    return withTable(panel, control, [&](Control &c, QTableWidget *t) -> int {
        if (count < 1) return UI_ERR_BAD_VALUE;
        if (index != -1 && (index < 1 || index > t->columnCount() + 1)) return UI_ERR_BAD_INDEX;
        int at = index < 0 ? t->columnCount() : index - 1;
        Programmatic g(c);
        for (int i = 0; i < count; i++) {
            t->insertColumn(at + i);
            auto *h = new QTableWidgetItem(QString::number(at + i + 1));
            h->setData(TypeRole, std::max(0, cellType));
            t->setHorizontalHeaderItem(at + i, h);
            for (int r = 0; r < t->rowCount(); r++) t->setItem(r, at + i, newCell(std::max(0, cellType), {}));
        }
        return UI_OK;
    });
}

int GetNumTableRows(int panel, int control, int *rows) {
    return withTable(panel, control, [&](Control &, QTableWidget *t) -> int {
        if (!rows) return UI_ERR_BAD_VALUE;
        *rows = t->rowCount();
        return UI_OK;
    });
}

int GetNumTableColumns(int panel, int control, int *columns) {
    return withTable(panel, control, [&](Control &, QTableWidget *t) -> int {
        if (!columns) return UI_ERR_BAD_VALUE;
        *columns = t->columnCount();
        return UI_OK;
    });
}

namespace {
int setCell(int panel, int control, Point cell, const QVariant &v) {
    return withCell(panel, control, cell, [&](Control &c, QTableWidget *t, QTableWidgetItem *it, int r, int col) -> int {
        Programmatic g(c);
        int type = it->data(TypeRole).toInt();
        if (type == VAL_CELL_NUMERIC) {
            bool ok = false;
            double d = v.toDouble(&ok);
            if (!ok) {
                if (!parseNumber(v.toString(), &d)) return UI_ERR_BAD_VALUE;
            }
            it->setData(Qt::EditRole, d);
        } else if (type == VAL_CELL_RING) {
            auto *combo = qobject_cast<QComboBox *>(t->cellWidget(r, col));
            if (!combo) return UI_ERR_BAD_VALUE;
            int index = v.typeId() == QMetaType::QString ? combo->findText(v.toString()) : v.toInt();
            if (index < 0 || index >= combo->count()) return UI_ERR_BAD_VALUE;
            combo->setCurrentIndex(index);
            it->setText(combo->currentText());
        } else {
            it->setText(v.typeId() == QMetaType::Double ? numberText(v.toDouble()) : v.toString());
        }
        return UI_OK;
    });
}
}  // namespace

int SetTableCellVal(int panel, int control, Point cell, int value) { return setCell(panel, control, cell, QVariant(value)); }
int SetTableCellVal(int panel, int control, Point cell, double value) { return setCell(panel, control, cell, QVariant(value)); }
int SetTableCellVal(int panel, int control, Point cell, const char *value) { return setCell(panel, control, cell, QVariant(fromUtf8(value))); }

int GetTableCellVal(int panel, int control, Point cell, double *value) {
    return withCell(panel, control, cell, [&](Control &, QTableWidget *t, QTableWidgetItem *it, int r, int col) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        int type = it->data(TypeRole).toInt();
        if (type == VAL_CELL_NUMERIC) *value = it->data(Qt::EditRole).toDouble();
        else if (type == VAL_CELL_RING) {
            auto *combo = qobject_cast<QComboBox *>(t->cellWidget(r, col));
            *value = combo ? combo->currentIndex() : -1;
        } else if (!parseNumber(it->text(), value)) return UI_ERR_BAD_VALUE;
        return UI_OK;
    });
}

int GetTableCellVal(int panel, int control, Point cell, int *value) {
    double d;
    int r = GetTableCellVal(panel, control, cell, &d);
    if (r < 0) return r;
    if (!value || !(d >= INT_MIN && d <= INT_MAX)) return UI_ERR_BAD_VALUE;
    *value = int(std::lround(d));
    return UI_OK;
}

int GetTableCellVal(int panel, int control, Point cell, std::string *value) {
    return withCell(panel, control, cell, [&](Control &, QTableWidget *t, QTableWidgetItem *it, int r, int col) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        int type = it->data(TypeRole).toInt();
        if (type == VAL_CELL_NUMERIC) *value = numberText(it->data(Qt::EditRole).toDouble()).toStdString();
        else if (type == VAL_CELL_RING) {
            auto *combo = qobject_cast<QComboBox *>(t->cellWidget(r, col));
            *value = combo ? combo->currentText().toStdString() : std::string();
        } else *value = it->text().toStdString();
        return UI_OK;
    });
}

int SetTableCellAttribute(int panel, int control, Point cell, int attribute, int value) {
    return withCell(panel, control, cell, [&](Control &c, QTableWidget *t, QTableWidgetItem *it, int r, int col) -> int {
        Programmatic g(c);
        if (attribute == ATTR_CELL_TYPE) {
            if (value < VAL_CELL_STRING || value > VAL_CELL_RING) return UI_ERR_BAD_VALUE;
            if (it->data(TypeRole).toInt() == value) return UI_OK;
            t->removeCellWidget(r, col);
            t->setItem(r, col, newCell(value, columnRing(t, col)));
            if (value == VAL_CELL_RING) makeRingCell(c, t, r, col, columnRing(t, col));
            return UI_OK;
        }
        if (attribute == ATTR_CELL_DIMMED) {
            Qt::ItemFlags f = it->flags();
            it->setFlags(value ? f & ~Qt::ItemIsEnabled : f | Qt::ItemIsEnabled);
            if (QWidget *w = t->cellWidget(r, col)) w->setEnabled(!value);
            return UI_OK;
        }
        if (attribute == ATTR_TEXT_COLOR) { it->setForeground(toColor(value)); return UI_OK; }
        if (attribute == ATTR_BACKCOLOR) { it->setBackground(toColor(value)); return UI_OK; }
        return UI_ERR_BAD_ATTRIBUTE;
    });
}

int GetTableCellAttribute(int panel, int control, Point cell, int attribute, int *value) {
    return withCell(panel, control, cell, [&](Control &, QTableWidget *, QTableWidgetItem *it, int, int) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        if (attribute == ATTR_CELL_TYPE) *value = it->data(TypeRole).toInt();
        else if (attribute == ATTR_CELL_DIMMED) *value = (it->flags() & Qt::ItemIsEnabled) ? 0 : 1;
        else return UI_ERR_BAD_ATTRIBUTE;
        return UI_OK;
    });
}

int SetTableColumnAttribute(int panel, int control, int column, int attribute, int value) {
    return withTable(panel, control, [&](Control &c, QTableWidget *t) -> int {
        if (column < 1 || column > t->columnCount()) return UI_ERR_BAD_INDEX;
        if (attribute == ATTR_CELL_TYPE) {
            if (value < VAL_CELL_STRING || value > VAL_CELL_RING) return UI_ERR_BAD_VALUE;
            QTableWidgetItem *h = t->horizontalHeaderItem(column - 1);
            if (!h) t->setHorizontalHeaderItem(column - 1, h = new QTableWidgetItem(QString::number(column)));
            h->setData(TypeRole, value);
            for (int r = 1; r <= t->rowCount(); r++)
                SetTableCellAttribute(panel, control, Point{column, r}, ATTR_CELL_TYPE, value);
            return UI_OK;
        }
        if (attribute == ATTR_WIDTH) { t->setColumnWidth(column - 1, std::max(1, value)); return UI_OK; }
        (void)c;
        return UI_ERR_BAD_ATTRIBUTE;
    });
}

int SetTableColumnAttribute(int panel, int control, int column, int attribute, const char *value) {
    return withTable(panel, control, [&](Control &, QTableWidget *t) -> int {
        if (column < 1 || column > t->columnCount()) return UI_ERR_BAD_INDEX;
        if (attribute != ATTR_LABEL_TEXT) return UI_ERR_BAD_ATTRIBUTE;
        QTableWidgetItem *h = t->horizontalHeaderItem(column - 1);
        if (!h) t->setHorizontalHeaderItem(column - 1, h = new QTableWidgetItem);
        h->setText(fromUtf8(value));
        return UI_OK;
    });
}

int InsertTableCellRingItem(int panel, int control, Point cell, int index, const char *label) {
    return withCell(panel, control, cell, [&](Control &c, QTableWidget *t, QTableWidgetItem *it, int r, int col) -> int {
        if (it->data(TypeRole).toInt() != VAL_CELL_RING) return UI_ERR_BAD_CONTROL;
        auto *combo = qobject_cast<QComboBox *>(t->cellWidget(r, col));
        if (!combo) return UI_ERR_BAD_CONTROL;
        if (index < -1 || index > combo->count()) return UI_ERR_BAD_INDEX;
        Programmatic g(c);
        combo->insertItem(index < 0 ? combo->count() : index, fromUtf8(label));
        it->setText(combo->currentText());
        return UI_OK;
    });
}

int GetActiveTableCell(int panel, int control, Point *cell) {
    return withTable(panel, control, [&](Control &, QTableWidget *t) -> int {
        if (!cell) return UI_ERR_BAD_VALUE;
        *cell = Point{std::max(1, t->currentColumn() + 1), std::max(1, t->currentRow() + 1)};
        return UI_OK;
    });
}

int SetActiveTableCell(int panel, int control, Point cell) {
    return withTable(panel, control, [&](Control &c, QTableWidget *t) -> int {
        if (cell.y < 1 || cell.y > t->rowCount() || cell.x < 1 || cell.x > t->columnCount()) return UI_ERR_BAD_INDEX;
        Programmatic g(c);
        t->setCurrentCell(cell.y - 1, cell.x - 1);
        return UI_OK;
    });
}

int SetTableSelection(int panel, int control, Rect cells) {
    return withTable(panel, control, [&](Control &c, QTableWidget *t) -> int {
        Programmatic g(c);
        t->clearSelection();
        if (cells.height <= 0 || cells.width <= 0) return UI_OK;
        if (cells.top < 1 || cells.left < 1 || cells.top + cells.height - 1 > t->rowCount() ||
            cells.left + cells.width - 1 > t->columnCount())
            return UI_ERR_BAD_INDEX;
        t->setRangeSelected(QTableWidgetSelectionRange(cells.top - 1, cells.left - 1,
                                                       cells.top + cells.height - 2, cells.left + cells.width - 2), true);
        return UI_OK;
    });
}

int GetTableSelection(int panel, int control, Rect *cells) {
    return withTable(panel, control, [&](Control &, QTableWidget *t) -> int {
        if (!cells) return UI_ERR_BAD_VALUE;
        auto ranges = t->selectedRanges();
        if (ranges.isEmpty()) { *cells = Rect{0, 0, 0, 0}; return UI_OK; }
        auto r = ranges.first();
        *cells = Rect{r.topRow() + 1, r.leftColumn() + 1, r.rowCount(), r.columnCount()};
        return UI_OK;
    });
}

// ---------------------------------------------------------------------------------------------
// Trees

namespace {
template <class F>
int withTree(int panel, int control, F &&f) {
    return withCtrl(panel, control, [&](Control &c) -> int {
        if (c.style != CTRL_TREE) return UI_ERR_BAD_CONTROL;
        return f(c, static_cast<QTreeWidget *>(c.widget.data()));
    });
}
int treeInsert(int panel, int control, int relation, int relativeIndex, int position,
               const char *label, const QVariant &value) {
    return withTree(panel, control, [&](Control &c, QTreeWidget *t) -> int {
        Programmatic g(c);
        QTreeWidgetItem *parent = nullptr;
        if (relativeIndex >= int(c.treeItems.size()) || relativeIndex < -1) return UI_ERR_BAD_INDEX;
        if (relation == VAL_CHILD) parent = relativeIndex >= 0 ? c.treeItems[relativeIndex] : nullptr;
        else if (relation == VAL_SIBLING) parent = relativeIndex >= 0 ? c.treeItems[relativeIndex]->parent() : nullptr;
        else return UI_ERR_BAD_VALUE;
        auto *it = new QTreeWidgetItem;
        it->setText(0, fromUtf8(label));
        it->setData(0, ValueRole, value);
        if (parent) {
            if (position == VAL_FIRST) parent->insertChild(0, it); else parent->addChild(it);
            parent->setExpanded(true);
        } else {
            if (position == VAL_FIRST) t->insertTopLevelItem(0, it); else t->addTopLevelItem(it);
        }
        c.treeItems.push_back(it);
        return int(c.treeItems.size()) - 1;
    });
}
}  // namespace

int InsertTreeItem(int panel, int control, int relation, int relativeIndex, int position,
                   const char *label, void *value) {
    return treeInsert(panel, control, relation, relativeIndex, position, label, QVariant::fromValue(value));
}
int InsertTreeItem(int panel, int control, int relation, int relativeIndex, int position,
                   const char *label, int value) {
    return treeInsert(panel, control, relation, relativeIndex, position, label, QVariant(value));
}

int GetNumTreeItems(int panel, int control, int *count) {
    return withTree(panel, control, [&](Control &c, QTreeWidget *) -> int {
        if (!count) return UI_ERR_BAD_VALUE;
        *count = int(c.treeItems.size());
        return UI_OK;
    });
}

namespace {
int indexOf(Control &c, QTreeWidgetItem *it) {
    auto pos = std::find(c.treeItems.begin(), c.treeItems.end(), it);
    return pos == c.treeItems.end() ? -1 : int(pos - c.treeItems.begin());
}
}  // namespace

int GetTreeItemParent(int panel, int control, int index, int *parent) {
    return withTree(panel, control, [&](Control &c, QTreeWidget *) -> int {
        if (!parent) return UI_ERR_BAD_VALUE;
        if (index < 0 || index >= int(c.treeItems.size())) return UI_ERR_BAD_INDEX;
        QTreeWidgetItem *p = c.treeItems[index]->parent();
        *parent = p ? indexOf(c, p) : -1;
        return UI_OK;
    });
}

int GetTreeItemNumChildren(int panel, int control, int index, int *count) {
    return withTree(panel, control, [&](Control &c, QTreeWidget *t) -> int {
        if (!count) return UI_ERR_BAD_VALUE;
        if (index == -1) { *count = t->topLevelItemCount(); return UI_OK; }
        if (index < 0 || index >= int(c.treeItems.size())) return UI_ERR_BAD_INDEX;
        *count = c.treeItems[index]->childCount();
        return UI_OK;
    });
}

int GetTreeItemChild(int panel, int control, int index, int n, int *child) {
    return withTree(panel, control, [&](Control &c, QTreeWidget *t) -> int {
        if (!child) return UI_ERR_BAD_VALUE;
        QTreeWidgetItem *it = nullptr;
        if (index == -1) it = t->topLevelItem(n);
        else if (index >= 0 && index < int(c.treeItems.size())) it = c.treeItems[index]->child(n);
        if (!it) return UI_ERR_BAD_INDEX;
        *child = indexOf(c, it);
        return UI_OK;
    });
}

int SetTreeItemAttribute(int panel, int control, int index, int attribute, int value) {
    return withTree(panel, control, [&](Control &c, QTreeWidget *) -> int {
        if (index < 0 || index >= int(c.treeItems.size())) return UI_ERR_BAD_INDEX;
        Programmatic g(c);
        QTreeWidgetItem *it = c.treeItems[index];
        if (attribute == ATTR_MARK_TYPE) {
            if (value == VAL_MARK_CHECK) {
                it->setFlags(it->flags() | Qt::ItemIsUserCheckable);
                if (it->data(0, Qt::CheckStateRole).isNull()) it->setCheckState(0, Qt::Unchecked);
            } else {
                it->setFlags(it->flags() & ~Qt::ItemIsUserCheckable);
                it->setData(0, Qt::CheckStateRole, QVariant());
            }
            return UI_OK;
        }
        if (attribute == ATTR_MARK_STATE) {
            if (!(it->flags() & Qt::ItemIsUserCheckable)) return UI_ERR_BAD_ATTRIBUTE;
            it->setCheckState(0, value ? Qt::Checked : Qt::Unchecked);
            return UI_OK;
        }
        if (attribute == ATTR_DIMMED) { it->setDisabled(value != 0); return UI_OK; }
        if (attribute == ATTR_TEXT_COLOR) { it->setForeground(0, toColor(value)); return UI_OK; }
        return UI_ERR_BAD_ATTRIBUTE;
    });
}

int SetTreeItemAttribute(int panel, int control, int index, int attribute, const char *value) {
    return withTree(panel, control, [&](Control &c, QTreeWidget *) -> int {
        if (index < 0 || index >= int(c.treeItems.size())) return UI_ERR_BAD_INDEX;
        if (attribute != ATTR_LABEL) return UI_ERR_BAD_ATTRIBUTE;
        Programmatic g(c);
        c.treeItems[index]->setText(0, fromUtf8(value));
        return UI_OK;
    });
}

int GetTreeItemAttribute(int panel, int control, int index, int attribute, int *value) {
    return withTree(panel, control, [&](Control &c, QTreeWidget *) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        if (index < 0 || index >= int(c.treeItems.size())) return UI_ERR_BAD_INDEX;
        QTreeWidgetItem *it = c.treeItems[index];
        if (attribute == ATTR_MARK_TYPE) *value = (it->flags() & Qt::ItemIsUserCheckable) ? VAL_MARK_CHECK : VAL_MARK_NONE;
        else if (attribute == ATTR_MARK_STATE) *value = it->checkState(0) == Qt::Checked ? 1 : 0;
        else if (attribute == ATTR_DIMMED) *value = it->isDisabled() ? 1 : 0;
        else return UI_ERR_BAD_ATTRIBUTE;
        return UI_OK;
    });
}

int GetTreeItemAttribute(int panel, int control, int index, int attribute, std::string *value) {
    return withTree(panel, control, [&](Control &c, QTreeWidget *) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        if (index < 0 || index >= int(c.treeItems.size())) return UI_ERR_BAD_INDEX;
        if (attribute != ATTR_LABEL) return UI_ERR_BAD_ATTRIBUTE;
        *value = c.treeItems[index]->text(0).toStdString();
        return UI_OK;
    });
}

int SetActiveTreeItem(int panel, int control, int index) {
    return withTree(panel, control, [&](Control &c, QTreeWidget *t) -> int {
        if (index < 0 || index >= int(c.treeItems.size())) return UI_ERR_BAD_INDEX;
        Programmatic g(c);
        t->setCurrentItem(c.treeItems[index]);
        return UI_OK;
    });
}

int GetActiveTreeItem(int panel, int control, int *index) {
    return withTree(panel, control, [&](Control &c, QTreeWidget *t) -> int {
        if (!index) return UI_ERR_BAD_VALUE;
        *index = t->currentItem() ? indexOf(c, t->currentItem()) : -1;
        return UI_OK;
    });
}

int ClearTree(int panel, int control) {
    return withTree(panel, control, [&](Control &c, QTreeWidget *t) -> int {
        Programmatic g(c);
        t->clear();
        c.treeItems.clear();
        return UI_OK;
    });
}

// ---------------------------------------------------------------------------------------------
// Splitters

int AddCtrlToSplitter(int panel, int splitter, int control, int edge) {
    return withCtrl(panel, splitter, [&](Control &c) -> int {
        if (c.style != CTRL_SPLITTER) return UI_ERR_BAD_CONTROL;
        if (!findControl(panel, control) || control == splitter) return UI_ERR_BAD_CONTROL;
        if (edge < VAL_TOP_EDGE || edge > VAL_RIGHT_EDGE) return UI_ERR_BAD_VALUE;
        c.splitterCtrls.emplace_back(control, edge);
        return UI_OK;
    });
}

int OperateSplitter(int panel, int splitter, int offset) {
    return withCtrl(panel, splitter, [&](Control &c) -> int {
        if (c.style != CTRL_SPLITTER) return UI_ERR_BAD_CONTROL;
        static_cast<SplitterBar *>(c.widget.data())->moveBy(offset, true);
        return UI_OK;
    });
}
