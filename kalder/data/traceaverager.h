// Keeps the average of a scan's traces up to date as traces arrive.
//
// The average is the point-by-point mean of the used traces, where from ten traces on a trace
// is left out when one of its four statistics (smallest and largest cropped current, smallest
// and largest energy) exceeds the mean of that statistic over all traces by more than 30 %.
// Appending a trace costs a constant amount of work unless the set of left-out traces changes:
// the statistics are kept sorted, so a moving threshold only visits the traces it crosses, and
// the row sums of the used traces are kept in list order, which gives exactly the sums a full
// recomputation produces.
#ifndef KALDER_DATA_TRACEAVERAGER_H
#define KALDER_DATA_TRACEAVERAGER_H

#include <QList>
#include <array>
#include <set>
#include <utility>
#include <vector>

class ivTrace;

class TraceAverager {
public:
    // Makes `average` the mean of `traces`, recomputing everything.
    void rebuild(ivTrace& average, const QList<ivTrace*>& traces);
    // `traces` is the list last passed with one trace appended. Without `update` only the
    // statistics and sums are taken (for a whole list read at once, starting from an empty
    // one); update() then decides which traces are used and makes the average.
    void append(ivTrace& average, const QList<ivTrace*>& traces, bool update = true);
    void update(ivTrace& average, const QList<ivTrace*>& traces);
    // Forgets the cached statistics (after a crop change); the next append rebuilds.
    void invalidate() { valid = false; }

private:
    static constexpr int kStats = 4;
    using Stats = std::array<double, kStats>;

    static Stats statsOf(const ivTrace& trace);
    std::array<double, kStats> thresholds() const;
    int exceeded(const Stats& s, const std::array<double, kStats>& limits) const;
    bool used(int index) const;
    void addRows(const ivTrace& trace);
    void resum(const QList<ivTrace*>& traces);
    void accumulate(const QList<ivTrace*>& traces);
    // Takes the statistics of the next trace; insertSorted() files them in the sorted sets.
    void pushStats(const ivTrace& trace);
    void insertSorted(int index);
    void reset(int points, int rows);
    void finish(ivTrace& average, const QList<ivTrace*>& traces);

    bool valid = false;
    // Traces taken by accumulate(): statistics and sums without the sorted sets.
    bool deferred = false;
    std::vector<Stats> stats;
    std::vector<int> exceedCount;
    std::vector<bool> shapeMatches;
    Stats statSums{};
    std::array<double, kStats> limits{};
    std::array<std::multiset<std::pair<double, int>>, kStats> sorted;
    std::vector<double> rowSums;
    int usedCount = 0;
    int shapePoints = 0;
    int shapeRows = 0;
};

#endif  // KALDER_DATA_TRACEAVERAGER_H
