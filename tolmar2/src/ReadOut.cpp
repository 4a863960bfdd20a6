// Reading scans from the FIFO stream: the normal-scan reader (averaged, raw and accumulated),
// the two-channel self-test readers, the time-resolved and temperature readers, and
// getDataFromOneScan, which converts and compacts what they read.
//
// Result codes of readFpgaFifoData: 1 block(s) complete (also without data when no normal scan
// runs); 0 the result arrays could not be allocated; -1 USB read failed; -2 the board stopped
// producing data; -3 the last packet came before all expected samples; -4 the block carried
// more words than the samples and two status words; -5 run_en was cleared while reading; -6 the
// board could not be stopped for a restart; -7 it could not be restarted.
//
// Result codes of readFpgaFifoDataTRM: 1 complete (also without data when no synchronised scan
// runs); 0 no memory; -1 USB read failed or abortRequested seen; -2 the board stopped producing
// data; -4 the last packet says the scan no longer runs (sync lost); -5 the last packet came
// before half the expected samples, or the block was longer than expected; -6 it came after at
// least half; -7 run_en was cleared; -8 the sync period changed between averaged blocks; -9 the
// board could not be stopped for a restart; -10 the block could not be read back or the board
// not restarted; -11 no sync lock within 5 seconds after a restart.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "FifoReader.h"
#include "Platform.h"
#include "ScanSupport.h"
#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

using tolmar2::fifo::Block;
using tolmar2::fifo::BlockEnd;
using tolmar2::fifo::FifoReader;
using tolmar2::fifo::Polls;

constexpr int kMaxErrors = 10;  // failed blocks per iteration before giving up
constexpr int kMaxTrmErrors = 5;
constexpr unsigned kRestartPauseMs = 100;
// Largest result the readers allocate, in doubles per array (1 GiB each).
constexpr uint64_t kMaxResultValues = uint64_t(1) << 27;

// Puts one value per step and channel: channel after channel, then the next step. Values
// beyond the last step are dropped.
struct ValuePlacer {
    double* out;
    size_t stride;  // values per channel array
    size_t steps;   // steps that fit
    int channels;
    int channel = 0;
    size_t step = 0;

    void put(double v) {
        if (step < steps)
            out[channel * stride + step] = v;
        if (++channel >= channels) {
            channel = 0;
            ++step;
        }
    }
};

// Mean of one group of samples, leaving out saturated ones and, from six valid samples on, one
// clear outlier at either end.
struct OutlierMean {
    int64_t sum = 0;
    int valid = 0;
    int lo = 32767;
    int hi = -32768;

    double value() const {
        if (valid == 0)
            return -32768.0;
        const double m = static_cast<double>(sum) / valid;
        if (valid < 6)
            return m;
        if (2 * (m - lo) < hi - m)
            return static_cast<double>(sum - hi) / (valid - 1);
        if (2 * (hi - m) < m - lo)
            return static_cast<double>(sum - lo) / (valid - 1);
        return m;
    }
};

// Averaged mode: iv_samples samples per value. The samples of one value are taken in runs
// without branches, so the compiler can vectorise the loop.
struct AveragingSink {
    AveragingSink(const ValuePlacer& p, uint32_t n) : place(p), perValue(n) {}
    ValuePlacer place;
    uint32_t perValue;
    uint32_t taken = 0;
    OutlierMean mean;

    void operator()(const uint16_t* w, size_t n) {
        while (n > 0 && perValue > 0) {
            const size_t run = std::min<size_t>(n, perValue - taken);
            int64_t sum = 0;
            int valid = 0, lo = mean.lo, hi = mean.hi;
            for (size_t i = 0; i < run; ++i) {
                const int s = static_cast<int16_t>(w[i]);
                const bool ok = (w[i] & 0xFFFE) != 0x8000;
                sum += ok ? s : 0;
                valid += ok;
                lo = std::min(lo, ok ? s : 32767);
                hi = std::max(hi, ok ? s : -32768);
            }
            mean.sum += sum;
            mean.valid += valid;
            mean.lo = lo;
            mean.hi = hi;
            w += run;
            n -= run;
            taken += static_cast<uint32_t>(run);
            if (taken == perValue) {
                place.put(mean.value());
                mean = OutlierMean();
                taken = 0;
            }
        }
    }
};

