// Ini files and language files.
#include "ui_internal.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QTableWidget>
#include <QTreeWidget>

#include <charconv>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

// ---------------------------------------------------------------------------------------------
// Ini files

struct IniTextRecord {
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> entries;
    };
    std::vector<Section> sections;
    bool checkDuplicates = true;
    bool sorted = false;
};

namespace {

bool sameName(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

IniTextRecord::Section *findSection(IniText ini, const std::string &name, bool create) {
    for (auto &s : ini->sections)
        if (sameName(s.name, name)) return &s;
    if (!create) return nullptr;
    ini->sections.push_back({name, {}});
    return &ini->sections.back();
}

const std::string *findValue(IniText ini, const char *section, const char *key) {
    if (!ini || !section || !key) return nullptr;
    IniTextRecord::Section *s = findSection(ini, section, false);
    if (!s) return nullptr;
    for (auto &e : s->entries)
        if (sameName(e.first, key)) return &e.second;
    return nullptr;
}

int put(IniText ini, const char *section, const char *key, const std::string &value) {
    if (!ini || !section || !key || !*key) return UI_ERR_BAD_VALUE;
    std::string k = trim(key);
    if (k.empty() || k.find_first_of("=\r\n[") != std::string::npos) return UI_ERR_BAD_VALUE;
    std::string sec = trim(section);
    if (sec.find_first_of("]\r\n") != std::string::npos) return UI_ERR_BAD_VALUE;
    IniTextRecord::Section *s = findSection(ini, sec, true);
    if (ini->checkDuplicates) {
        for (auto &e : s->entries)
            if (sameName(e.first, k)) {
                e.second = value;
                return UI_OK;
            }
    }
    s->entries.emplace_back(k, value);
    if (ini->sorted)
        std::stable_sort(s->entries.begin(), s->entries.end(),
                         [](auto &a, auto &b) { return a.first < b.first; });
    return UI_OK;
}

}  // namespace

IniText Ini_New(int automaticSorting) {
    auto *ini = new (std::nothrow) IniTextRecord;
    if (ini) ini->sorted = automaticSorting != 0;
    return ini;
}

void Ini_Dispose(IniText ini) { delete ini; }

int Ini_SetDuplicateChecking(IniText ini, int check) {
    if (!ini) return UI_ERR_BAD_VALUE;
    ini->checkDuplicates = check != 0;
    return UI_OK;
}

int Ini_ReadFromFile(IniText ini, const char *path) {
    if (!ini || !path) return UI_ERR_BAD_VALUE;
    std::ifstream in(path, std::ios::binary);
    if (!in) return UI_ERR_FILE;
    std::string line;
    IniTextRecord::Section *current = nullptr;
    bool first = true;
    while (std::getline(in, line)) {
        if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        first = false;
        std::string t = trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t[0] == '[') {
            size_t close = t.find(']');
            if (close == std::string::npos) {
                current = nullptr;   // a broken header: its lines belong to no section
                continue;
            }
            current = findSection(ini, trim(t.substr(1, close - 1)), true);
            continue;
        }
        size_t eq = t.find('=');
        if (eq == std::string::npos || !current) continue;   // not understood: skipped
        std::string key = trim(t.substr(0, eq));
        if (key.empty()) continue;
        std::string value = trim(t.substr(eq + 1));
        put(ini, current->name.c_str(), key.c_str(), value);
    }
    return in.bad() ? UI_ERR_FILE : UI_OK;
}

int Ini_WriteToFile(IniText ini, const char *path) {
    if (!ini || !path || !*path) return UI_ERR_BAD_VALUE;
    std::ostringstream out;
    bool firstSection = true;
    for (auto &s : ini->sections) {
        if (!firstSection) out << "\n";
        firstSection = false;
        out << "[" << s.name << "]\n";
        for (auto &e : s.entries) out << e.first << " = " << e.second << "\n";
    }
    const std::string tmp = std::string(path) + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) return UI_ERR_FILE;
        const std::string data = out.str();
        f.write(data.data(), std::streamsize(data.size()));
        f.flush();
        if (!f) {
            f.close();
            std::remove(tmp.c_str());
            return UI_ERR_FILE;
        }
    }
    if (std::rename(tmp.c_str(), path) != 0) {
        std::remove(tmp.c_str());
        return UI_ERR_FILE;
    }
    return UI_OK;
}

int Ini_PutInt(IniText ini, const char *section, const char *key, int value) {
    return put(ini, section, key, std::to_string(value));
}

