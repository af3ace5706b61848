// Popups (scriptable by tests), the wait cursor and printing of panels.
#include "ui_internal.h"
#include "tarq_ui_qt.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

#include <deque>
#include <mutex>

namespace tarq_ui {
namespace {

struct Scripted {
    int answer;
    std::string path;
    bool hasPath;
};

std::mutex scriptMutex;
std::deque<Scripted> script;
std::vector<PopupRecord> popupLog;
std::string printFile;
int waitCursor = 0;

bool takeScripted(Scripted *s) {
    std::lock_guard<std::mutex> lock(scriptMutex);
    if (script.empty()) return false;
    *s = script.front();
    script.pop_front();
    return true;
}

void logPopup(const char *kind, const QString &title, const QString &message, int answer) {
    std::lock_guard<std::mutex> lock(scriptMutex);
    popupLog.push_back(PopupRecord{kind, title.toStdString(), message.toStdString(), answer});
}

// No display to show a dialog on: answer at once instead of blocking.
bool headless() {
    return QGuiApplication::platformName() == QLatin1String("offscreen") ||
           QGuiApplication::platformName() == QLatin1String("minimal");
}

}  // namespace
}  // namespace tarq_ui

using namespace tarq_ui;

void ScriptPopupAnswer(int answer, const char *path) {
    std::lock_guard<std::mutex> lock(scriptMutex);
    script.push_back(Scripted{answer, path ? path : "", path != nullptr});
}

void ClearPopupScript() {
    std::lock_guard<std::mutex> lock(scriptMutex);
    script.clear();
}

std::vector<PopupRecord> TakePopupLog() {
    std::lock_guard<std::mutex> lock(scriptMutex);
    std::vector<PopupRecord> r;
    r.swap(popupLog);
    return r;
}

int MessagePopup(const char *title, const char *message) {
    return onGui([&]() -> int {
        const QString t = fromUtf8(title), m = fromUtf8(message);
        Scripted s;
        if (takeScripted(&s) || headless()) {
            logPopup("message", t, m, 1);
            return UI_OK;
        }
        QMessageBox box(QMessageBox::NoIcon, t, m, QMessageBox::Ok);
        box.exec();
        logPopup("message", t, m, 1);
        return UI_OK;
    });
}

int GenericMessagePopup(const char *title, const char *message, const char *button1,
                        const char *button2, const char *button3, int enterButton,
                        int escapeButton) {
    return onGui([&]() -> int {
        const QString t = fromUtf8(title), m = fromUtf8(message);
        const char *labels[3] = {button1, button2, button3};
        int count = 0;
        for (const char *l : labels)
            if (l && *l) count++;
        if (count == 0) return UI_ERR_BAD_VALUE;
        if (escapeButton < 1 || escapeButton > count) escapeButton = count;
        if (enterButton < 1 || enterButton > count) enterButton = 1;
        Scripted s;
        if (takeScripted(&s)) {
            int a = s.answer >= 1 && s.answer <= count ? s.answer : escapeButton;
            logPopup("generic", t, m, a);
            return a;
        }
        if (headless()) {
            logPopup("generic", t, m, escapeButton);
            return escapeButton;
        }
        QMessageBox box(QMessageBox::Question, t, m);
        QPushButton *buttons[3] = {nullptr, nullptr, nullptr};
        for (int i = 0; i < count; i++) buttons[i] = box.addButton(fromUtf8(labels[i]), QMessageBox::ActionRole);
        box.setDefaultButton(buttons[enterButton - 1]);
        box.setEscapeButton(buttons[escapeButton - 1]);
        box.exec();
        int answer = escapeButton;
        for (int i = 0; i < count; i++)
            if (box.clickedButton() == buttons[i]) answer = i + 1;
        logPopup("generic", t, m, answer);
        return answer;
    });
}

