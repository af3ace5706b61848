// Popups answered by the test, ini files, language files, printing to PDF.
#include "ui_test_util.h"

#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QTableWidget>

#include <fstream>
#include <sstream>

namespace {

std::string readFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void writeFile(const std::string &path, const std::string &text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

TEST(Popups, ScriptedAnswersAndHeadlessDefaults) {
    TakePopupLog();
    ClearPopupScript();
    // A two-button question: Enter is button 1, Escape button 2.
    ScriptPopupAnswer(1);
    EXPECT_EQ(GenericMessagePopup("TARQ", "Завершить работу?", "Да", "Нет", nullptr, 1, 2), 1);
    ScriptPopupAnswer(2);
    EXPECT_EQ(GenericMessagePopup("TARQ", "Close panel?", "OK", "Cancel", nullptr, 1, 2), 2);
    // Unscripted with no display: the escape answer, at once.
    EXPECT_EQ(GenericMessagePopup("TARQ", "Загрузить?", "Да", "Нет", "", 1, 2), 2);
    EXPECT_EQ(GenericMessagePopup("TARQ", "x", nullptr, nullptr, nullptr, 1, 2), UI_ERR_BAD_VALUE);
    EXPECT_EQ(MessagePopup("TARQ", "Не возможно занять память"), 0);
    std::string path = "unchanged";
    ScriptPopupAnswer(VAL_EXISTING_FILE_SELECTED, "/tmp/a.cfg");
    EXPECT_EQ(FileSelectPopup("/tmp", "*.cfg", "*.cfg", "Открыть конфигурацию панели", VAL_LOAD_BUTTON, 1, &path),
              VAL_EXISTING_FILE_SELECTED);
    EXPECT_EQ(path, "/tmp/a.cfg");
    path = "unchanged";
    ScriptPopupAnswer(VAL_NO_FILE_SELECTED);
    EXPECT_EQ(FileSelectPopup("/tmp", "*.cfg", "*.cfg", "Сохранить", VAL_SAVE_BUTTON, 1, &path), VAL_NO_FILE_SELECTED);
    EXPECT_EQ(path, "unchanged");
    EXPECT_EQ(FileSelectPopup("/tmp", "*.wfm", "*.wfm", "Экспорт данных в файл", VAL_SAVE_BUTTON, 1, &path), VAL_NO_FILE_SELECTED);
    double x[] = {1000, 51000, 101000}, y[] = {-0.1, 0.0, -0.3};
    EXPECT_EQ(XYGraphPopup("АЧХ = 0.3 дБм", x, y, 3, VAL_DOUBLE, VAL_DOUBLE), 0);
    auto log = TakePopupLog();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0].kind, "generic");
    EXPECT_EQ(log[0].message, "Завершить работу?");
    EXPECT_EQ(log[0].answer, 1);
    EXPECT_EQ(log[2].answer, 2);
    EXPECT_EQ(log[3].kind, "message");
    EXPECT_EQ(log[3].title, "TARQ");
    EXPECT_EQ(log[4].kind, "file");
    EXPECT_EQ(log[7].kind, "xygraph");
    EXPECT_EQ(log[7].title, "АЧХ = 0.3 дБм");
    EXPECT_TRUE(TakePopupLog().empty());
    // Wait cursor
    SetWaitCursor(1);
    EXPECT_EQ(GetWaitCursorState(), 1);
    SetWaitCursor(0);
    EXPECT_EQ(GetWaitCursorState(), 0);
}

