// Graph controls on QCustomPlot: waveform and x-y plots, axes, custom labels, cursors, zoom.
// The only unit that includes qcustomplot.h.
#include "ui_internal.h"
#include "waveform_summary.h"

#include <qcustomplot.h>

#include <cmath>
#include <limits>

namespace tarq_ui {

class GraphWidget : public QCustomPlot {
public:
    struct Plot {
        QCPGraph *graph = nullptr;
        bool waveform = false;
        WaveformSummary summary;
        double x0 = 0, dx = 1;
        int pointFrequency = 1;
        std::vector<double> xs, ys;   // x-y plots
        QCPRange lastRange;
        int lastWidth = -1;
        int color = 0;
        int lineStyle = VAL_SOLID;
    };
    struct Cursor {
        double x = 0, y = 0;
        int color = VAL_BLACK;
        int style = VAL_LONG_CROSS;
        int mode = VAL_FREE_FORM;
        int plot = 0;
        int index = -1;
        QCPItemStraightLine *v = nullptr, *h = nullptr;
    };

    explicit GraphWidget(QWidget *parent) : QCustomPlot(parent) {
        setNoAntialiasingOnDrag(true);
        setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
        xAxis->setRange(0, 10);
        yAxis->setRange(0, 10);
        connect(this, &QCustomPlot::beforeReplot, this, [this] { refreshWaveforms(); });
    }

    int panel = 0, ctrl = 0;
    std::map<int, Plot> plots;
    int nextPlot = 1;
    std::vector<Cursor> cursors;
    int active = 1;
    int dragging = 0;
    bool zoomX = false, zoomY = false;
    int xMode = VAL_MANUAL, yMode = VAL_MANUAL;
    std::vector<std::pair<double, QString>> labels[2];
    QCPRange pressX, pressY;

    QCPAxis *axis(int which) { return which == VAL_XAXIS ? xAxis : yAxis; }

    void setCursorCount(int n) {
        n = std::clamp(n, 0, 10);
        while (int(cursors.size()) > n) {
            removeItem(cursors.back().v);
            removeItem(cursors.back().h);
            cursors.pop_back();
        }
        while (int(cursors.size()) < n) {
            Cursor c;
            c.v = new QCPItemStraightLine(this);
            c.h = new QCPItemStraightLine(this);
            c.v->setSelectable(false);
            c.h->setSelectable(false);
            cursors.push_back(c);
            updateCursor(int(cursors.size()));
        }
    }

    void updateCursor(int k) {
        Cursor &c = cursors[k - 1];
        QPen pen(toColor(c.color));
        pen.setWidth(1);
        if (c.color & VAL_TRANSPARENT) pen = QPen(Qt::NoPen);
        c.v->setPen(pen);
        c.h->setPen(pen);
        c.v->point1->setCoords(c.x, 0);
        c.v->point2->setCoords(c.x, 1);
        c.h->point1->setCoords(0, c.y);
        c.h->point2->setCoords(1, c.y);
        c.v->setVisible(c.style != VAL_HORIZONTAL_LINE);
        c.h->setVisible(c.style != VAL_VERTICAL_LINE);
    }

    bool plotPoint(int plot, long long index, double *x, double *y) {
        auto it = plots.find(plot);
        if (it == plots.end() || index < 0) return false;
        Plot &p = it->second;
        if (p.waveform) {
            if (size_t(index) >= p.summary.size()) return false;
            *x = p.x0 + double(index) * p.dx;
            *y = p.summary.value(size_t(index));
        } else {
            if (size_t(index) >= p.xs.size()) return false;
            *x = p.xs[size_t(index)];
            *y = p.ys[size_t(index)];
        }
        return true;
    }

    long long nearestIndex(int plot, double x) {
        auto it = plots.find(plot);
        if (it == plots.end()) return -1;
        Plot &p = it->second;
        if (p.waveform) {
            if (p.summary.size() == 0) return -1;
            double i = std::round((x - p.x0) / p.dx);
            if (!(i >= 0)) i = 0;
            if (i > double(p.summary.size() - 1)) i = double(p.summary.size() - 1);
            return (long long)i;
        }
        long long best = -1;
        double bd = std::numeric_limits<double>::infinity();
        for (size_t i = 0; i < p.xs.size(); i++)
            if (std::fabs(p.xs[i] - x) < bd) bd = std::fabs(p.xs[i] - x), best = (long long)i;
        return best;
    }