// Raw mode: every sample at channel * length + step * perStep + j.
struct RawSink {
    RawSink(double* o, size_t cap, size_t len, uint32_t n, int k)
        : out(o), capacity(cap), length(len), perStep(n), channels(k) {}
    double* out;
    size_t capacity;
    size_t length;  // one channel array
    uint32_t perStep;
    int channels;
    uint32_t j = 0;
    int channel = 0;
    size_t step = 0;

    void operator()(const uint16_t* w, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const size_t at = channel * length + step * perStep + j;
            if (at < capacity)
                out[at] = static_cast<int16_t>(w[i]);
            if (++j == perStep) {
                j = 0;
                if (++channel >= channels) {
                    channel = 0;
                    ++step;
                }
            }
        }
    }
};

// Accumulated format: a 32-bit sum in two words, high half first; zero sums are skipped.
struct AccumulatedSink {
    AccumulatedSink(const ValuePlacer& p, uint32_t n) : place(p), divisor(n) {}
    ValuePlacer place;
    uint32_t divisor;
    bool haveHigh = false;
    uint32_t high = 0;

    void operator()(const uint16_t* w, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (!haveHigh) {
                high = w[i];
                haveHigh = true;
                continue;
            }
            haveHigh = false;
            const uint32_t sum = (high << 16) | w[i];
            if (sum != 0)
                place.put(static_cast<double>(sum) / divisor);
        }
    }
};

// Reads `iterations` blocks through readOne(iteration), which returns a result code. A failed
// block is logged and, unless the error count passes maxErrors or stop(code) says so, the board
// is restarted by restart() and the iteration read again. Returns the last code.
template <class ReadOne, class Stop, class Restart>
int readWithRestarts(unsigned iterations, int maxErrors, const char* errorFormat, ReadOne&& readOne,
                     Stop&& stop, Restart&& restart) {
    int code = 1;
    int errors = 0;
    for (unsigned it = 0; it < iterations;) {
        code = readOne(it);
        if (code == 1) {
            errors = 0;
            ++it;
            continue;
        }
        ++errors;
        TOLMAR_LOG_ERROR(errorFormat, errors, static_cast<int>(it), code);
        if (errors > maxErrors || stop(code))
            break;
        const int restarted = restart();
        if (restarted != 1)
            return restarted;
    }
    return code;
}

// Restart of a normal scan after a failed block: 1, -6 (not stopped) or -7 (not restarted).
int restartNormalScan(TolmarCntrl& c) {
    c.run_en = false;
    if (!c.writeFpgaConfigParameters(true, false)) {
        TOLMAR_LOG_ERROR("Failed to stop running scan\n");
        return -6;
    }
    tolmar2::platform::sleepMs(kRestartPauseMs);
    c.run_en = true;
    if (!c.writeFpgaConfigParameters(false, false)) {
        TOLMAR_LOG_ERROR("Failed to run scan\n");
        return -7;
    }
    return 1;
}

// Codes every reader gives alike: 1 complete; -1 a failed read (logged where it failed) or an
// abort; -2 the board stopped producing data (logged). 0 for the ends each reader treats its own
// way.
int commonBlockCode(BlockEnd end) {
    switch (end) {
        case BlockEnd::Complete:
            return 1;
        case BlockEnd::ReadFailed:
        case BlockEnd::Aborted:
            return -1;
        case BlockEnd::Stopped:
            TOLMAR_LOG_ERROR(
                "Either device lost USB connection to PC or scan doesn't run anymore\n");
            return -2;
        default:
            return 0;
    }
}

// Result code of a normal-scan block, with its log line.
int normalBlockCode(BlockEnd end, const Block& b, const char* terminationFormat) {
    if (const int code = commonBlockCode(end))
        return code;
    switch (end) {
        case BlockEnd::EndedEarly:
            if (!b.running) {
                TOLMAR_LOG_ERROR(
                    "Scan doesn't run anymore (probably Tolmar lost USB connection to PC)\n");
                return -2;
            }
            TOLMAR_LOG_ERROR(terminationFormat, static_cast<int>(b.taken),
                             static_cast<int>(b.expected), 1);
            return -3;
        case BlockEnd::Overlong:
            TOLMAR_LOG_ERROR(terminationFormat, static_cast<int>(b.taken + b.extra - 1),
                             static_cast<int>(b.expected), 1);
            return -4;
        case BlockEnd::RunCleared:
            return -5;
        default:
            return -1;
    }
}