int Ini_PutDouble(IniText ini, const char *section, const char *key, double value) {
    char buf[64];
    // to_chars ignores the process locale: a decimal point whatever LC_NUMERIC says.
    auto r = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::general, 17);
    *r.ptr = '\0';
    return put(ini, section, key, buf);
}

int Ini_PutString(IniText ini, const char *section, const char *key, const char *value) {
    if (!value) return UI_ERR_BAD_VALUE;
    std::string v = "\"";
    for (const char *p = value; *p; p++) {
        if (*p == '"' || *p == '\\') v += '\\', v += *p;
        else if (*p == '\n') v += "\\n";
        else if (*p == '\r') v += "\\r";
        else v += *p;
    }
    v += '"';
    return put(ini, section, key, v);
}

int Ini_GetInt(IniText ini, const char *section, const char *key, int *value) {
    const std::string *v = findValue(ini, section, key);
    if (!v) return 0;
    if (!value) return UI_ERR_BAD_VALUE;
    const char *s = v->c_str();
    char *end = nullptr;
    errno = 0;
    long long n = std::strtoll(s, &end, 0);
    if (end == s || *end != '\0' || errno == ERANGE || n < INT_MIN || n > INT_MAX) return UI_ERR_BAD_VALUE;
    *value = int(n);
    return 1;
}

int Ini_GetDouble(IniText ini, const char *section, const char *key, double *value) {
    const std::string *v = findValue(ini, section, key);
    if (!v) return 0;
    if (!value) return UI_ERR_BAD_VALUE;
    const char *s = v->c_str();
    const char *end = s + v->size();
    if (*s == '+') s++;
    double d = 0;
    auto r = std::from_chars(s, end, d);
    if (r.ec != std::errc() || r.ptr != end) return UI_ERR_BAD_VALUE;
    *value = d;
    return 1;
}

int Ini_GetString(IniText ini, const char *section, const char *key, std::string *value) {
    const std::string *v = findValue(ini, section, key);
    if (!v) return 0;
    if (!value) return UI_ERR_BAD_VALUE;
    const std::string &s = *v;
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
        std::string out;
        for (size_t i = 1; i + 1 < s.size(); i++) {
            if (s[i] == '\\' && i + 2 < s.size()) {
                char c = s[++i];
                out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
            } else out += s[i];
        }
        *value = out;
    } else {
        *value = s;
    }
    return 1;
}

int Ini_NumberOfItems(IniText ini, const char *section) {
    if (!ini || !section) return UI_ERR_BAD_VALUE;
    IniTextRecord::Section *s = findSection(ini, section, false);
    return s ? int(s->entries.size()) : 0;
}