    // Hands QCustomPlot about two points per pixel column of the visible range.
    void refreshWaveforms() {
        const int width = std::max(1, axisRect()->width() > 0 ? axisRect()->width() : this->width());
        const QCPRange r = xAxis->range();
        for (auto &[h, p] : plots) {
            if (!p.waveform) continue;
            if (p.lastWidth == width && p.lastRange == r) continue;
            p.lastWidth = width;
            p.lastRange = r;
            const size_t n = p.summary.size();
            QVector<QCPGraphData> data;
            if (n > 0 && p.dx > 0) {
                double a = std::floor((r.lower - p.x0) / p.dx) - 1;
                double b = std::ceil((r.upper - p.x0) / p.dx) + 1;
                a = std::max(0.0, a);
                b = std::min(double(n - 1), b);
                if (a <= b) {
                    const size_t i0 = size_t(a), i1 = size_t(b);
                    const size_t samples = i1 - i0 + 1;
                    const size_t step = size_t(std::max(1, p.pointFrequency));
                    if (samples / step <= size_t(2 * width)) {
                        data.reserve(int(samples / step + 1));
                        for (size_t i = i0; i <= i1; i += step)
                            data.append(QCPGraphData(p.x0 + double(i) * p.dx, p.summary.value(i)));
                    } else {
                        data.reserve(2 * width);
                        for (int col = 0; col < width; col++) {
                            size_t first = i0 + size_t((double(samples) * col) / width);
                            size_t last = i0 + size_t((double(samples) * (col + 1)) / width);
                            if (last <= first) continue;
                            double mn, mx;
                            if (!p.summary.minMax(first, last, &mn, &mx)) continue;
                            double key = p.x0 + double(first) * p.dx;
                            data.append(QCPGraphData(key, mn));
                            data.append(QCPGraphData(key, mx));
                        }
                    }
                }
            }
            p.graph->data()->set(data, true);
        }
    }

    void rescale() {
        bool any = false;
        double xl = 0, xu = 0, yl = 0, yu = 0;
        for (auto &[h, p] : plots) {
            double a, b, c, d;
            if (p.waveform) {
                if (p.summary.size() == 0 || !p.summary.minMax(0, p.summary.size(), &c, &d)) continue;
                a = p.x0;
                b = p.x0 + double(p.summary.size() - 1) * p.dx;
                if (a > b) std::swap(a, b);
            } else {
                bool found = false;
                QCPRange kr = p.graph->getKeyRange(found);
                if (!found) continue;
                QCPRange vr = p.graph->getValueRange(found);
                if (!found) continue;
                a = kr.lower, b = kr.upper, c = vr.lower, d = vr.upper;
            }
            if (!any) xl = a, xu = b, yl = c, yu = d, any = true;
            else xl = std::min(xl, a), xu = std::max(xu, b), yl = std::min(yl, c), yu = std::max(yu, d);
        }
        if (!any) return;
        if (xu <= xl) xu = xl + 1;
        if (yu <= yl) yl -= 0.5, yu += 0.5;
        if (xMode == VAL_AUTOSCALE) xAxis->setRange(xl, xu);
        if (yMode == VAL_AUTOSCALE) yAxis->setRange(yl, yu);
    }

    void applyLabels(int which) {
        QCPAxis *ax = axis(which);
        if (labels[which].empty()) {
            ax->setTicker(QSharedPointer<QCPAxisTicker>(new QCPAxisTicker));
            return;
        }
        QSharedPointer<QCPAxisTickerText> t(new QCPAxisTickerText);
        for (auto &[v, s] : labels[which]) t->addTick(v, s);
        ax->setTicker(t);
    }

    void applyZoom() {
        Qt::Orientations o;
        if (zoomX) o |= Qt::Horizontal;
        if (zoomY) o |= Qt::Vertical;
        axisRect()->setRangeZoom(o);
        axisRect()->setRangeDrag(o);
        setInteraction(QCP::iRangeZoom, zoomX || zoomY);
        setInteraction(QCP::iRangeDrag, zoomX || zoomY);
    }