bool resultTooLarge(uint64_t values) {
    if (values <= kMaxResultValues)
        return false;
    TOLMAR_LOG_ERROR("Failed to allocate memory of double[%llu]\n",
                     static_cast<unsigned long long>(values));
    return true;
}

}  // namespace

int TolmarCntrl::readFpgaFifoData(double*& data, bool averaged, unsigned& nPoints,
                                  unsigned& status) {
    data = nullptr;
    nPoints = 0;
    status = 0;
    if (sync_mode || !run_en) {
        if (sync_mode && run_en) {
            TOLMAR_LOG_ERROR(
                "Scan synchronized to TTL signal is running\n\t(you should use "
                "readFpgaFifoDataTRM(...) to read data from this type of scan)\n");
        } else {
            TOLMAR_LOG_ERROR("Scan wasn't started\n");
        }
        return 1;
    }
    estimateScanResources();

    const uint64_t n = static_cast<uint32_t>(std::max(iv_samples, 0));
    const int k = tolmar2::scan::streamedChannels(*this);
    const uint64_t steps = iv_steps;
    const uint64_t v = steps * k;
    const uint64_t sweeps = up_down_scan ? 2 : 1;
    const uint64_t r = run_aux ? 2 * v : (averaged ? v : n * v) * sweeps;
    const uint64_t expected = (averaged ? n : 1) * r;
    const uint64_t p = run_aux ? steps : steps * sweeps;        // values per channel, averaged
    const uint64_t length = (averaged || run_aux) ? p : p * n;  // one channel array
    const uint64_t need = std::max<uint64_t>(r, length * std::max(nAdcChannels, k));
    if (resultTooLarge(need) || !tolmar2::scan::ensureScanArrays(*this, need)) {
        scanData.reset();
        scanSum.reset();
        scanDataCapacity = 0;
        return 0;
    }
    double* out = scanData.get();
    const unsigned iterations = run_aux ? 1 : std::max<unsigned>(averageCount, 1);
    const char* termination =
        "Unexpected termination of measured data block (rxd %d of %d expected) Num : %d \n";

    uint32_t statusSum = 0;
    auto readOne = [&](unsigned it) {
        std::fill(out, out + r, 0.0);
        FifoReader reader(*this, Polls{true, false});
        Block b;
        b.expected = expected;
        const ValuePlacer place{out, p, p, k, 0, 0};
        BlockEnd end;
        if (run_aux) {
            end = reader.readBlock(b, AccumulatedSink{place, static_cast<uint32_t>(n)});
        } else if (averaged) {
            end = reader.readBlock(b, AveragingSink{place, static_cast<uint32_t>(n)});
        } else {
            end = reader.readBlock(b, RawSink{out, r, length, static_cast<uint32_t>(n), k});
        }
        const int code = normalBlockCode(end, b, termination);
        if (code == -3)
            nPoints = static_cast<unsigned>(b.taken - 1);
        tolmar2::scan::repairSaturated(out, r);
        if (code == 1) {
            nPoints = static_cast<unsigned>(length);
            status = b.status();
            if (iterations > 1) {
                if (it == 0) {
                    std::copy(out, out + r, scanSum.get());
                    statusSum = 0;
                } else {
                    std::transform(out, out + r, scanSum.get(), scanSum.get(), std::plus<double>());
                }
                statusSum += b.status();
            }
        }
        return code;
    };
    const int code = readWithRestarts(
        iterations, kMaxErrors, "error #%d happened in iteration #%d with code %d\n", readOne,
        [](int c) { return c == -5; }, [this] { return restartNormalScan(*this); });

    if (code == 1 && iterations > 1) {
        for (uint64_t i = 0; i < r; ++i) out[i] = scanSum[i] / iterations;
        status = statusSum;
    }
    tolmar2::scan::expandChannels(*this, out, 1, length, k);
    data = out;
    return code;
}