int Ini_RemoveItem(IniText ini, const char *section, const char *key) {
    if (!ini || !section || !key) return UI_ERR_BAD_VALUE;
    IniTextRecord::Section *s = findSection(ini, section, false);
    if (!s) return 0;
    for (auto it = s->entries.begin(); it != s->entries.end(); ++it)
        if (sameName(it->first, key)) {
            s->entries.erase(it);
            return 1;
        }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Language files

namespace tarq_ui {
namespace {

// Splits "left = right" at the first '=' that is not escaped and not inside quotes.
bool splitEntry(const QString &line, QString *left, QString *right) {
    bool quoted = false;
    for (int i = 0; i < line.size(); i++) {
        QChar c = line[i];
        if (c == '\\') { i++; continue; }
        if (c == '"') quoted = !quoted;
        if (c == '=' && !quoted) {
            *left = line.left(i);
            *right = line.mid(i + 1);
            return true;
        }
    }
    return false;
}

QString unescape(QString s) {
    s = s.trimmed();
    if (s.size() >= 2 && s.startsWith('"') && s.endsWith('"')) s = s.mid(1, s.size() - 2);
    QString out;
    for (int i = 0; i < s.size(); i++) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            QChar c = s[++i];
            out += c == 'n' ? QChar('\n') : c == 't' ? QChar('\t') : c;
        } else out += s[i];
    }
    return out;
}

QString translate(const Translation &t, const QString &s) {
    if (s.isEmpty()) return s;
    auto it = t.find(s);
    return it == t.end() ? s : it->second;
}

void localizeWidgets(QWidget *w, int panel, const Translation &t) {
    for (QObject *o : w->children()) {
        auto *c = qobject_cast<QWidget *>(o);
        if (!c) continue;
        QVariant owner = c->property("tarqPanel");
        if (owner.isValid() && owner.toInt() != panel) continue;   // a child panel: its own file
        if (!c->toolTip().isEmpty()) c->setToolTip(translate(t, c->toolTip()));
        if (auto *l = qobject_cast<QLabel *>(c)) {
            if (!l->text().isEmpty()) l->setText(translate(t, l->text()));
        } else if (auto *b = qobject_cast<QAbstractButton *>(c)) {
            b->setText(translate(t, b->text()));
        } else if (auto *cb = qobject_cast<QComboBox *>(c)) {
            for (int i = 0; i < cb->count(); i++) cb->setItemText(i, translate(t, cb->itemText(i)));
        } else if (auto *lw = qobject_cast<QListWidget *>(c)) {
            for (int i = 0; i < lw->count(); i++) lw->item(i)->setText(translate(t, lw->item(i)->text()));
        } else if (auto *tw = qobject_cast<QTreeWidget *>(c)) {
            std::vector<QTreeWidgetItem *> stack;
            for (int i = 0; i < tw->topLevelItemCount(); i++) stack.push_back(tw->topLevelItem(i));
            while (!stack.empty()) {
                QTreeWidgetItem *it = stack.back();
                stack.pop_back();
                it->setText(0, translate(t, it->text(0)));
                for (int i = 0; i < it->childCount(); i++) stack.push_back(it->child(i));
            }
        } else if (auto *table = qobject_cast<QTableWidget *>(c)) {
            QVariant ctrl = table->property("tarqCtrl");
            Control *control = ctrl.isValid() ? findControl(panel, ctrl.toInt()) : nullptr;
            if (control) control->programmatic++;
            for (int k = 0; k < table->columnCount(); k++) {
                if (auto *h = table->horizontalHeaderItem(k)) {
                    h->setText(translate(t, h->text()));
                    QStringList ring = h->data(Qt::UserRole + 2).toStringList();
                    for (QString &s : ring) s = translate(t, s);
                    h->setData(Qt::UserRole + 2, ring);
                }
            }
            for (int r = 0; r < table->rowCount(); r++) {
                if (auto *h = table->verticalHeaderItem(r)) h->setText(translate(t, h->text()));
                for (int k = 0; k < table->columnCount(); k++)
                    if (auto *combo = qobject_cast<QComboBox *>(table->cellWidget(r, k))) {
                        for (int i = 0; i < combo->count(); i++) combo->setItemText(i, translate(t, combo->itemText(i)));
                        if (auto *item = table->item(r, k)) item->setText(combo->currentText());
                    }
            }
            if (control) control->programmatic--;
            continue;   // its cell widgets are done
        }
        localizeWidgets(c, panel, t);
    }
}

void localizeMenu(QMenu *m, const Translation &t) {
    m->setTitle(translate(t, m->title()));
    for (QAction *a : m->actions()) {
        if (a->menu()) localizeMenu(a->menu(), t);
        else if (!a->isSeparator()) a->setText(translate(t, a->text()));
    }
}

}  // namespace

int loadTranslation(const char *file, const QString &section, Translation *t) {
    if (!file) return UI_ERR_BAD_VALUE;
    QFile f(QString::fromUtf8(file));
    if (!f.open(QIODevice::ReadOnly)) return UI_ERR_FILE;
    const QString text = QString::fromUtf8(f.readAll());
    QString current;
    Translation general;
    for (QString line : text.split('\n')) {
        line = line.trimmed();
        if (line.startsWith(QChar(0xFEFF))) line.remove(0, 1);
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            current = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        QString left, right;
        if (!splitEntry(line, &left, &right)) continue;
        QString from = unescape(left);
        if (from.isEmpty()) continue;
        if (current == section) (*t)[from] = unescape(right);
        else if (current == "*") general[from] = unescape(right);
    }
    for (auto &[k, v] : general) t->emplace(k, v);   // the panel's own section wins
    return UI_OK;
}

}  // namespace tarq_ui

using namespace tarq_ui;

int LocalizePanel(int panel, const char *languageFile) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        Translation t;
        int r = loadTranslation(languageFile, p->name, &t);
        if (r < 0) return r;
        p->widget->setWindowTitle(translate(t, p->widget->windowTitle()));
        if (p->titleLabel) p->titleLabel->setText(p->widget->windowTitle());
        localizeWidgets(p->widget, panel, t);
        for (auto &[id, c] : p->controls) placeLabel(*c);
        return UI_OK;
    });
}

int LocalizeMenuBar(int menuBar, const char *languageFile) {
    return onGui([&]() -> int {
        QMenuBar *bar = menuBarWidget(menuBar);
        if (!bar) return UI_ERR_BAD_MENU;
        Translation t;
        int r = loadTranslation(languageFile, bar->objectName(), &t);
        if (r < 0) return r;
        for (QAction *a : bar->actions())
            if (a->menu()) localizeMenu(a->menu(), t);
        return UI_OK;
    });
}