    void fire(int event, int d1, int d2) { fireCtrl(panel, ctrl, event, d1, d2); }

    int cursorNear(const QPointF &pos) {
        for (int k = 1; k <= int(cursors.size()); k++) {
            Cursor &c = cursors[k - 1];
            if (c.mode == VAL_LOCKED || (c.color & VAL_TRANSPARENT)) continue;
            double px = xAxis->coordToPixel(c.x), py = yAxis->coordToPixel(c.y);
            bool nearV = c.style != VAL_HORIZONTAL_LINE && std::fabs(pos.x() - px) <= 5;
            bool nearH = c.style != VAL_VERTICAL_LINE && std::fabs(pos.y() - py) <= 5;
            if (nearV || nearH) return k;
        }
        return 0;
    }

    void dragTo(const QPointF &pos) {
        Cursor &c = cursors[dragging - 1];
        double x = xAxis->pixelToCoord(pos.x()), y = yAxis->pixelToCoord(pos.y());
        x = std::clamp(x, xAxis->range().lower, xAxis->range().upper);
        y = std::clamp(y, yAxis->range().lower, yAxis->range().upper);
        if (c.mode == VAL_SNAP_TO_POINT) {
            int plot = c.plot && plots.count(c.plot) ? c.plot : (plots.empty() ? 0 : plots.begin()->first);
            long long i = nearestIndex(plot, x);
            double px, py;
            if (plotPoint(plot, i, &px, &py)) {
                x = px, y = py;
                c.plot = plot;
                c.index = int(std::min<long long>(i, INT_MAX));
            }
        } else {
            c.index = -1;
        }
        c.x = x;
        c.y = y;
        updateCursor(dragging);
        replot(rpQueuedReplot);
    }

protected:
    void mousePressEvent(QMouseEvent *e) override {
        if (e->button() == Qt::LeftButton && !cursors.empty()) {
            int k = cursorNear(e->position());
            if (!k && axisRect()->rect().contains(e->position().toPoint())) {
                Cursor &a = cursors[std::clamp(active, 1, int(cursors.size())) - 1];
                if (a.mode != VAL_LOCKED && !(a.color & VAL_TRANSPARENT)) k = std::clamp(active, 1, int(cursors.size()));
            }
            if (k) {
                active = k;
                dragging = k;
                dragTo(e->position());
                fire(EVENT_VAL_CHANGED, k, 0);
                return;
            }
        }
        pressX = xAxis->range();
        pressY = yAxis->range();
        QCustomPlot::mousePressEvent(e);
    }
    void mouseMoveEvent(QMouseEvent *e) override {
        if (dragging) {
            dragTo(e->position());
            fire(EVENT_VAL_CHANGED, dragging, 0);
            return;
        }
        QCustomPlot::mouseMoveEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent *e) override {
        if (dragging && e->button() == Qt::LeftButton) {
            int k = dragging;
            dragging = 0;
            fire(EVENT_COMMIT, k, 0);
            return;
        }
        QCustomPlot::mouseReleaseEvent(e);
        if ((zoomX || zoomY) && (xAxis->range() != pressX || yAxis->range() != pressY)) {
            xMode = yMode = VAL_MANUAL;
            fire(EVENT_ZOOM, 0, 0);
        }
    }
    void wheelEvent(QWheelEvent *e) override {
        QCPRange x = xAxis->range(), y = yAxis->range();
        QCustomPlot::wheelEvent(e);
        if (xAxis->range() != x || yAxis->range() != y) {
            xMode = yMode = VAL_MANUAL;
            fire(EVENT_ZOOM, 0, 0);
        }
    }
};

QWidget *createGraph(QWidget *parent) {
    auto *g = new GraphWidget(parent);
    return g;
}

GraphWidget *asGraph(QWidget *w) { return dynamic_cast<GraphWidget *>(w); }

void graphBind(GraphWidget *g, int panel, int control) {
    if (!g) return;
    g->panel = panel;
    g->ctrl = control;
}

int graphSetAttribute(GraphWidget *g, int attribute, int value) {
    if (!g) return UI_ERR_BAD_CONTROL;
    switch (attribute) {
    case ATTR_NUM_CURSORS:
        if (value < 0 || value > 10) return UI_ERR_BAD_VALUE;
        g->setCursorCount(value);
        g->replot(QCustomPlot::rpQueuedReplot);
        return UI_OK;
    case ATTR_ZOOM_X: g->zoomX = value != 0; g->applyZoom(); return UI_OK;
    case ATTR_ZOOM_Y: g->zoomY = value != 0; g->applyZoom(); return UI_OK;
    case ATTR_PLOT_BGCOLOR: g->axisRect()->setBackground(QBrush(toColor(value))); g->replot(QCustomPlot::rpQueuedReplot); return UI_OK;
    case ATTR_GRID_COLOR:
        g->xAxis->grid()->setPen(QPen(toColor(value), 0, Qt::DotLine));
        g->yAxis->grid()->setPen(QPen(toColor(value), 0, Qt::DotLine));
        g->replot(QCustomPlot::rpQueuedReplot);
        return UI_OK;
    case ATTR_WIDTH:   // geometry changed
        g->replot(QCustomPlot::rpQueuedReplot);
        return UI_OK;
    default:
        return UI_ERR_BAD_ATTRIBUTE;
    }
}

int graphSetAttribute(GraphWidget *g, int attribute, const QString &value) {
    if (!g) return UI_ERR_BAD_CONTROL;
    if (attribute == ATTR_XNAME) g->xAxis->setLabel(value);
    else if (attribute == ATTR_YNAME) g->yAxis->setLabel(value);
    else return UI_ERR_BAD_ATTRIBUTE;
    g->replot(QCustomPlot::rpQueuedReplot);
    return UI_OK;
}

int graphGetAttribute(GraphWidget *g, int attribute, int *value) {
    if (!g) return UI_ERR_BAD_CONTROL;
    switch (attribute) {
    case ATTR_NUM_CURSORS: *value = int(g->cursors.size()); return UI_OK;
    case ATTR_ZOOM_X: *value = g->zoomX; return UI_OK;
    case ATTR_ZOOM_Y: *value = g->zoomY; return UI_OK;
    default: return UI_ERR_BAD_ATTRIBUTE;
    }
}

int graphGetAttribute(GraphWidget *g, int attribute, QString *value) {
    if (!g) return UI_ERR_BAD_CONTROL;
    if (attribute == ATTR_XNAME) *value = g->xAxis->label();
    else if (attribute == ATTR_YNAME) *value = g->yAxis->label();
    else return UI_ERR_BAD_ATTRIBUTE;
    return UI_OK;
}

namespace {

void stylePlot(QCPGraph *graph, int plotStyle, int pointStyle, int lineStyle, int color) {
    QPen pen(toColor(color));
    pen.setWidth(plotStyle == VAL_FAT_LINE ? 2 : 1);
    pen.setStyle(lineStyle == VAL_DASH ? Qt::DashLine : lineStyle == VAL_DOT ? Qt::DotLine : Qt::SolidLine);
    graph->setPen(pen);
    graph->setAdaptiveSampling(false);
    if (plotStyle == VAL_SCATTER) graph->setLineStyle(QCPGraph::lsNone);
    if (plotStyle == VAL_SCATTER || plotStyle == VAL_CONNECTED_POINTS)
        graph->setScatterStyle(QCPScatterStyle(pointStyle == VAL_SOLID_CIRCLE ? QCPScatterStyle::ssDisc
                                               : pointStyle == VAL_NO_POINT ? QCPScatterStyle::ssNone
                                                                            : QCPScatterStyle::ssSquare, 5));
}

bool readValues(const void *in, size_t n, int type, std::vector<double> *out) {
    out->resize(n);
    for (size_t i = 0; i < n; i++) {
        switch (type) {
        case VAL_DOUBLE: (*out)[i] = static_cast<const double *>(in)[i]; break;
        case VAL_FLOAT: (*out)[i] = static_cast<const float *>(in)[i]; break;
        case VAL_INTEGER: (*out)[i] = static_cast<const int32_t *>(in)[i]; break;
        case VAL_SHORT_INTEGER: (*out)[i] = static_cast<const int16_t *>(in)[i]; break;
        case VAL_UNSIGNED_INTEGER: (*out)[i] = static_cast<const uint32_t *>(in)[i]; break;
        default: return false;
        }
    }
    return true;
}

template <class F>
int withGraph(int panel, int control, F &&f) {
    return onGui([&]() -> int {
        if (!findPanel(panel)) return UI_ERR_BAD_PANEL;
        Control *c = findControl(panel, control);
        if (!c || !c->widget) return UI_ERR_BAD_CONTROL;
        GraphWidget *g = asGraph(c->widget);
        if (!g) return UI_ERR_BAD_CONTROL;
        return f(*g);
    });
}

bool validType(int t) {
    return t == VAL_DOUBLE || t == VAL_FLOAT || t == VAL_INTEGER || t == VAL_SHORT_INTEGER ||
           t == VAL_UNSIGNED_INTEGER;
}

}  // namespace

int graphPlotXY(GraphWidget *g, const void *x, const void *y, size_t count, int xType, int yType,
                int plotStyle, int pointStyle, int lineStyle, int color) {
    if (!validType(xType) || !validType(yType) || (count && (!x || !y))) return UI_ERR_BAD_VALUE;
    GraphWidget::Plot p;
    try {
        if (!readValues(x, count, xType, &p.xs) || !readValues(y, count, yType, &p.ys)) return UI_ERR_BAD_VALUE;
    } catch (const std::bad_alloc &) {
        return UI_ERR_NO_MEMORY;
    }
    p.graph = g->addGraph();
    stylePlot(p.graph, plotStyle, pointStyle, lineStyle, color);
    QVector<double> kx(p.xs.begin(), p.xs.end()), vy(p.ys.begin(), p.ys.end());
    p.graph->setData(kx, vy);
    p.color = color;
    int h = g->nextPlot++;
    g->plots[h] = std::move(p);
    g->rescale();
    g->replot(QCustomPlot::rpQueuedReplot);
    return h;
}

}  // namespace tarq_ui