namespace {

// The frame of the two-channel self-test readers: without a normal scan 1 and no data; else
// arrays a and b of `length` values each in scanData, filled from one block by
// readBlock(reader, block, out), which returns the block's code; failed blocks are read again
// after a restart.
template <class ReadBlock>
int readTwoChannels(TolmarCntrl& c, uint64_t length, const char* errorFormat, double*& a,
                    double*& b, unsigned& nPoints, unsigned& status, ReadBlock&& readBlock) {
    a = b = nullptr;
    nPoints = 0;
    status = 0;
    if (c.sync_mode || !c.run_en) {
        TOLMAR_LOG_ERROR("Scan wasn't started\n");
        return 1;
    }
    if (resultTooLarge(2 * length) || !tolmar2::scan::ensureScanArrays(c, 2 * length))
        return 0;
    double* out = c.scanData.get();
    auto readOne = [&](unsigned) {
        std::fill(out, out + 2 * length, 0.0);
        FifoReader reader(c, Polls{true, false});
        Block block;
        const int code = readBlock(reader, block, out);
        if (code == 1) {
            nPoints = static_cast<unsigned>(length);
            status = block.status();
        }
        return code;
    };
    const int code = readWithRestarts(
        1, kMaxErrors, errorFormat, readOne, [](int code) { return code == -5; },
        [&c] { return restartNormalScan(c); });
    a = out;
    b = out + length;
    return code;
}

}  // namespace

int TolmarCntrl::readFpgaFifoData(double*& a, double*& b, bool averaged, unsigned& nPoints,
                                  unsigned& status) {
    const uint32_t n = static_cast<uint32_t>(std::max(iv_samples, 1));
    const uint64_t p = uint64_t(iv_steps) * (up_down_scan ? 2 : 1);
    const uint64_t length = averaged ? p : p * n;
    // Groups of n samples alternate between the two channels.
    auto readBlock = [&](FifoReader& reader, Block& blk, double* out) {
        blk.expected = 2 * p * n;
        uint64_t index = 0;
        double sum = 0;
        int valid = 0;
        const BlockEnd end = reader.readBlock(blk, [&](const uint16_t* w, size_t count) {
            for (size_t i = 0; i < count; ++i, ++index) {
                const uint64_t group = index / n;
                const uint64_t step = group / 2;
                double* channel = out + (group % 2) * length;
                const int16_t s = static_cast<int16_t>(w[i]);
                if (!averaged) {
                    channel[step * n + index % n] = s;
                    continue;
                }
                TOLMAR_LOG_MESSAGE("sample: %d\n", s);
                if (w[i] != 0x7FFE && w[i] != 0x4000) {
                    sum += s;
                    ++valid;
                }
                if (index % n == n - 1) {
                    channel[step] = valid ? sum / valid : 0;
                    sum = 0;
                    valid = 0;
                }
            }
        });
        return normalBlockCode(
            end, blk,
            "Unexpected termination of measured data block (rxd %d of %d expected) NUm : %d\n");
    };
    return readTwoChannels(*this, length, "error #%d happened in iteration #%d with code %d\n", a,
                           b, nPoints, status, readBlock);
}

