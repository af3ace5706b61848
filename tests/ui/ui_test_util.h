// Helpers shared by the toolkit's GUI tests.
#pragma once

#include "tarq_ui.h"
#include "tarq_ui_qt.h"

#include <QAbstractButton>
#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline std::string samplePath(const std::string &name = "") {
    return std::string(TARQ_UI_SAMPLES) + (name.empty() ? "" : "/" + name);
}

inline std::string scratchPath(const std::string &name) {
    const char *dir = std::getenv("TARQ_TEST_SCRATCH");
    std::string d = dir && *dir ? dir : "/tmp";
    std::string cmd = "mkdir -p '" + d + "'";
    if (std::system(cmd.c_str()) != 0) return "/tmp/" + name;
    return d + "/" + name;
}

struct Fired {
    int panel, control, event, data1, data2;
    bool operator==(const Fired &) const = default;
};

// Records control events; a test chooses which events to swallow.
struct Recorder {
    static inline std::vector<Fired> events;
    static inline std::vector<int> swallow;
    static void reset() {
        events.clear();
        swallow.clear();
    }
    static int callback(int panel, int control, int event, void *, int d1, int d2) {
        events.push_back({panel, control, event, d1, d2});
        for (int e : swallow)
            if (e == event) return 1;
        return 0;
    }
    // Event kinds in order, without focus events (whose timing depends on the window system).
    static std::vector<int> kinds(int control = 0) {
        std::vector<int> k;
        for (auto &f : events)
            if ((!control || f.control == control) && f.event != EVENT_GOT_FOCUS &&
                f.event != EVENT_LOST_FOCUS)
                k.push_back(f.event);
        return k;
    }
};

// Pumps events for a while so that timers and queued calls run.
void pumpFor(int milliseconds);
