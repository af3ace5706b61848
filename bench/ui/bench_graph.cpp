// Graph performance of the panel toolkit.
//  - Redraw: one zoom step of a 64M-point waveform plot in a 1000-pixel graph, against the same
//    step of a 100k-point plot measured in the same process (target: ratio at most 2).
//  - Plotting: PlotWaveform of 64M values (the one-time copy and min/max summary), against memcpy
//    of the same bytes into fresh memory (target: speed ratio at least 0.3).
//  - Memory: bytes kept per plotted value (target: at most 9).
#include "tarq_ui.h"
#include "waveform_summary.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr size_t kSmall = 100'000;
constexpr size_t kLarge = 64u << 20;

std::vector<double> &signal() {
    static std::vector<double> v = [] {
        std::vector<double> s(kLarge);
        unsigned seed = 1;
        for (size_t i = 0; i < s.size(); i++) {
            seed = seed * 1103515245u + 12345u;
            s[i] = std::sin(double(i) * 0.0628) + double((seed >> 16) & 0xFF) / 2560.0;
        }
        return s;
    }();
    return v;
}

struct Graph {
    int panel = 0, control = 0, plot = 0;
    size_t n = 0;
    explicit Graph(size_t count) : n(count) {
        panel = NewPanel(0, "bench", 0, 0, 420, 1100);
        control = NewCtrl(panel, CTRL_GRAPH, nullptr, 10, 10);
        SetCtrlAttribute(panel, control, ATTR_WIDTH, 1000 + 60);   // about 1000 pixels of plot area
        SetCtrlAttribute(panel, control, ATTR_HEIGHT, 400);
        DisplayPanel(panel);
        plot = PlotWaveform(panel, control, signal().data(), n, VAL_DOUBLE, 1.0, 0.0, 0.0, 1.0,
                            VAL_THIN_LINE, VAL_EMPTY_SQUARE, VAL_SOLID, 1, VAL_BLUE);
        SetAxisRange(panel, control, VAL_MANUAL, 0.0, double(n), VAL_MANUAL, -1.5, 1.5);
        RefreshGraph(panel, control);
    }
    ~Graph() { DiscardPanel(panel); }
    // One zoom step about the centre: alternately in and out by 1.2.
    void step(int k) {
        const double centre = double(n) / 2;
        const double half = (k % 2 ? double(n) / 2 / 1.2 : double(n) / 2);
        SetAxisRange(panel, control, VAL_MANUAL, centre - half, centre + half, VAL_NO_CHANGE, 0, 0);
        RefreshGraph(panel, control);
    }
};

double secondsPerStep(Graph &g, int steps) {
    auto t0 = std::chrono::steady_clock::now();
    for (int k = 0; k < steps; k++) g.step(k);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / steps;
}

void BM_RedrawZoomStep100k(benchmark::State &state) {
    Graph g(kSmall);
    int k = 0;
    for (auto _ : state) g.step(k++);
}
BENCHMARK(BM_RedrawZoomStep100k)->Unit(benchmark::kMillisecond);

void BM_RedrawZoomStep64M(benchmark::State &state) {
    Graph small(kSmall);
    Graph large(kLarge);
    // Baseline and target measured alike in this process, interleaved so that both see the
    // same machine load.
    double base = 0, big = 0;
    for (int round = 0; round < 3; round++) {
        base += secondsPerStep(small, 20);
        big += secondsPerStep(large, 20);
    }
    int k = 0;
    for (auto _ : state) large.step(k++);
    state.counters["ratio_vs_100k"] = big / base;   // target <= 2
    state.counters["ms_64M"] = big / 3 * 1e3;
    state.counters["ms_100k"] = base / 3 * 1e3;
}
BENCHMARK(BM_RedrawZoomStep64M)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_PlotSummary64M(benchmark::State &state) {
    const std::vector<double> &src = signal();
    const size_t bytes = src.size() * sizeof(double);
    const int panel = NewPanel(0, "bench", 0, 0, 420, 1100);
    const int control = NewCtrl(panel, CTRL_GRAPH, nullptr, 10, 10);
    double plotTime = 0, copyTime = 0;
    int rounds = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        {
            std::unique_ptr<double[]> dst(new double[src.size()]);
            std::memcpy(dst.get(), src.data(), bytes);
            benchmark::DoNotOptimize(dst.get());
            benchmark::ClobberMemory();
        }
        auto t1 = std::chrono::steady_clock::now();
        int plot = PlotWaveform(panel, control, src.data(), src.size(), VAL_DOUBLE, 1.0, 0.0, 0.0,
                                1.0, VAL_THIN_LINE, VAL_EMPTY_SQUARE, VAL_SOLID, 1, VAL_BLUE);
        auto t2 = std::chrono::steady_clock::now();
        if (plot <= 0) state.SkipWithError("PlotWaveform failed");
        DeleteGraphPlot(panel, control, plot, VAL_NO_DRAW);
        copyTime += std::chrono::duration<double>(t1 - t0).count();
        plotTime += std::chrono::duration<double>(t2 - t1).count();
        rounds++;
    }
    DiscardPanel(panel);
    tarq_ui::WaveformSummary kept;
    kept.assign(src.data(), src.size(), VAL_DOUBLE, 1.0, 0.0);
    state.counters["speed_vs_memcpy"] = copyTime / plotTime;                     // target >= 0.3
    state.counters["bytes_per_value"] = double(kept.bytes()) / double(kept.size());   // target <= 9
    state.counters["ms_plot"] = plotTime / rounds * 1e3;
    state.counters["ms_memcpy"] = copyTime / rounds * 1e3;
}
BENCHMARK(BM_PlotSummary64M)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char **argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