int TolmarCntrl::readFpgaFifoData2(double*& a, double*& b, bool averaged, unsigned& nPoints,
                                   unsigned& status) {
    // Two segments: iv_steps2 steps of iv_samples samples, then the rest of iv_samples2.
    const uint64_t steps = iv_steps;
    const uint64_t first = std::min<uint64_t>(iv_steps2, steps);
    const uint64_t n1 = static_cast<uint32_t>(std::max(iv_samples, 1));
    const uint64_t n2 = static_cast<uint32_t>(std::max(iv_samples2, 1));
    const uint64_t length = averaged ? steps : first * n1 + (steps - first) * n2;
    int scan = 0;
    // Samples alternate word by word between the channels; bit 0 is a parity bit.
    auto readBlock = [&](FifoReader& reader, Block& blk, double* out) {
        blk.expected = 2 * (first * n1 + (steps - first) * n2);
        uint64_t step = 0, inStep = 0, position = 0;
        double sums[2] = {0, 0};
        const BlockEnd end = reader.readBlock(blk, [&](const uint16_t* w, size_t count) {
            for (size_t i = 0; i < count; ++i) {
                uint16_t word = w[i];
                if (word & 1) {
                    TOLMAR_LOG_ERROR("Sample parity error:%04X, scan:%03d, sample:%03d\n", word,
                                     scan, static_cast<int>(position));
                    word &= 0xFFFE;
                }
                const int channel = inStep % 2;
                const double s = static_cast<int16_t>(word);
                const uint64_t perStep = step < first ? n1 : n2;
                if (averaged) {
                    sums[channel] += s;
                } else if (position / 2 < length) {
                    out[channel * length + position / 2] = s;
                }
                ++position;
                if (++inStep == 2 * perStep) {
                    if (averaged && step < steps) {
                        out[step] = sums[0] / perStep;
                        out[length + step] = sums[1] / perStep;
                    }
                    sums[0] = sums[1] = 0;
                    inStep = 0;
                    ++step;
                }
            }
        });
        ++scan;
        const char* termination =
            "Unexpected termination of measured data block (rxd %d of %d expected) in scan %d";
        if (end == BlockEnd::EndedEarly && blk.running) {
            TOLMAR_LOG_ERROR(termination, static_cast<int>(blk.taken),
                             static_cast<int>(blk.expected), scan - 1);
            return -3;
        }
        return normalBlockCode(end, blk, termination);
    };
    return readTwoChannels(*this, length, "error #%d happened in scan #%d with code %d\n", a, b,
                           nPoints, status, readBlock);
}

namespace {

// The time grid of a synchronised scan, from the sync period and the timing fields.
struct TimeGrid {
    uint64_t slots = 0;      // samples per sync period, channel and step
    uint64_t phases = 1;     // k: interleaved sampling phases per slot (24 / sync_smpl_mult)
    bool averaging = false;  // trmAvg with a divider: trmAvgDiv slots per cell
    uint64_t divider = 1;
    uint64_t timePoints = 0;  // T
    uint64_t lastCell = 0;    // L: slots in the last cell when averaging
    uint64_t steps = 0;       // P
    int channels = 0;         // K
    uint64_t expected = 0;    // E

    uint64_t perChannel() const { return averaging ? slots : slots * phases; }
};

uint64_t ceilDiv(uint64_t a, uint64_t b) {
    return (a + b - 1) / b;
}

TimeGrid timeGrid(const TolmarCntrl& c) {
    TimeGrid g;
    const int64_t period = c.sync_frq8;  // the 32-bit count as read, on every firmware
    const int64_t usable = std::max<int64_t>(
        0, std::min<int64_t>((period / 8 - 1 - std::min<int64_t>(period / 2048, 11999)) / 24,
                             c.sync_samples));
    const uint64_t div = c.sync_smpl_div;
    const uint64_t start = c.sync_f_smpl_d;
    if (div >= 2) {
        const uint64_t a = ceilDiv(usable, div), b = ceilDiv(start, div);
        g.slots = a > b ? a - b : 0;
    } else {
        g.slots = static_cast<uint64_t>(usable) > start ? usable - start : 0;
    }
    g.phases = c.sync_smpl_mult ? std::max(24 / c.sync_smpl_mult, 1) : 1;
    g.averaging = c.trmAvg && c.trmAvgDiv > 0;
    if (g.averaging) {
        g.divider = c.trmAvgDiv;
        g.timePoints = ceilDiv(g.slots, g.divider);
        g.lastCell = g.slots % g.divider ? g.slots % g.divider : g.divider;
    } else {
        g.timePoints = g.slots * g.phases;
    }
    g.steps = uint64_t(c.iv_steps) * (c.up_down_scan ? 2 : 1);
    g.channels = tolmar2::scan::streamedChannels(c);
    g.expected = g.perChannel() * g.steps * g.channels;
    return g;
}

// Adds each sample to its cell (time point t, channel, step at (t * K + channel) * P + step).
// Without averaging the k phases of a channel and step come one after the other, each over all
// slots; sample j of phase f is time point j * k + f. With averaging, `divider` consecutive
// samples share a cell. A saturated sample takes the value of the sample before it.
struct TimeResolvedSink {
    TimeResolvedSink(double* o, const TimeGrid& grid) : out(o), g(grid) {}
    double* out;
    const TimeGrid& g;
    uint64_t n = 0;  // sample of the current channel and step
    int channel = 0;
    uint64_t step = 0;
    int16_t previous = 0;

