// Redraw cost of the trace plot with 20 channels (40 curves): refilling the curves from the
// data set and painting the canvas, offscreen, for sweeps of 111 and of 1000 points. The
// target is below 20 ms per redraw.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cmath>
#include <memory>
#include <vector>

#include "data/tarvodataset.h"
#include "plots/tarvoplot.h"

namespace {

constexpr int kChannels = 20;
constexpr int kRows = 24;

// One scan of a few noisy sweeps with an ion peak, as the virtual sensor gives them.
std::unique_ptr<tarvoDataSet> makeScan(int points) {
    auto set = std::make_unique<tarvoDataSet>(kChannels, 4, -1);
    std::vector<double> block(size_t(kRows) * points);
    for (int t = 0; t < 4; ++t) {
        for (int j = 0; j < points; ++j) {
            const double v = -10.0 + 110.0 * j / (points - 1);
            for (int c = 0; c < kChannels; ++c) {
                const double peak = 1.0 / (1.0 + std::exp((v - 40.0 - c) / 3.0));
                block[size_t(c) * points + j] = 1e-6 * peak + 1e-9 * std::sin(7.0 * j + t + c);
            }
            for (int r = kChannels; r < kRows; ++r) {
                block[size_t(r) * points + j] = r == kRows - 1 ? v : 0.0;
            }
        }
        set->addTrace(block.data(), 0.0, points, kRows, 0, 0, false);
    }
    return set;
}

void BM_PlotRedraw20Channels(benchmark::State& state) {
    const int points = int(state.range(0));
    auto data = makeScan(points);
    tarvoPlot plot;
    plot.resize(1200, 700);
    plot.show();
    plot.setDataSet(data.get());
    QList<int> channels;
    for (int c = 0; c < kChannels; ++c) {
        channels << c;
    }
    plot.setCurrentChannel(channels);
    QApplication::processEvents();
    for (auto _ : state) {
        plot.updateDisplay();
        plot.canvas()->repaint();
    }
    state.counters["curves"] = plot.attachedCurveCount();
}
BENCHMARK(BM_PlotRedraw20Channels)->Arg(111)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
