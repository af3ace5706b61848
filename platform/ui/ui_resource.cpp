// Reader of Qt Designer .ui files: the subset the panels use (widgets with geometry and common
// properties, dynamic properties, combo/list/tree/table items, menu bars with actions).
#include "ui_internal.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QRect>
#include <QXmlStreamReader>

#include <mutex>

namespace tarq_ui {
namespace {

QVariant readValue(QXmlStreamReader &r, const QString &baseDir);

QVariant readRect(QXmlStreamReader &r) {
    int v[4] = {0, 0, 0, 0};
    while (r.readNextStartElement()) {
        const QString n = r.name().toString();
        int value = r.readElementText().toInt();
        if (n == "x") v[0] = value;
        else if (n == "y") v[1] = value;
        else if (n == "width") v[2] = value;
        else if (n == "height") v[3] = value;
    }
    return QRect(v[0], v[1], v[2], v[3]);
}

QVariant readFont(QXmlStreamReader &r) {
    QFont f;
    while (r.readNextStartElement()) {
        const QString n = r.name().toString();
        const QString t = r.readElementText();
        if (n == "family") f.setFamily(t);
        else if (n == "pointsize") f.setPointSize(t.toInt());
        else if (n == "bold") f.setBold(t == "true");
        else if (n == "italic") f.setItalic(t == "true");
    }
    return f;
}

QVariant readColor(QXmlStreamReader &r) {
    int c[3] = {0, 0, 0};
    while (r.readNextStartElement()) {
        const QString n = r.name().toString();
        int value = r.readElementText().toInt();
        if (n == "red") c[0] = value;
        else if (n == "green") c[1] = value;
        else if (n == "blue") c[2] = value;
    }
    return QColor(c[0], c[1], c[2]);
}

QString resolvePath(const QString &text, const QString &baseDir) {
    if (text.startsWith(":/") || QFileInfo(text).isAbsolute()) return text;
    return QDir(baseDir).filePath(text);
}

QVariant readValue(QXmlStreamReader &r, const QString &baseDir) {
    // r is at the property element; returns the value of its single child
    QVariant v;
    while (r.readNextStartElement()) {
        const QString n = r.name().toString();
        if (n == "string" || n == "cstring" || n == "enum" || n == "set") v = r.readElementText();
        else if (n == "number") v = r.readElementText().toInt();
        else if (n == "double") v = r.readElementText().toDouble();
        else if (n == "bool") v = (r.readElementText() == "true");
        else if (n == "rect") v = readRect(r);
        else if (n == "font") v = readFont(r);
        else if (n == "color") v = readColor(r);
        else if (n == "pixmap") v = QVariant::fromValue(QStringList{resolvePath(r.readElementText(), baseDir)});
        else if (n == "iconset") {
            QString text;
            // <iconset><normaloff>file</normaloff></iconset> or plain text
            while (!r.atEnd()) {
                r.readNext();
                if (r.isCharacters() && !r.isWhitespace()) text = r.text().toString().trimmed();
                if (r.isEndElement() && r.name() == QLatin1String("iconset")) break;
            }
            v = QVariant::fromValue(QStringList{resolvePath(text, baseDir)});
        } else if (n == "stringlist") {
            QStringList l;
            while (r.readNextStartElement()) l << r.readElementText();
            v = l;
        } else r.skipCurrentElement();
    }
    return v;
}

QString itemText(QXmlStreamReader &r, UiNode::TreeItem *tree, const QString &baseDir) {
    QString text;
    while (r.readNextStartElement()) {
        if (r.name() == QLatin1String("property")) {
            const QString pn = r.attributes().value("name").toString();
            QVariant v = readValue(r, baseDir);
            if (pn == "text") text = v.toString();
        } else if (r.name() == QLatin1String("item") && tree) {
            UiNode::TreeItem child;
            child.text = itemText(r, &child, baseDir);
            tree->children.push_back(std::move(child));
        } else r.skipCurrentElement();
    }
    return text;
}

void readWidget(QXmlStreamReader &r, UiNode &node, UiFile &file) {
    node.cls = r.attributes().value("class").toString();
    node.name = r.attributes().value("name").toString();
    while (r.readNextStartElement()) {
        const QString n = r.name().toString();
        if (n == "property" || n == "attribute") {
            const QString pn = r.attributes().value("name").toString();
            node.props[pn] = readValue(r, node.baseDir);
        } else if (n == "widget") {
            UiNode child;
            child.baseDir = node.baseDir;
            readWidget(r, child, file);
            node.children.push_back(std::move(child));
        } else if (n == "layout") {
            // Layout items: take their widgets as plain children.
            while (r.readNextStartElement()) {
                if (r.name() == QLatin1String("item")) {
                    while (r.readNextStartElement()) {
                        if (r.name() == QLatin1String("widget")) {
                            UiNode child;
                            child.baseDir = node.baseDir;
                            readWidget(r, child, file);
                            node.children.push_back(std::move(child));
                        } else r.skipCurrentElement();
                    }
                } else r.skipCurrentElement();
            }
        } else if (n == "item") {
            UiNode::TreeItem ti;
            ti.text = itemText(r, &ti, node.baseDir);
            node.items << ti.text;
            node.treeItems.push_back(std::move(ti));
        } else if (n == "column") {
            node.columns << itemText(r, nullptr, node.baseDir);
        } else if (n == "row") {
            node.rows << itemText(r, nullptr, node.baseDir);
        } else if (n == "addaction") {
            node.addActions << r.attributes().value("name").toString();
            r.skipCurrentElement();
        } else if (n == "action") {
            UiAction a;
            a.name = r.attributes().value("name").toString();
            while (r.readNextStartElement()) {
                if (r.name() == QLatin1String("property")) {
                    const QString pn = r.attributes().value("name").toString();
                    QVariant v = readValue(r, node.baseDir);
                    if (pn == "text") a.text = v.toString();
                    else if (pn == "toolTip") a.toolTip = v.toString();
                    else if (pn == "checkable") a.checkable = v.toBool();
                    else if (pn == "checked") a.checked = v.toBool();
                    else if (pn == "enabled") a.enabled = v.toBool();
                } else r.skipCurrentElement();
            }
            file.actions[a.name] = a;
        } else r.skipCurrentElement();
    }
}

std::unique_ptr<UiFile> parseFile(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return nullptr;
    QXmlStreamReader r(&f);
    auto file = std::make_unique<UiFile>();
    bool found = false;
    if (r.readNextStartElement() && r.name() == QLatin1String("ui")) {
        while (r.readNextStartElement()) {
            if (r.name() == QLatin1String("widget") && !found) {
                file->top.baseDir = QFileInfo(path).absolutePath();
                readWidget(r, file->top, *file);
                found = true;
            } else r.skipCurrentElement();
        }
    }
    if (r.hasError() || !found) return nullptr;
    return file;
}

std::mutex cacheMutex;
std::map<QString, std::unique_ptr<UiFile>> cache;   // by absolute path; files never change at run time

const UiFile *loadCached(const QString &path) {
    const QString key = QFileInfo(path).absoluteFilePath();
    std::lock_guard<std::mutex> lock(cacheMutex);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second.get();
    auto parsed = parseFile(key);
    if (!parsed) return nullptr;
    return (cache[key] = std::move(parsed)).get();
}

const UiNode *findMenuBar(const UiNode &n, const QString &name) {
    if (n.cls == "QMenuBar" && n.name == name) return &n;
    for (const UiNode &c : n.children)
        if (const UiNode *m = findMenuBar(c, name)) return m;
    return nullptr;
}

const UiNode *match(const UiFile *f, const QString &name, bool menuBar) {
    if (!f) return nullptr;
    if (menuBar) return findMenuBar(f->top, name);
    return f->top.name == name ? &f->top : nullptr;
}

}  // namespace

const UiNode *findChild(const UiNode &n, const QString &name) {
    for (const UiNode &c : n.children) {
        if (c.name == name) return &c;
        if (const UiNode *d = findChild(c, name)) return d;
    }
    return nullptr;
}

const UiFile *findUiResource(const char *resource, const QString &name, bool menuBar,
                             const UiNode **node) {
    if (!resource || name.isEmpty()) return nullptr;
    const QString res = QString::fromUtf8(resource);
    QFileInfo info(res);
    if (info.isDir()) {
        QDir dir(res);
        for (const QString &candidate : {name + ".ui", name.toLower() + ".ui"}) {
            if (dir.exists(candidate)) {
                const UiFile *f = loadCached(dir.filePath(candidate));
                if (const UiNode *n = match(f, name, menuBar)) {
                    *node = n;
                    return f;
                }
            }
        }
        const QStringList files = dir.entryList({"*.ui"}, QDir::Files, QDir::Name);
        for (const QString &file : files) {
            const UiFile *f = loadCached(dir.filePath(file));
            if (const UiNode *n = match(f, name, menuBar)) {
                *node = n;
                return f;
            }
        }
        return nullptr;
    }
    const UiFile *f = loadCached(res);
    if (const UiNode *n = match(f, name, menuBar)) {
        *node = n;
        return f;
    }
    return nullptr;
}

}  // namespace tarq_ui