int FileSelectPopup(const char *defaultDirectory, const char *fileSpec, const char *typeList,
                    const char *title, int buttonKind, int allowCancel, std::string *path) {
    return onGui([&]() -> int {
        if (!path) return UI_ERR_BAD_VALUE;
        const QString t = fromUtf8(title);
        Scripted s;
        if (takeScripted(&s)) {
            int a = s.answer;
            if (a != VAL_EXISTING_FILE_SELECTED && a != VAL_NEW_FILE_SELECTED) a = VAL_NO_FILE_SELECTED;
            if (a != VAL_NO_FILE_SELECTED) *path = s.path;
            logPopup("file", t, QString::fromStdString(s.path), a);
            return a;
        }
        if (headless()) {
            logPopup("file", t, QString(), VAL_NO_FILE_SELECTED);
            return VAL_NO_FILE_SELECTED;
        }
        QString dir = fromUtf8(defaultDirectory);
        if (dir.isEmpty()) {
            std::string d;
            GetProjectDir(&d);
            dir = QString::fromStdString(d);
        }
        QStringList filters;
        for (const QString &pattern : fromUtf8(typeList).split(';', Qt::SkipEmptyParts))
            filters << pattern.trimmed();
        filters << "*";
        QString spec = fromUtf8(fileSpec);
        QFileDialog dialog(nullptr, t, dir);
        dialog.setNameFilters(filters);
        if (!spec.isEmpty() && !spec.contains('*')) dialog.selectFile(spec);
        dialog.setAcceptMode(buttonKind == VAL_SAVE_BUTTON ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(buttonKind == VAL_SAVE_BUTTON ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        (void)allowCancel;
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            logPopup("file", t, QString(), VAL_NO_FILE_SELECTED);
            return VAL_NO_FILE_SELECTED;
        }
        const QString chosen = dialog.selectedFiles().first();
        *path = chosen.toStdString();
        int a = QFileInfo::exists(chosen) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
        logPopup("file", t, chosen, a);
        return a;
    });
}

int XYGraphPopup(const char *title, const void *x, const void *y, size_t count, int xType,
                 int yType) {
    return onGui([&]() -> int {
        const QString t = fromUtf8(title);
        int panel = NewPanel(0, title, 100, 100, 400, 560);
        if (panel < 0) return panel;
        int graph = NewCtrl(panel, CTRL_GRAPH, nullptr, 5, 5);
        SetCtrlAttribute(panel, graph, ATTR_WIDTH, 550);
        SetCtrlAttribute(panel, graph, ATTR_HEIGHT, 350);
        SetAxisRange(panel, graph, VAL_AUTOSCALE, 0, 0, VAL_AUTOSCALE, 0, 0);
        int plot = PlotXY(panel, graph, x, y, count, xType, yType, VAL_CONNECTED_POINTS,
                          VAL_SOLID_CIRCLE, VAL_SOLID, 1, VAL_BLUE);
        if (plot < 0) {
            DiscardPanel(panel);
            return plot;
        }
        Scripted s;
        if (takeScripted(&s) || headless()) {
            logPopup("xygraph", t, QString::number(qulonglong(count)), 1);
            DiscardPanel(panel);
            return UI_OK;
        }
        QDialog dialog;
        dialog.setWindowTitle(t);
        auto *layout = new QVBoxLayout(&dialog);
        QWidget *w = GetPanelWidget(panel);
        w->setParent(&dialog);
        w->setWindowFlags(Qt::Widget);
        w->setMinimumSize(560, 360);
        w->show();
        layout->addWidget(w);
        auto *box = new QDialogButtonBox(QDialogButtonBox::Ok);
        QObject::connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        layout->addWidget(box);
        dialog.exec();
        w->setParent(nullptr);
        logPopup("xygraph", t, QString::number(qulonglong(count)), 1);
        DiscardPanel(panel);
        return UI_OK;
    });
}

int SetWaitCursor(int on) {
    return onGui([&]() -> int {
        if (on && !waitCursor) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        if (!on && waitCursor) QGuiApplication::restoreOverrideCursor();
        waitCursor = on ? 1 : 0;
        return UI_OK;
    });
}

int GetWaitCursorState() { return onGui([&]() -> int { return waitCursor; }); }

int SetPrintOutputFile(const char *pdfPath) {
    std::lock_guard<std::mutex> lock(scriptMutex);
    printFile = pdfPath ? pdfPath : "";
    return UI_OK;
}

int PrintPanel(int panel, const char *outputFile, int scaleToPaper, int promptUser) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        QString file = fromUtf8(outputFile);
        if (file.isEmpty()) {
            std::lock_guard<std::mutex> lock(scriptMutex);
            file = QString::fromStdString(printFile);
        }
        if (file.isEmpty())
            if (const char *env = std::getenv("TARQ_PRINT_PDF")) file = QString::fromUtf8(env);
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageOrientation(p->widget->width() > p->widget->height() ? QPageLayout::Landscape
                                                                            : QPageLayout::Portrait);
        if (!file.isEmpty()) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(file);
        } else if (headless() || !promptUser) {
            if (headless()) {
                logPopup("print", p->widget->windowTitle(), QString(), 0);
                return UI_ERR_PRINT;
            }
        } else {
            QPrintDialog dialog(&printer);
            if (dialog.exec() != QDialog::Accepted) return UI_OK;   // the user cancelled
        }
        // The panel is drawn as shown (a hidden panel is laid out at its size first).
        QPixmap image = p->widget->grab();
        QPainter painter;
        if (!painter.begin(&printer)) return UI_ERR_PRINT;
        QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
        QRect target(QPoint(0, 0), page.size());
        QSize size = image.size();
        if (scaleToPaper || size.width() > target.width() || size.height() > target.height())
            size.scale(target.size(), Qt::KeepAspectRatio);
        painter.drawPixmap(QRect(QPoint(0, 0), size), image);
        painter.end();
        logPopup("print", p->widget->windowTitle(), file, 1);
        return UI_OK;
    });
}