using namespace tarq_ui;

int PlotWaveform(int panel, int control, const void *y, size_t count, int dataType, double gain,
                 double offset, double initialX, double xIncrement, int plotStyle, int pointStyle,
                 int lineStyle, int pointFrequency, int color) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        if (!validType(dataType) || (count && !y)) return UI_ERR_BAD_VALUE;
        if (!std::isfinite(gain) || !std::isfinite(offset) || !std::isfinite(initialX) ||
            !std::isfinite(xIncrement) || xIncrement <= 0)
            return UI_ERR_BAD_VALUE;
        auto it = g.plots.emplace(g.nextPlot, GraphWidget::Plot{}).first;
        GraphWidget::Plot &p = it->second;
        if (!p.summary.assign(y, count, dataType, gain, offset)) {
            g.plots.erase(it);
            return UI_ERR_NO_MEMORY;
        }
        p.waveform = true;
        p.x0 = initialX;
        p.dx = xIncrement;
        p.pointFrequency = std::max(1, pointFrequency);
        p.color = color;
        p.graph = g.addGraph();
        stylePlot(p.graph, plotStyle, pointStyle, lineStyle, color);
        g.rescale();
        g.replot(QCustomPlot::rpQueuedReplot);
        return g.nextPlot++;
    });
}

int PlotXY(int panel, int control, const void *x, const void *y, size_t count, int xType,
           int yType, int plotStyle, int pointStyle, int lineStyle, int pointFrequency, int color) {
    (void)pointFrequency;
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        return graphPlotXY(&g, x, y, count, xType, yType, plotStyle, pointStyle, lineStyle, color);
    });
}

