#include "traceaverager.h"

#include <climits>
#include <cmath>
#include <limits>

#include "ivtrace.h"

namespace {

// Outlier rejection only starts once a scan holds this many traces.
constexpr int kRejectionMinimum = 10;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

TraceAverager::Stats TraceAverager::statsOf(const ivTrace& trace) {
    const auto current = trace.currentRange(true);
    const auto energy = trace.energyRange();
    return {current.first, current.second, energy.first, energy.second};
}

std::array<double, TraceAverager::kStats> TraceAverager::thresholds() const {
    std::array<double, kStats> result;
    const int n = static_cast<int>(stats.size());
    for (int s = 0; s < kStats; ++s) {
        const double mean = statSums[s] / n;
        const double limit = std::fabs(mean) + std::fabs(0.3 * mean);
        // A NaN limit compares false with everything: nothing deviates.
        result[s] = (n < kRejectionMinimum || std::isnan(limit)) ? kInfinity : limit;
    }
    return result;
}

int TraceAverager::exceeded(const Stats& s, const std::array<double, kStats>& l) const {
    int count = 0;
    for (int k = 0; k < kStats; ++k) {
        count += std::fabs(s[k]) > l[k] ? 1 : 0;
    }
    return count;
}

bool TraceAverager::used(int index) const {
    return shapeMatches[index] && exceedCount[index] == 0;
}

void TraceAverager::addRows(const ivTrace& trace) {
    const int n = shapePoints;
    for (int r = 0; r < shapeRows; ++r) {
        const double* row = trace.currents[r].constData();
        double* sum = rowSums.data() + static_cast<long>(r) * n;
        for (int j = 0; j < n; ++j) {
            sum[j] += row[j];
        }
    }
    ++usedCount;
}

void TraceAverager::resum(const QList<ivTrace*>& traces) {
    rowSums.assign(static_cast<size_t>(shapeRows) * shapePoints, 0.0);
    usedCount = 0;
    for (int i = 0; i < traces.size(); ++i) {
        if (used(i)) {
            addRows(*traces[i]);
        }
    }
}

void TraceAverager::reset(int points, int rows) {
    stats.clear();
    exceedCount.clear();
    shapeMatches.clear();
    statSums.fill(0.0);
    for (auto& set : sorted) {
        set.clear();
    }
    shapePoints = points;
    shapeRows = rows;
    rowSums.assign(static_cast<size_t>(shapeRows) * shapePoints, 0.0);
    usedCount = 0;
}

void TraceAverager::pushStats(const ivTrace& trace) {
    stats.push_back(statsOf(trace));
    shapeMatches.push_back(int(trace.nPoints) == shapePoints && int(trace.nRows) == shapeRows);
    exceedCount.push_back(0);
    for (int k = 0; k < kStats; ++k) {
        statSums[k] += stats.back()[k];
    }
}

void TraceAverager::insertSorted(int index) {
    for (int k = 0; k < kStats; ++k) {
        const double value = stats[index][k];
        if (!std::isnan(value)) {
            sorted[k].emplace(std::fabs(value), index);
        }
    }
}

void TraceAverager::rebuild(ivTrace& average, const QList<ivTrace*>& traces) {
    const int n = traces.size();
    deferred = false;
    reset(n > 0 ? static_cast<int>(traces[0]->nPoints) : 0,
          n > 0 ? static_cast<int>(traces[0]->nRows) : 0);
    for (int i = 0; i < n; ++i) {
        pushStats(*traces[i]);
        insertSorted(i);
    }
    limits = thresholds();
    for (int i = 0; i < n; ++i) {
        exceedCount[i] = exceeded(stats[i], limits);
    }
    resum(traces);
    valid = true;
    finish(average, traces);
}

void TraceAverager::accumulate(const QList<ivTrace*>& traces) {
    const int index = traces.size() - 1;
    if (index == 0) {
        reset(static_cast<int>(traces[0]->nPoints), static_cast<int>(traces[0]->nRows));
        deferred = true;
    }
    valid = false;
    if (!deferred || index != static_cast<int>(stats.size())) {
        deferred = false;  // update() recomputes everything
        return;
    }
    const ivTrace& t = *traces[index];
    pushStats(t);
    // Summed as if used; update() sums again only when some trace turns out unused.
    if (shapeMatches.back()) {
        addRows(t);
    }
}

void TraceAverager::append(ivTrace& average, const QList<ivTrace*>& traces, bool update) {
    if (!update) {
        accumulate(traces);
        return;
    }
    const int index = traces.size() - 1;
    if (!valid || index != static_cast<int>(stats.size()) || index == 0) {
        rebuild(average, traces);
        return;
    }
    const ivTrace& t = *traces[index];
    pushStats(t);
    const auto next = thresholds();
    bool changed = false;
    // Only traces whose statistic lies between the old and the new limit change side.
    for (int k = 0; k < kStats; ++k) {
        if (next[k] == limits[k]) {
            continue;
        }
        const bool tighter = next[k] < limits[k];
        const double low = tighter ? next[k] : limits[k];
        const double high = tighter ? limits[k] : next[k];
        for (auto from = sorted[k].upper_bound({low, INT_MAX});
             from != sorted[k].end() && from->first <= high; ++from) {
            const int i = from->second;
            const bool wasUsed = used(i);
            exceedCount[i] += tighter ? 1 : -1;
            changed = changed || wasUsed != used(i);
        }
    }
    limits = next;
    insertSorted(index);
    exceedCount[index] = exceeded(stats[index], limits);
    if (changed) {
        resum(traces);
    } else if (used(index)) {
        addRows(t);
    }
    if (update) {
        finish(average, traces);
    }
}

void TraceAverager::update(ivTrace& average, const QList<ivTrace*>& traces) {
    if (deferred && traces.size() == static_cast<int>(stats.size())) {
        limits = thresholds();
        bool allUsed = true;
        for (size_t i = 0; i < stats.size(); ++i) {
            exceedCount[i] = exceeded(stats[i], limits);
            allUsed = allUsed && used(static_cast<int>(i));
        }
        if (!allUsed) {
            resum(traces);
        }
        // The sorted sets were not kept: a later append starts from scratch.
        deferred = false;
        finish(average, traces);
        return;
    }
    if (!valid || traces.size() != static_cast<int>(stats.size())) {
        rebuild(average, traces);
        return;
    }
    finish(average, traces);
}

void TraceAverager::finish(ivTrace& average, const QList<ivTrace*>& traces) {
    if (traces.isEmpty()) {
        average.reshape(static_cast<int>(average.nPoints), static_cast<int>(average.nRows));
        return;
    }
    average.alternateRows = traces[0]->alternateRows;
    average.reshape(shapePoints, shapeRows);
    const int n = shapePoints;
    for (int r = 0; r < shapeRows; ++r) {
        const double* sum = rowSums.data() + static_cast<long>(r) * n;
        double* row = average.currents[r].data();
        for (int j = 0; j < n; ++j) {
            row[j] = sum[j] / usedCount;
        }
    }
    average.rebuildCurves();
}