    void operator()(const uint16_t* w, size_t count) {
        const uint64_t perChannel = g.perChannel();
        for (size_t i = 0; i < count; ++i) {
            if (w[i] != tolmar2::fifo::kInvalid)
                previous = static_cast<int16_t>(w[i]);
            const uint64_t t = g.averaging ? n / g.divider : (n % g.slots) * g.phases + n / g.slots;
            if (step < g.steps && t < g.timePoints)
                out[(t * g.channels + channel) * g.steps + step] += previous;
            if (++n == perChannel) {
                n = 0;
                if (++channel >= g.channels) {
                    channel = 0;
                    ++step;
                }
            }
        }
    }
};

int trmBlockCode(BlockEnd end, const Block& b) {
    if (const int code = commonBlockCode(end))
        return code;
    switch (end) {
        case BlockEnd::EndedEarly:
            if (!b.running) {
                TOLMAR_LOG_ERROR(
                    "Scan doesn't run anymore (probably it lost synchronization to TTL "
                    "signal)\n");
                return -4;
            }
            if (2 * b.taken < b.expected)
                return -5;
            TOLMAR_LOG_ERROR("Received packet size of %d samples is too short (should be %d)\n",
                             static_cast<int>(b.taken + 1), static_cast<int>(b.expected));
            return -6;
        case BlockEnd::Overlong:
            return -5;
        case BlockEnd::RunCleared:
            return -7;
        default:
            return -1;
    }
}

// Restart of a synchronised scan after a failed block: 1, -9, -10 or -11.
int restartSyncScan(TolmarCntrl& c) {
    c.run_en = false;
    if (!c.writeFpgaConfigParameters(true, false)) {
        TOLMAR_LOG_ERROR("Failed to stop running scan\n");
        return -9;
    }
    const int locked = tolmar2::scan::waitForSyncLock(c);
    if (locked < 0)
        return -10;
    if (locked == 0)
        return -11;
    c.run_en = true;
    if (!c.writeFpgaConfigParameters(false, false)) {
        TOLMAR_LOG_ERROR("Failed to run scan\n");
        return -10;
    }
    return 1;
}

}  // namespace

int TolmarCntrl::readFpgaFifoDataTRM(double*& data, unsigned& nScans, unsigned& nPoints,
                                     unsigned& status) {
    data = nullptr;
    nScans = nPoints = 0;
    status = 0;
    if (!sync_mode || !run_en) {
        TOLMAR_LOG_ERROR("Scan synchronized to TTL signal wasn't started\n");
        return 1;
    }
    const Polls polls{true, true};
    uint32_t firstPeriod = 0;
    switch (FifoReader(*this, polls).readPeriod(firstPeriod)) {
        case BlockEnd::Complete:
            break;
        case BlockEnd::Stopped:
            TOLMAR_LOG_ERROR("Either device lost USB connection or scan doesn't run anymore\n");
            return -2;
        case BlockEnd::RunCleared:
            return -7;
        default:
            return -1;
    }
    sync_frq8 = firstPeriod;
    estimateScanResources();

    const TimeGrid g = timeGrid(*this);
    const uint64_t frame = g.steps * g.channels;
    const uint64_t values = g.timePoints * frame;
    const uint64_t need = g.timePoints * g.steps * std::max(nAdcChannels, g.channels);
    if (resultTooLarge(need) || !tolmar2::scan::ensureScanArrays(*this, need))
        return 0;
    double* out = scanData.get();
    const unsigned iterations = std::max<unsigned>(averageCount, 1);

    uint32_t statusSum = 0;
    bool periodRead = true;  // the first block's period packet is already taken
    auto readOne = [&](unsigned it) {
        FifoReader reader(*this, polls);
        if (!periodRead) {
            uint32_t period = 0;
            const BlockEnd end = reader.readPeriod(period);
            if (end != BlockEnd::Complete) {
                Block none;
                return trmBlockCode(end, none);
            }
            if (period != firstPeriod) {
                TOLMAR_LOG_ERROR("Sync frequency changed during the averaging (old:%d new:%d)\n",
                                 static_cast<int>(firstPeriod), static_cast<int>(period));
                sync_frq8 = period;
                return -8;
            }
        }
        periodRead = false;
        std::fill(out, out + values, 0.0);
        Block b;
        b.expected = g.expected;
        const int code = trmBlockCode(reader.readBlock(b, TimeResolvedSink{out, g}), b);
        if (code == 1) {
            if (it == 0) {
                std::copy(out, out + values, scanSum.get());
                statusSum = 0;
            } else {
                std::transform(out, out + values, scanSum.get(), scanSum.get(),
                               std::plus<double>());
            }
            statusSum += b.status();
        }
        return code;
    };
    const int code = readWithRestarts(
        iterations, kMaxTrmErrors, "error #%d happened in iteration #%d with code %d\n", readOne,
        [this](int c) { return c == -7 || c == -8 || abortRequested; },
        [this] { return restartSyncScan(*this); });

    if (code == 1) {
        const double whole = g.averaging ? double(g.divider) * iterations : iterations;
        const double last = g.averaging ? double(g.lastCell) * iterations : iterations;
        const uint64_t lastStart = (g.timePoints - 1) * frame;
        for (uint64_t i = 0; i < values; ++i) out[i] = scanSum[i] / (i < lastStart ? whole : last);
        nScans = static_cast<unsigned>(g.timePoints);
        nPoints = static_cast<unsigned>(g.steps);
        status = statusSum;
        data = out;
    }
    tolmar2::scan::expandChannels(*this, out, g.timePoints, g.steps, g.channels);
    return code;
}