int DeleteGraphPlot(int panel, int control, int plot, int refresh) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        std::vector<int> victims;
        if (plot == VAL_ALL_PLOTS) {
            for (auto &[h, p] : g.plots) victims.push_back(h);
        } else {
            if (!g.plots.count(plot)) return UI_ERR_BAD_PLOT;
            victims.push_back(plot);
        }
        for (int h : victims) {
            g.removeGraph(g.plots[h].graph);
            g.plots.erase(h);
            for (auto &c : g.cursors)
                if (c.plot == h) c.plot = 0, c.index = -1;
        }
        if (refresh == VAL_IMMEDIATE_DRAW) g.replot(QCustomPlot::rpImmediateRefresh);
        else if (refresh == VAL_DELAYED_DRAW) g.replot(QCustomPlot::rpQueuedReplot);
        return UI_OK;
    });
}

int RefreshGraph(int panel, int control) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        g.replot(QCustomPlot::rpImmediateRefresh);
        return UI_OK;
    });
}

int SetPlotAttribute(int panel, int control, int plot, int attribute, int value) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        auto it = g.plots.find(plot);
        if (it == g.plots.end()) return UI_ERR_BAD_PLOT;
        QPen pen = it->second.graph->pen();
        if (attribute == ATTR_TRACE_COLOR) pen.setColor(toColor(value)), it->second.color = value;
        else if (attribute == ATTR_PLOT_THICKNESS) pen.setWidth(std::max(1, value));
        else if (attribute == ATTR_LINE_STYLE) {
            pen.setStyle(value == VAL_DASH ? Qt::DashLine : value == VAL_DOT ? Qt::DotLine : Qt::SolidLine);
            it->second.lineStyle = value;
        } else return UI_ERR_BAD_ATTRIBUTE;
        it->second.graph->setPen(pen);
        g.replot(QCustomPlot::rpQueuedReplot);
        return UI_OK;
    });
}

