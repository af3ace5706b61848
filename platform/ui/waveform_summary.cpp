#include "waveform_summary.h"

#include "tarq_ui.h"

#include <cmath>
#include <limits>
#include <new>

namespace tarq_ui {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// One pass: convert, store and take the min/max of every block. Four independent lanes keep
// the comparisons from waiting on each other.
template <class T>
void copyBlocks(const T *in, double *out, size_t count, double gain, double offset, bool scale,
                std::vector<WaveformSummary::Pair> *pairs) {
    const size_t blocks = (count + WaveformSummary::kBlock - 1) / WaveformSummary::kBlock;
    pairs->resize(blocks);
    for (size_t b = 0; b < blocks; b++) {
        const size_t first = b * WaveformSummary::kBlock;
        const size_t last = std::min(count, first + WaveformSummary::kBlock);
        double mn[4] = {kInf, kInf, kInf, kInf};
        double mx[4] = {-kInf, -kInf, -kInf, -kInf};
        size_t i = first;
        for (; i + 4 <= last; i += 4) {
            for (int k = 0; k < 4; k++) {
                double v = scale ? double(in[i + k]) * gain + offset : double(in[i + k]);
                out[i + k] = v;
                mn[k] = v < mn[k] ? v : mn[k];
                mx[k] = v > mx[k] ? v : mx[k];
            }
        }
        for (; i < last; i++) {
            double v = scale ? double(in[i]) * gain + offset : double(in[i]);
            out[i] = v;
            mn[0] = v < mn[0] ? v : mn[0];
            mx[0] = v > mx[0] ? v : mx[0];
        }
        (*pairs)[b] = {std::min(std::min(mn[0], mn[1]), std::min(mn[2], mn[3])),
                       std::max(std::max(mx[0], mx[1]), std::max(mx[2], mx[3]))};
    }
}

}  // namespace

bool WaveformSummary::assign(const void *values, size_t count, int dataType, double gain,
                             double offset) {
    values_.reset();
    levels_.clear();
    count_ = 0;
    if (count == 0) return true;
    if (!values) return false;
    std::unique_ptr<double[]> store(new (std::nothrow) double[count]);
    if (!store) return false;
    const bool scale = !(gain == 1.0 && offset == 0.0);
    try {
        levels_.emplace_back();
        std::vector<Pair> *pairs = &levels_[0];
        switch (dataType) {
        case VAL_DOUBLE: copyBlocks(static_cast<const double *>(values), store.get(), count, gain, offset, scale, pairs); break;
        case VAL_FLOAT: copyBlocks(static_cast<const float *>(values), store.get(), count, gain, offset, scale, pairs); break;
        case VAL_INTEGER: copyBlocks(static_cast<const int32_t *>(values), store.get(), count, gain, offset, scale, pairs); break;
        case VAL_SHORT_INTEGER: copyBlocks(static_cast<const int16_t *>(values), store.get(), count, gain, offset, scale, pairs); break;
        case VAL_UNSIGNED_INTEGER: copyBlocks(static_cast<const uint32_t *>(values), store.get(), count, gain, offset, scale, pairs); break;
        default: levels_.clear(); return false;
        }
        values_ = std::move(store);
        count_ = count;
        build();
    } catch (const std::bad_alloc &) {
        values_.reset();
        levels_.clear();
        count_ = 0;
        return false;
    }
    return true;
}

void WaveformSummary::build() {
    while (levels_.back().size() > 1) {
        const std::vector<Pair> &below = levels_.back();
        std::vector<Pair> up((below.size() + kFanout - 1) / kFanout);
        for (size_t i = 0; i < up.size(); i++) {
            Pair p{kInf, -kInf};
            const size_t last = std::min(below.size(), (i + 1) * kFanout);
            for (size_t j = i * kFanout; j < last; j++) {
                p.min = below[j].min < p.min ? below[j].min : p.min;
                p.max = below[j].max > p.max ? below[j].max : p.max;
            }
            up[i] = p;
        }
        levels_.push_back(std::move(up));
    }
}

// Level L covers kBlock * kFanout^L values per pair; [first, last) are value indices.
void WaveformSummary::scan(size_t level, size_t first, size_t last, double &mn, double &mx) const {
    size_t span = kBlock;
    for (size_t l = 0; l < level; l++) span *= kFanout;
    const size_t a = (first + span - 1) / span;   // first whole pair
    const size_t b = last / span;                 // end of whole pairs
    if (a >= b) {
        // No whole pair at this level: go one level down (or scan values).
        if (level == 0) {
            for (size_t i = first; i < last; i++) {
                double v = values_[i];
                mn = v < mn ? v : mn;
                mx = v > mx ? v : mx;
            }
        } else {
            scan(level - 1, first, last, mn, mx);
        }
        return;
    }
    for (size_t i = a; i < b; i++) {
        mn = levels_[level][i].min < mn ? levels_[level][i].min : mn;
        mx = levels_[level][i].max > mx ? levels_[level][i].max : mx;
    }
    if (first < a * span) {
        if (level == 0) {
            for (size_t i = first; i < a * span; i++) {
                double v = values_[i];
                mn = v < mn ? v : mn;
                mx = v > mx ? v : mx;
            }
        } else {
            scan(level - 1, first, a * span, mn, mx);
        }
    }
    if (b * span < last) {
        if (level == 0) {
            for (size_t i = b * span; i < last; i++) {
                double v = values_[i];
                mn = v < mn ? v : mn;
                mx = v > mx ? v : mx;
            }
        } else scan(level - 1, b * span, last, mn, mx);
    }
}

bool WaveformSummary::minMax(size_t first, size_t last, double *min, double *max) const {
    last = std::min(last, count_);
    if (first >= last) return false;
    double mn = kInf, mx = -kInf;
    // Start at the highest level whose pairs are not wider than the range.
    size_t level = 0, span = kBlock;
    while (level + 1 < levels_.size() && span * kFanout <= last - first) {
        span *= kFanout;
        level++;
    }
    scan(level, first, last, mn, mx);
    if (mn > mx) return false;
    *min = mn;
    *max = mx;
    return true;
}

size_t WaveformSummary::bytes() const {
    size_t b = count_ * sizeof(double);
    for (const auto &l : levels_) b += l.capacity() * sizeof(Pair);
    return b;
}

}  // namespace tarq_ui
