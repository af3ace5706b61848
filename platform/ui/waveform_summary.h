// Values of a waveform plot kept once, with a min/max pyramid beside them, so that a graph can
// draw any span of a very long record from about two points per pixel column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tarq_ui {

class WaveformSummary {
public:
    static constexpr size_t kBlock = 32;   // values per min/max pair of the first level
    static constexpr size_t kFanout = 8;   // pairs of one level per pair of the next

    // Copies count values (converted to double, times gain plus offset) and builds the pyramid.
    // dataType is one of VAL_DOUBLE, VAL_FLOAT, VAL_INTEGER, VAL_SHORT_INTEGER,
    // VAL_UNSIGNED_INTEGER. Returns false when the memory cannot be had or the type is unknown.
    bool assign(const void *values, size_t count, int dataType, double gain, double offset);

    size_t size() const { return count_; }
    double value(size_t i) const { return values_[i]; }
    const double *data() const { return values_.get(); }

    // Minimum and maximum over [first, last), NaN values ignored; false when none is a number.
    bool minMax(size_t first, size_t last, double *min, double *max) const;

    // Bytes held in all, for the memory budget.
    size_t bytes() const;

    struct Pair {
        double min, max;
    };

private:
    void build();
    void scan(size_t level, size_t first, size_t last, double &mn, double &mx) const;

    std::unique_ptr<double[]> values_;
    size_t count_ = 0;
    std::vector<std::vector<Pair>> levels_;   // levels_[0]: one pair per kBlock values
};

}  // namespace tarq_ui