int GetPlotAttribute(int panel, int control, int plot, int attribute, int *value) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        auto it = g.plots.find(plot);
        if (it == g.plots.end()) return UI_ERR_BAD_PLOT;
        if (!value) return UI_ERR_BAD_VALUE;
        if (attribute == ATTR_TRACE_COLOR) *value = it->second.color;
        else if (attribute == ATTR_PLOT_THICKNESS) *value = it->second.graph->pen().width();
        else if (attribute == ATTR_LINE_STYLE) *value = it->second.lineStyle;
        else if (attribute == ATTR_NUM_POINTS) {
            size_t n = it->second.waveform ? it->second.summary.size() : it->second.xs.size();
            *value = int(std::min<size_t>(n, INT_MAX));
        } else return UI_ERR_BAD_ATTRIBUTE;
        return UI_OK;
    });
}

int SetAxisRange(int panel, int control, int xMode, double xMin, double xMax, int yMode,
                 double yMin, double yMax) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        for (int m : {xMode, yMode})
            if (m < VAL_MANUAL || m > VAL_NO_CHANGE) return UI_ERR_BAD_VALUE;
        if (xMode == VAL_MANUAL && !(std::isfinite(xMin) && std::isfinite(xMax) && xMin < xMax)) return UI_ERR_BAD_VALUE;
        if (yMode == VAL_MANUAL && !(std::isfinite(yMin) && std::isfinite(yMax) && yMin < yMax)) return UI_ERR_BAD_VALUE;
        if (xMode != VAL_NO_CHANGE) g.xMode = xMode;
        if (yMode != VAL_NO_CHANGE) g.yMode = yMode;
        if (xMode == VAL_MANUAL) g.xAxis->setRange(xMin, xMax);
        if (yMode == VAL_MANUAL) g.yAxis->setRange(yMin, yMax);
        g.rescale();
        g.replot(QCustomPlot::rpQueuedReplot);
        return UI_OK;
    });
}

int GetAxisRange(int panel, int control, int *xMode, double *xMin, double *xMax, int *yMode,
                 double *yMin, double *yMax) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        if (xMode) *xMode = g.xMode;
        if (xMin) *xMin = g.xAxis->range().lower;
        if (xMax) *xMax = g.xAxis->range().upper;
        if (yMode) *yMode = g.yMode;
        if (yMin) *yMin = g.yAxis->range().lower;
        if (yMax) *yMax = g.yAxis->range().upper;
        return UI_OK;
    });
}

int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max) {
    if (axis == VAL_XAXIS) return SetAxisRange(panel, control, mode, min, max, VAL_NO_CHANGE, 0, 0);
    if (axis == VAL_LEFT_YAXIS) return SetAxisRange(panel, control, VAL_NO_CHANGE, 0, 0, mode, min, max);
    return UI_ERR_BAD_VALUE;
}