int TolmarCntrl::getDataFromOneScan(double*& data, unsigned& nScans, unsigned& nPoints,
                                    int& nChannels, double& timeRes, unsigned& acqStart,
                                    unsigned& status, bool averaged) {
    nScans = nPoints = 0;
    nChannels = nAdcChannels;
    timeRes = 0;
    acqStart = 0;
    status = 0;
    data = nullptr;
    samplesRead = 0;
    scanStartTime = tolmar2::scan::nowSeconds();
    if (!connected) {
        TOLMAR_LOG_ERROR("Cannot read data from Tolmar because %s\n", "it's not connected");
        return 0;
    }
    if (!run_en) {
        TOLMAR_LOG_ERROR("Cannot read data from Tolmar because %s\n", "scan doesn't run");
        return 0;
    }
    if (!sync_mode) {
        nScans = 1;
        const int code = readFpgaFifoData(data, averaged, nPoints, status);
        if (code != 1) {
            TOLMAR_LOG_ERROR("Failed to read measured data from normal scan (error %d)\n", code);
            return code;
        }
    } else {
        TOLMAR_LOG_MESSAGE("Sync Mode\n");
        timeRes = (trmAvg && trmAvgDiv) ? trmAvgDiv
                  : sync_smpl_div       ? sync_smpl_div
                                        : sync_smpl_mult / 24.0;
        acqStart = sync_f_smpl_d;
        const int code = readFpgaFifoDataTRM(data, nScans, nPoints, status);
        if (code != 1) {
            TOLMAR_LOG_ERROR("Failed to read measured data from synchronized scan (error %d)\n",
                             code);
            abortRequested = false;
            return code;
        }
    }
    if (!data)
        return 1;
    toPhysicalUnits(data, nScans, nPoints);

    // 24-value frames keep the sensor probes and the monitor rows only.
    if (nChannels == 24) {
        const int probes = std::clamp(static_cast<int>(nExtProbes), 0, nProbes);
        const int monitorStart = std::clamp(nProbes, 0, 24);
        const int monitors = std::clamp(static_cast<int>(nVchan), 0, 24 - monitorStart);
        const int kept = probes + monitors;
        const size_t len = nPoints;
        for (unsigned s = 0; s < nScans; ++s) {
            const double* from = data + size_t(s) * 24 * len;
            double* to = data + size_t(s) * kept * len;
            std::memmove(to, from, probes * len * sizeof(double));
            std::memmove(to + probes * len, from + monitorStart * len,
                         monitors * len * sizeof(double));
        }
        nChannels = kept;
    }
    return 1;
}

