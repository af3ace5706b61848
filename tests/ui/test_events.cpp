// Event processing: nested processing, deferred calls, timers, thread pools, time texts, locale.
#include "ui_test_util.h"

#include <QThread>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <thread>

namespace {

struct Trace {
    std::vector<std::string> steps;
    bool posterReturned = false;
};

void deferredStep(void *data) {
    auto *t = static_cast<Trace *>(data);
    t->steps.push_back(t->posterReturned ? "deferred after poster" : "deferred inside poster");
}

int PosterCallback(int, int, int event, void *data, int, int) {
    if (event != EVENT_COMMIT) return 0;
    auto *t = static_cast<Trace *>(data);
    PostDeferredCall(deferredStep, t);
    t->steps.push_back("poster");
    return 0;
}

TEST(EventProcessing, DeferredCallRunsAfterItsPosterReturned) {
    int p = NewPanel(0, "t", 10, 10, 100, 200);
    int b = NewCtrl(p, CTRL_COMMAND_BUTTON, "Пуск", 10, 10);
    Trace t;
    InstallCtrlCallback(p, b, PosterCallback, &t);
    DisplayPanel(p);
    static_cast<QAbstractButton *>(GetCtrlWidget(p, b))->click();
    t.posterReturned = true;
    ProcessSystemEvents();
    EXPECT_EQ(t.steps, (std::vector<std::string>{"poster", "deferred after poster"}));
    DiscardPanel(p);
}

// A callback that itself processes events: a second event is handled nested inside it.
struct Nest {
    int panel = 0, button = 0, other = 0;
    std::vector<std::string> log;
    int depth = 0;
};

int NestedCallback(int panel, int control, int event, void *data, int, int) {
    auto *n = static_cast<Nest *>(data);
    if (event != EVENT_COMMIT) return 0;
    if (control == n->button) {
        n->log.push_back("outer begin");
        n->depth++;
        PostDeferredCall([](void *d) {
            auto *m = static_cast<Nest *>(d);
            static_cast<QAbstractButton *>(GetCtrlWidget(m->panel, m->other))->click();
        }, n);
        for (int k = 0; k < 5; k++) ProcessSystemEvents();
        n->depth--;
        n->log.push_back("outer end");
    } else {
        n->log.push_back(n->depth ? "inner nested" : "inner alone");
    }
    (void)panel;
    return 0;
}

TEST(EventProcessing, CallbacksRunNestedInsideProcessSystemEvents) {
    Nest n;
    n.panel = NewPanel(0, "t", 10, 10, 100, 200);
    n.button = NewCtrl(n.panel, CTRL_COMMAND_BUTTON, "A", 10, 10);
    n.other = NewCtrl(n.panel, CTRL_COMMAND_BUTTON, "B", 40, 10);
    InstallCtrlCallback(n.panel, n.button, NestedCallback, &n);
    InstallCtrlCallback(n.panel, n.other, NestedCallback, &n);
    DisplayPanel(n.panel);
    static_cast<QAbstractButton *>(GetCtrlWidget(n.panel, n.button))->click();
    EXPECT_EQ(n.log, (std::vector<std::string>{"outer begin", "inner nested", "outer end"}));
    DiscardPanel(n.panel);
}

int ticks = 0;
int TickCallback(int, int, int event, void *, int, int) {
    if (event == EVENT_TIMER_TICK) ticks++;
    return 0;
}

struct FromWorker {
    std::atomic<bool> ranInPanelThread{false};
    std::atomic<int> runs{0};
};

int PostFromWorker(void *data) {
    PostDeferredCall([](void *d) {
        auto *f = static_cast<FromWorker *>(d);
        f->ranInPanelThread = QThread::currentThread() == qApp->thread();
        f->runs++;
    }, data);
    return 0;
}

TEST(EventProcessing, WorkerPostsADeferredCallToThePanelThread) {
    FromWorker f;
    int pool = 0, fn = 0;
    NewThreadPool(1, &pool);
    ScheduleThreadPoolFunction(pool, PostFromWorker, &f, &fn);
    WaitForThreadPoolFunction(pool, fn, nullptr);
    DiscardThreadPool(pool);
    ProcessSystemEvents();
    EXPECT_EQ(f.runs.load(), 1);
    EXPECT_TRUE(f.ranInPanelThread.load());
}

TEST(EventProcessing, TimerControlTicksWhileEnabled) {
    int p = LoadPanel(0, samplePath().c_str(), "SAMPLE");
    int timer = GetCtrlId(p, "TIMER");
    double interval = 0;
    GetCtrlAttribute(p, timer, ATTR_INTERVAL, &interval);
    EXPECT_DOUBLE_EQ(interval, 0.02);
    InstallCtrlCallback(p, timer, TickCallback, nullptr);
    ticks = 0;
    pumpFor(100);
    EXPECT_EQ(ticks, 0);   // built disabled
    SetCtrlAttribute(p, timer, ATTR_ENABLED, 1);
    pumpFor(250);
    EXPECT_GE(ticks, 3);
    SetCtrlAttribute(p, timer, ATTR_ENABLED, 0);
    int seen = ticks;
    pumpFor(100);
    EXPECT_EQ(ticks, seen);
    int visible = 1;
    GetCtrlAttribute(p, timer, ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 0);
    DiscardPanel(p);
}

struct Work {
    int panel, control;
    std::atomic<int> steps{0};
};

int Worker(void *data) {
    auto *w = static_cast<Work *>(data);
    for (int k = 0; k < 5; k++) {
        std::string text;
        GetCtrlVal(w->panel, w->control, &text);
        text += ".";
        SetCtrlVal(w->panel, w->control, text.c_str());
        w->steps++;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 7;
}

TEST(EventProcessing, OneThreadPoolWorkerUpdatesAControl) {
    int p = NewPanel(0, "t", 10, 10, 100, 200);
    int text = NewCtrl(p, CTRL_TEXT_MSG, "Чтение данных", 10, 10);
    Work w{p, text};
    int pool = 0, fn = 0, result = 0;
    ASSERT_EQ(NewThreadPool(1, &pool), 0);
    ASSERT_EQ(ScheduleThreadPoolFunction(pool, Worker, &w, &fn), 0);
    EXPECT_EQ(WaitForThreadPoolFunction(pool, fn, &result), 0);
    EXPECT_EQ(result, 7);
    std::string s;
    GetCtrlVal(p, text, &s);
    EXPECT_EQ(s, "Чтение данных.....");
    // Discarding waits for scheduled functions.
    ScheduleThreadPoolFunction(pool, Worker, &w, &fn);
    EXPECT_EQ(DiscardThreadPool(pool), 0);
    EXPECT_EQ(w.steps.load(), 10);
    EXPECT_EQ(ScheduleThreadPoolFunction(pool, Worker, &w, &fn), UI_ERR_BAD_POOL);
    EXPECT_EQ(NewThreadPool(0, &pool), UI_ERR_BAD_VALUE);
    DiscardPanel(p);
}

// Digits where the pattern has 9, the pattern's own character elsewhere.
bool matches(const std::string &text, const std::string &pattern) {
    if (text.size() != pattern.size()) return false;
    for (size_t i = 0; i < text.size(); i++) {
        if (pattern[i] == '9' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != pattern[i])
            return false;
    }
    return true;
}

TEST(EventProcessing, TimeTextsAndSecondsTimer) {
    EXPECT_TRUE(matches(DateStr(), "99-99-9999")) << DateStr();
    EXPECT_TRUE(matches(TimeStr(), "99:99:99")) << TimeStr();
    double a = Timer();
    Delay(0.05);
    double b = Timer();
    EXPECT_GE(b - a, 0.045);
    EXPECT_LT(b - a, 1.0);
    Delay(-1);   // nothing
}

TEST(Locale, NumbersStayInTheCLocale) {
    // Creating the application took the locale from the environment (LC_NUMERIC was set to a
    // non-C locale by main); the toolkit put numeric formatting back.
    InitUserInterface();
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", 1.25);
    EXPECT_STREQ(buf, "1.25");
    EXPECT_DOUBLE_EQ(std::strtod("2.5", nullptr), 2.5);
    // Where a decimal-comma locale is installed, show that it would have broken formatting.
    if (std::setlocale(LC_NUMERIC, "ru_RU.UTF-8")) {
        std::snprintf(buf, sizeof buf, "%.2f", 1.25);
        EXPECT_STREQ(buf, "1,25");
        InitUserInterface();
        std::snprintf(buf, sizeof buf, "%.2f", 1.25);
        EXPECT_STREQ(buf, "1.25");
    }
}

TEST(ProjectDir, DefaultsToTheProgramsDirectoryAndCanBeSet) {
    std::string d;
    EXPECT_EQ(GetProjectDir(&d), 0);
    EXPECT_FALSE(d.empty());
    SetProjectDir("/tmp/project");
    GetProjectDir(&d);
    EXPECT_EQ(d, "/tmp/project");
    SetProjectDir(nullptr);
    EXPECT_EQ(GetProjectDir(nullptr), UI_ERR_BAD_VALUE);
}

}  // namespace