int GetAxisScalingMode(int panel, int control, int axis, int *mode, double *min, double *max) {
    if (axis == VAL_XAXIS) return GetAxisRange(panel, control, mode, min, max, nullptr, nullptr, nullptr);
    if (axis == VAL_LEFT_YAXIS) return GetAxisRange(panel, control, nullptr, nullptr, nullptr, mode, min, max);
    return UI_ERR_BAD_VALUE;
}

int InsertAxisItem(int panel, int control, int axis, int index, const char *label, double value) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        if (axis != VAL_XAXIS && axis != VAL_LEFT_YAXIS) return UI_ERR_BAD_VALUE;
        auto &l = g.labels[axis];
        if (index < -1 || index > int(l.size())) return UI_ERR_BAD_INDEX;
        l.insert(index < 0 ? l.end() : l.begin() + index, {value, fromUtf8(label)});
        g.applyLabels(axis);
        g.replot(QCustomPlot::rpQueuedReplot);
        return UI_OK;
    });
}

int ReplaceAxisItem(int panel, int control, int axis, int index, const char *label, double value) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        if (axis != VAL_XAXIS && axis != VAL_LEFT_YAXIS) return UI_ERR_BAD_VALUE;
        auto &l = g.labels[axis];
        if (index < 0 || index >= int(l.size())) return UI_ERR_BAD_INDEX;
        l[index] = {value, fromUtf8(label)};
        g.applyLabels(axis);
        g.replot(QCustomPlot::rpQueuedReplot);
        return UI_OK;
    });
}

int DeleteAxisItem(int panel, int control, int axis, int index, int count) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        if (axis != VAL_XAXIS && axis != VAL_LEFT_YAXIS) return UI_ERR_BAD_VALUE;
        auto &l = g.labels[axis];
        if (index < 0 || index >= int(l.size())) return UI_ERR_BAD_INDEX;
        size_t last = count < 0 ? l.size() : std::min(l.size(), size_t(index) + size_t(count));
        l.erase(l.begin() + index, l.begin() + long(last));
        g.applyLabels(axis);
        g.replot(QCustomPlot::rpQueuedReplot);
        return UI_OK;
    });
}

int GetNumAxisItems(int panel, int control, int axis, int *count) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        if (axis != VAL_XAXIS && axis != VAL_LEFT_YAXIS) return UI_ERR_BAD_VALUE;
        if (!count) return UI_ERR_BAD_VALUE;
        *count = int(g.labels[axis].size());
        return UI_OK;
    });
}

namespace {
template <class F>
int withCursor(int panel, int control, int cursor, F &&f) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        if (cursor < 1 || cursor > int(g.cursors.size())) return UI_ERR_BAD_INDEX;
        return f(g, g.cursors[cursor - 1]);
    });
}
}  // namespace

int SetCursorAttribute(int panel, int control, int cursor, int attribute, int value) {
    return withCursor(panel, control, cursor, [&](GraphWidget &g, GraphWidget::Cursor &c) -> int {
        switch (attribute) {
        case ATTR_CURSOR_COLOR:
            if (value < 0 || (value > 0xFFFFFF && value != VAL_TRANSPARENT)) return UI_ERR_BAD_VALUE;
            c.color = value;
            break;
        case ATTR_CROSS_HAIR_STYLE:
            if (value < VAL_LONG_CROSS || value > VAL_SHORT_CROSS) return UI_ERR_BAD_VALUE;
            c.style = value;
            break;
        case ATTR_CURSOR_MODE:
            if (value < VAL_FREE_FORM || value > VAL_LOCKED) return UI_ERR_BAD_VALUE;
            c.mode = value;
            if (g.dragging == cursor && value == VAL_LOCKED) g.dragging = 0;
            break;
        default:
            return UI_ERR_BAD_ATTRIBUTE;
        }
        g.updateCursor(cursor);
        g.replot(QCustomPlot::rpQueuedReplot);
        return UI_OK;
    });
}

int GetCursorAttribute(int panel, int control, int cursor, int attribute, int *value) {
    return withCursor(panel, control, cursor, [&](GraphWidget &, GraphWidget::Cursor &c) -> int {
        if (!value) return UI_ERR_BAD_VALUE;
        if (attribute == ATTR_CURSOR_COLOR) *value = c.color;
        else if (attribute == ATTR_CROSS_HAIR_STYLE) *value = c.style;
        else if (attribute == ATTR_CURSOR_MODE) *value = c.mode;
        else return UI_ERR_BAD_ATTRIBUTE;
        return UI_OK;
    });
}