namespace {

// Thermistor temperature of one channel from its four phase averages (volts after calibration):
// the resistance from the two voltage steps, then the B-parameter equation.
double thermistorTemperature(const double v[4], const double coef[4]) {
    const double d1 = v[1] - v[0];
    const double d2 = v[3] - v[2];
    double r = 0;
    if (d2 > 0 && d1 < 0) {
        r = (-3 / d1 + 2 / d2) / 2;
    } else if (d2 == 0 && d1 < 0) {
        r = -3 / d1;
    } else if (d1 == 0 && d2 > 0) {
        r = 2 / d2;
    }
    if (r == 0)
        r = 1e9;  // open input
    const double b = coef[0], r25 = coef[1], rs = coef[2];
    if (!(b > 1 && b < 10000))
        return r;
    if (r <= rs)
        return -300.0;
    return 1 / (std::log((r - rs) / r25) / b + 0.0033540164346805303) - 273.15;
}

}  // namespace

int TolmarCntrl::getDataFromOneTempScan(double* data, unsigned& n, unsigned& status) {
    if (!connected) {
        TOLMAR_LOG_ERROR("Cannot read data from Tolmar because %s\n", "it's not connected");
        return 0;
    }
    if (!run_en || !read_temp) {
        TOLMAR_LOG_ERROR("Cannot read data from Tolmar because %s\n",
                         "scan doesn't run or not a temp scan");
        return 0;
    }
    TOLMAR_LOG_MESSAGE("GET DATA FROM TEMPERATURE SCAN\n");
    if (!readFpgaConfigParameters()) {
        TOLMAR_LOG_ERROR("Failed to read FPGA config parameters from Fpga\n");
        return 0;
    }
    return readFpgaFifoDataTEMP(data, n, status);
}

int TolmarCntrl::readFpgaFifoDataTEMP(double* data, unsigned& n, unsigned& status) {
    n = TEMP_CHANNELS;
    status = 0;
    if (!read_temp || !run_en || !data)
        return 0;
    if (!tolmar2::scan::ensureScanArrays(*this, TEMP_CHANNELS))
        return 0;

    constexpr int kAttempts = 11;
    int16_t samples[TEMP_BLOCK_SAMPLES];
    int code = 1;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) {
            if (!writeFpgaConfigParameters(true, false)) {
                TOLMAR_LOG_ERROR("Failed to restart FPGA\n");
                code = -6;
                break;
            }
            tolmar2::platform::sleepMs(kRestartPauseMs);
        }
        TOLMAR_LOG_MESSAGE("Scan Loop\n");
        std::fill(samples, samples + TEMP_BLOCK_SAMPLES, 0);
        Block b;
        b.expected = TEMP_BLOCK_SAMPLES;
        FifoReader reader(*this, Polls{true, false});
        const BlockEnd end = reader.readBlock(b, [&](const uint16_t* w, size_t count) {
            std::memcpy(samples + b.taken, w, count * sizeof(uint16_t));
        });
        code = commonBlockCode(end);
        if (code == 1) {
            status = b.status();
        } else if (end == BlockEnd::EndedEarly || end == BlockEnd::Overlong) {
            TOLMAR_LOG_ERROR(
                "Unexpected termination of measured data block 1 (rxd %d of %d expected)\n",
                static_cast<int>(b.taken + b.extra - 1), TEMP_BLOCK_SAMPLES);
            code = end == BlockEnd::EndedEarly ? -3 : -4;
        } else if (end == BlockEnd::RunCleared) {
            code = -5;
        }
        if (code == 1)
            break;
        TOLMAR_LOG_ERROR("error #%d happened with code %d\n", attempt + 1, code);
        if (code == -5)
            break;
    }

    // Each channel: 160 samples, four phases of 40; the last 15 of each phase settle.
    const int g = gain ? 0 : 1;
    for (int k = 0; k < TEMP_CHANNELS; ++k) {
        double v[4];
        for (int phase = 0; phase < 4; ++phase) {
            const double a =
                doAverageWithSaturate(samples + k * 160 + phase * 40 + 25, 15, nullptr);
            v[phase] = cal_adc[k][g][1] * a + cal_adc[k][g][0];
        }
        data[k] = thermistorTemperature(v, tempCoef[k]);
    }
    return code;
}