TEST(Popups, ModalPanelInstalledAndRemoved) {
    int about = LoadPanel(0, samplePath().c_str(), "SMALL");
    EXPECT_EQ(InstallPopup(about), 0);
    EXPECT_TRUE(GetPanelWidget(about)->isVisible());
    EXPECT_EQ(GetPanelWidget(about)->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(RemovePopup(0), 0);
    EXPECT_FALSE(GetPanelWidget(about)->isVisible());
    EXPECT_EQ(RemovePopup(0), UI_ERR_BAD_PANEL);
    DiscardPanel(about);
}

TEST(IniFiles, RoundTripKeepsOrderAndTypes) {
    const std::string path = scratchPath("ui_settings.ini");
    IniText ini = Ini_New(0);
    Ini_SetDuplicateChecking(ini, 0);
    const char *keys[] = {"Language", "OSC", "FFT", "MSR", "ACP", "CLB", "TST", "ARM", "Wmain", "Hmain"};
    for (int k = 0; k < 10; k++) Ini_PutInt(ini, "DEFINES", keys[k], k * 10 - 20);
    Ini_PutDouble(ini, "EXTRA", "Level", -12.5);
    Ini_PutString(ini, "EXTRA", "Name", "мез.№ 1 на \"PXI0\"");
    ASSERT_EQ(Ini_WriteToFile(ini, path.c_str()), 0);
    Ini_Dispose(ini);
    const std::string text = readFile(path);
    size_t last = 0;
    for (const char *k : keys) {
        size_t at = text.find(std::string(k) + " = ");
        ASSERT_NE(at, std::string::npos) << k;
        EXPECT_GT(at, last) << k;   // written in insertion order
        last = at;
    }
    EXPECT_NE(text.find("Level = -12.5"), std::string::npos);

    IniText back = Ini_New(0);
    ASSERT_EQ(Ini_ReadFromFile(back, path.c_str()), 0);
    int v = 0;
    for (int k = 0; k < 10; k++) {
        EXPECT_EQ(Ini_GetInt(back, "DEFINES", keys[k], &v), 1);
        EXPECT_EQ(v, k * 10 - 20);
    }
    EXPECT_EQ(Ini_GetInt(back, "defines", "language", &v), 1);   // names compare without case
    double d = 0;
    EXPECT_EQ(Ini_GetDouble(back, "EXTRA", "Level", &d), 1);
    EXPECT_DOUBLE_EQ(d, -12.5);
    std::string s;
    EXPECT_EQ(Ini_GetString(back, "EXTRA", "Name", &s), 1);
    EXPECT_EQ(s, "мез.№ 1 на \"PXI0\"");
    v = 77;
    EXPECT_EQ(Ini_GetInt(back, "DEFINES", "Missing", &v), 0);
    EXPECT_EQ(v, 77);
    EXPECT_EQ(Ini_GetInt(back, "EXTRA", "Name", &v), UI_ERR_BAD_VALUE);
    EXPECT_EQ(v, 77);
    Ini_Dispose(back);
}

TEST(IniFiles, DuplicatesAndTolerantReading) {
    IniText a = Ini_New(0);
    Ini_PutInt(a, "S", "K", 1);
    Ini_PutInt(a, "S", "K", 2);   // replaced in place
    EXPECT_EQ(Ini_NumberOfItems(a, "S"), 1);
    Ini_SetDuplicateChecking(a, 0);
    Ini_PutInt(a, "S", "K", 3);   // appended
    EXPECT_EQ(Ini_NumberOfItems(a, "S"), 2);
    int v = 0;
    Ini_GetInt(a, "S", "K", &v);
    EXPECT_EQ(v, 2);
    EXPECT_EQ(Ini_PutInt(a, "S", "bad=key", 1), UI_ERR_BAD_VALUE);
    EXPECT_EQ(Ini_PutInt(a, "S", "", 1), UI_ERR_BAD_VALUE);
    Ini_Dispose(a);

    const std::string path = scratchPath("ui_bad.ini");
    writeFile(path, "\xEF\xBB\xBF; comment\nstray = 1\n[DEFINES]\nLanguage = 1\nthis line is noise\n"
                    "OSC=0\r\n= 5\n[broken\nARM = 9\n[DEFINES]\nWmain = 99999999999\nHmain = 0x20\n");
    IniText b = Ini_New(0);
    ASSERT_EQ(Ini_ReadFromFile(b, path.c_str()), 0);
    EXPECT_EQ(Ini_GetInt(b, "DEFINES", "Language", &v), 1);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(Ini_GetInt(b, "DEFINES", "OSC", &v), 1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(Ini_GetInt(b, "DEFINES", "ARM", &v), 0);   // under a broken header
    EXPECT_EQ(Ini_GetInt(b, "DEFINES", "Wmain", &v), UI_ERR_BAD_VALUE);   // out of range
    EXPECT_EQ(Ini_GetInt(b, "DEFINES", "Hmain", &v), 1);
    EXPECT_EQ(v, 32);
    EXPECT_EQ(Ini_NumberOfItems(b, "DEFINES"), 4);
    Ini_Dispose(b);
    IniText c = Ini_New(0);
    EXPECT_EQ(Ini_ReadFromFile(c, "/nonexistent/tarq.ini"), UI_ERR_FILE);
    EXPECT_EQ(Ini_WriteToFile(c, "/nonexistent/dir/tarq.ini"), UI_ERR_FILE);
    Ini_Dispose(c);
    EXPECT_EQ(Ini_GetInt(nullptr, "S", "K", &v), 0);
}

TEST(LanguageFiles, AppliedToAPanelAndAMenuBar) {
    int panel = LoadPanel(0, samplePath().c_str(), "SAMPLE");
    EXPECT_EQ(LocalizePanel(panel, samplePath("missing.lwl").c_str()), UI_ERR_FILE);
    std::string s;
    GetPanelAttribute(panel, ATTR_TITLE, &s);
    EXPECT_EQ(s, "Образец панели");   // a missing file leaves the Russian text

    ASSERT_EQ(LocalizePanel(panel, samplePath("sample.lwl").c_str()), 0);
    GetPanelAttribute(panel, ATTR_TITLE, &s);
    EXPECT_EQ(s, "Sample panel");
    GetCtrlAttribute(panel, GetCtrlId(panel, "NUM"), ATTR_LABEL_TEXT, &s);
    EXPECT_EQ(s, "GAIN,dB");
    GetCtrlAttribute(panel, GetCtrlId(panel, "TOGGLE"), ATTR_LABEL_TEXT, &s);
    EXPECT_EQ(s, "Run");
    GetLabelFromIndex(panel, GetCtrlId(panel, "RING"), 0, &s);
    EXPECT_EQ(s, "One");
    GetLabelFromIndex(panel, GetCtrlId(panel, "RING"), 1, &s);
    EXPECT_EQ(s, "Two");   // from the [*] section
    GetLabelFromIndex(panel, GetCtrlId(panel, "RING"), 2, &s);
    EXPECT_EQ(s, "Три");   // no entry: unchanged
    const int table = GetCtrlId(panel, "TABLE");
    SetTableCellVal(panel, table, MakePoint(1, 1), 1);
    GetTableCellVal(panel, table, MakePoint(1, 1), &s);
    EXPECT_EQ(s, "Mean value,V");
    auto *tw = static_cast<QTableWidget *>(GetCtrlWidget(panel, table));
    EXPECT_EQ(tw->horizontalHeaderItem(0)->text(), QString("Parameter"));
    GetTreeItemAttribute(panel, GetCtrlId(panel, "TREE"), 0, ATTR_LABEL, &s);
    EXPECT_EQ(s, "Self-test");
    // New rows take the translated ring items.
    InsertTableRows(panel, table, -1, 1, -1);
    EXPECT_EQ(SetTableCellVal(panel, table, MakePoint(1, 4), "Mean value,V"), 0);
    DiscardPanel(panel);

    int bar = LoadMenuBar(0, samplePath().c_str(), "MENU");
    ASSERT_EQ(LocalizeMenuBar(bar, samplePath("sample.lwl").c_str()), 0);
    GetMenuBarAttribute(bar, GetMenuItemId(bar, "FILE"), ATTR_ITEM_NAME, &s);
    EXPECT_EQ(s, "File");
    GetMenuBarAttribute(bar, GetMenuItemId(bar, "OPEN"), ATTR_ITEM_NAME, &s);
    EXPECT_EQ(s, "Open configuration");
    GetMenuBarAttribute(bar, GetMenuItemId(bar, "SAVE"), ATTR_ITEM_NAME, &s);
    EXPECT_EQ(s, "Сохранить конфигурацию");
    EXPECT_EQ(LocalizeMenuBar(bar, samplePath("missing.lwl").c_str()), UI_ERR_FILE);
    DiscardMenuBar(bar);
}

TEST(LanguageFiles, QuotesEscapesAndNoise) {
    const std::string path = scratchPath("ui_escapes.lwl");
    writeFile(path, "\xEF\xBB\xBF# comment\nno equals sign here\n[P]\n"
                    "\"Сброс экрана \" = \"Reset screen \"\n"
                    "a\\=b = a=b\n"
                    "Две\\nстроки = Two\\nlines\n"
                    " = empty source\n");
    int p = NewPanel(0, "", 10, 10, 100, 300);
    int a = NewCtrl(p, CTRL_COMMAND_BUTTON, "Сброс экрана ", 10, 10);
    int b = NewCtrl(p, CTRL_TEXT_MSG, "a=b", 40, 10);
    int c = NewCtrl(p, CTRL_TEXT_MSG, "Две\nстроки", 70, 10);
    // A panel made at run time has no constant name: only [*] would apply, so nothing changes.
    EXPECT_EQ(LocalizePanel(p, path.c_str()), 0);
    std::string s;
    GetCtrlAttribute(p, a, ATTR_LABEL_TEXT, &s);
    EXPECT_EQ(s, "Сброс экрана ");
    DiscardPanel(p);
    writeFile(path, "[*]\n\"Сброс экрана \" = \"Reset screen \"\na\\=b = a=b\nДве\\nстроки = Two\\nlines\n");
    p = NewPanel(0, "", 10, 10, 100, 300);
    a = NewCtrl(p, CTRL_COMMAND_BUTTON, "Сброс экрана ", 10, 10);
    b = NewCtrl(p, CTRL_TEXT_MSG, "a=b", 40, 10);
    c = NewCtrl(p, CTRL_TEXT_MSG, "Две\nстроки", 70, 10);
    EXPECT_EQ(LocalizePanel(p, path.c_str()), 0);
    GetCtrlAttribute(p, a, ATTR_LABEL_TEXT, &s);
    EXPECT_EQ(s, "Reset screen ");
    GetCtrlVal(p, b, &s);
    EXPECT_EQ(s, "a=b");
    GetCtrlVal(p, c, &s);
    EXPECT_EQ(s, "Two\nlines");
    DiscardPanel(p);
}

TEST(Printing, PanelToPdfFile) {
    int panel = LoadPanel(0, samplePath().c_str(), "SAMPLE");
    const std::string pdf = scratchPath("ui_panel.pdf");
    std::remove(pdf.c_str());
    ASSERT_EQ(PrintPanel(panel, pdf.c_str(), 1, 0), 0);
    std::string data = readFile(pdf);
    ASSERT_GT(data.size(), 1000u);
    EXPECT_EQ(data.substr(0, 5), "%PDF-");
    // The dialog path with no display: a file set beforehand, else refused.
    const std::string second = scratchPath("ui_panel_dialog.pdf");
    std::remove(second.c_str());
    SetPrintOutputFile(second.c_str());
    EXPECT_EQ(PrintPanel(panel, nullptr, 1, 1), 0);
    EXPECT_EQ(readFile(second).substr(0, 5), "%PDF-");
    SetPrintOutputFile(nullptr);
    unsetenv("TARQ_PRINT_PDF");
    EXPECT_EQ(PrintPanel(panel, nullptr, 1, 1), UI_ERR_PRINT);
    EXPECT_EQ(PrintPanel(panel, "/nonexistent/dir/x.pdf", 1, 0), UI_ERR_PRINT);
    EXPECT_EQ(PrintPanel(-1, pdf.c_str(), 1, 0), UI_ERR_BAD_PANEL);
    DiscardPanel(panel);
}

}  // namespace