int SetGraphCursor(int panel, int control, int cursor, double x, double y) {
    return withCursor(panel, control, cursor, [&](GraphWidget &g, GraphWidget::Cursor &c) -> int {
        if (!std::isfinite(x) || !std::isfinite(y)) return UI_ERR_BAD_VALUE;
        c.x = x;
        c.y = y;
        c.index = -1;
        g.updateCursor(cursor);
        g.replot(QCustomPlot::rpQueuedReplot);
        return UI_OK;
    });
}

int GetGraphCursor(int panel, int control, int cursor, double *x, double *y) {
    return withCursor(panel, control, cursor, [&](GraphWidget &, GraphWidget::Cursor &c) -> int {
        if (x) *x = c.x;
        if (y) *y = c.y;
        return UI_OK;
    });
}

int SetGraphCursorIndex(int panel, int control, int cursor, int plot, int index) {
    return withCursor(panel, control, cursor, [&](GraphWidget &g, GraphWidget::Cursor &c) -> int {
        if (!g.plots.count(plot)) return UI_ERR_BAD_PLOT;
        double x, y;
        if (!g.plotPoint(plot, index, &x, &y)) return UI_ERR_BAD_INDEX;
        c.x = x;
        c.y = y;
        c.plot = plot;
        c.index = index;
        g.updateCursor(cursor);
        g.replot(QCustomPlot::rpQueuedReplot);
        return UI_OK;
    });
}

int GetGraphCursorIndex(int panel, int control, int cursor, int *plot, int *index) {
    return withCursor(panel, control, cursor, [&](GraphWidget &, GraphWidget::Cursor &c) -> int {
        if (plot) *plot = c.index >= 0 ? c.plot : 0;
        if (index) *index = c.index;
        return UI_OK;
    });
}

int SetActiveGraphCursor(int panel, int control, int cursor) {
    return withCursor(panel, control, cursor, [&](GraphWidget &g, GraphWidget::Cursor &) -> int {
        g.active = cursor;
        return UI_OK;
    });
}

int GetActiveGraphCursor(int panel, int control, int *cursor) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        if (!cursor) return UI_ERR_BAD_VALUE;
        if (g.cursors.empty()) return UI_ERR_BAD_INDEX;
        *cursor = std::clamp(g.active, 1, int(g.cursors.size()));
        return UI_OK;
    });
}

int GetGraphCoordsFromPoint(int panel, int control, Point pixel, double *x, double *y) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        Panel *p = findPanel(panel);
        QPoint local = g.mapFrom(p->widget, QPoint(pixel.x, pixel.y));
        if (x) *x = g.xAxis->pixelToCoord(local.x());
        if (y) *y = g.yAxis->pixelToCoord(local.y());
        return UI_OK;
    });
}

int GetGraphPointFromCoords(int panel, int control, double x, double y, Point *pixel) {
    return withGraph(panel, control, [&](GraphWidget &g) -> int {
        if (!pixel) return UI_ERR_BAD_VALUE;
        Panel *p = findPanel(panel);
        QPoint local(int(std::lround(g.xAxis->coordToPixel(x))), int(std::lround(g.yAxis->coordToPixel(y))));
        QPoint pp = g.mapTo(p->widget, local);
        *pixel = Point{pp.x(), pp.y()};
        return UI_OK;
    });
}

int GetRelativeMouseState(int panel, int control, int *x, int *y, int *leftDown, int *rightDown,
                          int *keyModifiers) {
    return onGui([&]() -> int {
        Panel *p = findPanel(panel);
        if (!p || !p->widget) return UI_ERR_BAD_PANEL;
        if (control && !findControl(panel, control)) return UI_ERR_BAD_CONTROL;
        QPoint pos = p->widget->mapFromGlobal(QCursor::pos());
        int l, r, m;
        currentMouseState(&l, &r, &m);
        if (x) *x = pos.x();
        if (y) *y = pos.y();
        if (leftDown) *leftDown = l;
        if (rightDown) *rightDown = r;
        if (keyModifiers) *keyModifiers = m;
        return UI_OK;
    });
}
