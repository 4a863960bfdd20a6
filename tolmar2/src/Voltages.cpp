// Scan voltages and ranges: sweeps of the three outputs, idle voltages, the current range and the
// channel enables, turned into register fields and sent to the board.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "Platform.h"
#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

// A computed end voltage may lie this far outside the output's range.
constexpr double kRangeMargin = 1.0;

// Nearest integer, halves away from zero; a value no DAC could take stays finite and a NaN
// becomes 0, so later integer arithmetic is always defined.
int64_t roundHalfAway(double x) {
    constexpr double kLimit = 1e15;
    if (std::isnan(x))
        return 0;
    return static_cast<int64_t>(std::round(std::clamp(x, -kLimit, kLimit)));
}

// DAC code of a voltage through a calibration pair {offset, slope}, kept in 16 bits.
int toCode(double volts, const double cal[2]) {
    return static_cast<uint16_t>(roundHalfAway(cal[1] * volts + cal[0]));
}

// Code of the fixed high-voltage supply: clamped to the DAC instead of wrapping around.
int fixedSupplyCode(double volts, const double cal[2]) {
    return static_cast<int>(std::clamp<int64_t>(roundHalfAway(cal[1] * volts + cal[0]), 0, 65535));
}

// The voltage a code produces. An output without a calibrated slope produces no defined
// voltage; it reads as 0 rather than as an infinity.
double toVolts(int64_t code, const double cal[2]) {
    return cal[1] == 0.0 ? 0.0 : (static_cast<double>(code) - cal[0]) / cal[1];
}

// Into [low, high]; a NaN becomes the lower limit.
double clampToRange(double v, const double range[2]) {
    if (!(v >= range[0]))
        return range[0];
    return std::min(v, range[1]);
}

bool outOfRange(double v, const double range[2]) {
    return v < range[0] - kRangeMargin || v > range[1] + kRangeMargin;
}

// One output's sweep: first code, code increment per step and number of steps.
struct Sweep {
    int start = 0;
    int inc = 0;
    int steps = 0;
};

// Plans a sweep from startCode towards `end` volts in steps of |step| volts; the direction
// follows from start and end. False when the step converts to no code change, which would
// leave the step count undefined (so is a zero or NaN step).
bool planSweep(int startCode, double start, double end, double step, const double cal[2],
               Sweep& s) {
    s.start = startCode;
    s.inc = static_cast<int>(
        std::clamp<int64_t>(roundHalfAway(cal[1] * std::fabs(step)), -65535, 65535));
    if (s.inc == 0)
        return false;
    if (end < start)
        s.inc = -s.inc;
    // A count just below zero (start and end within one code) is no step at all.
    const int64_t count = roundHalfAway(((cal[1] * end + cal[0]) - startCode) / s.inc);
    s.steps = static_cast<int>(std::clamp<int64_t>(count, 0, 65535));
    return true;
}

double sweepEnd(const Sweep& s, const double cal[2]) {
    return toVolts(s.start + static_cast<int64_t>(s.steps) * s.inc, cal);
}

// Output C is either a scanned DAC or a fixed high-voltage supply whose positive side has a
// calibration of its own.
const double* outputCCalibration(const TolmarCntrl& c, double volts) {
    return (!c.vcScannable && volts > 0 && c.vRange[2][1] > 0) ? c.cal_dac[3] : c.cal_dac[2];
}

}  // namespace

bool TolmarCntrl::stopScanForChange(const char* failure, bool& wasRunning) {
    wasRunning = run_en;
    run_en = false;
    if (!writeFpgaConfigParameters(true, false)) {
        TOLMAR_LOG_ERROR("%s", failure);
        return false;
    }
    return true;
}

bool TolmarCntrl::restartScanAfterChange(bool wasRunning, bool clearFifo) {
    if (!wasRunning)
        return true;
    run_en = true;
    if (!writeFpgaConfigParameters(clearFifo, false)) {
        TOLMAR_LOG_ERROR("Failed to rerun scan\n");
        return false;
    }
    return true;
}

bool TolmarCntrl::rewriteRunningScan(const char* failure, bool clearFifoOnRestart) {
    if (!connected || !run_en)
        return true;
    bool wasRunning = false;
    return stopScanForChange(failure, wasRunning) &&
           restartScanAfterChange(wasRunning, clearFifoOnRestart);
}

int TolmarCntrl::setScanVoltages(double* vs, double* ve, int& leadCh, double& step) {
    if (!vs || !ve) {
        TOLMAR_LOG_ERROR("Failed to set scan voltages -> no voltages given\n");
        return 0;
    }
    TOLMAR_LOG_MESSAGE("REQUESTING :vs0 %f, vs1 %f, vs2 %f \n ve0 %f ve1 %f ve2 %f \n", vs[0],
                       vs[1], vs[2], ve[0], ve[1], ve[2]);
    bool wasRunning = false;
    if (connected && run_en) {
        run_en = false;
        if (!writeFpgaConfigParameters(false, false)) {
            TOLMAR_LOG_ERROR("Failed to stop already running scan\n");
            return 0;
        }
        wasRunning = true;
    }

    int startCode[3];
    for (int k = 0; k < 3; ++k) {
        vs[k] = clampToRange(vs[k], vRange[k]);
        ve[k] = clampToRange(ve[k], vRange[k]);
        startCode[k] = toCode(vs[k], cal_dac[k]);
    }

    int inc[3] = {0, 0, 0};
    int steps = 0;
    const bool led = leadCh >= 0 && leadCh <= 2;
    if (led) {
        const int L = leadCh;
        const double span = vRange[L][1] - vRange[L][0];
        step = std::min(std::max(step, -span), span);
        Sweep lead;
        if (!planSweep(startCode[L], vs[L], ve[L], step, cal_dac[L], lead)) {
            TOLMAR_LOG_ERROR("Failed to set scan voltages -> leadCh %d step cannot be 0\n", L);
            return 0;
        }
        if (outOfRange(sweepEnd(lead, cal_dac[L]), vRange[L])) {
            if (lead.steps < 2) {
                TOLMAR_LOG_ERROR("Scan voltage v%d[% .2f % .2f % .2f] out of range\n", L, vs[L],
                                 step, ve[L]);
                return 0;
            }
            --lead.steps;
        }
        steps = lead.steps;
        inc[L] = lead.inc;
        // Handed back as planned, before the end-voltage correction below.
        step = inc[L] / cal_dac[L][1];
        // The other outputs cover their own spans in the lead's number of points.
        for (int j : {(L + 1) % 3, (L + 2) % 3}) {
            inc[j] = static_cast<int>(roundHalfAway(
                ((cal_dac[j][1] * ve[j] + cal_dac[j][0]) - startCode[j]) / (steps + 1)));
        }
    } else {
        // A scan in time at fixed voltages: step is the number of points.
        const double points = step;
        if (!(std::round(points) >= 1)) {
            TOLMAR_LOG_ERROR("Failed to set scan voltages -> Minimal number of steps (%f) is 1\n",
                             points);
            return 0;
        }
        if (points > MAX_SCAN_POINTS) {
            TOLMAR_LOG_ERROR("Failed to set scan voltages -> number of steps too big (%f)\n",
                             points);
            return 0;
        }
        steps = static_cast<int>(std::round(points)) - 1;
    }

    if (!vcScannable) {
        const double* cal = outputCCalibration(*this, vs[2]);
        startCode[2] = fixedSupplyCode(vs[2], cal);
        inc[2] = 0;
        vs[2] = ve[2] = toVolts(startCode[2], cal);
    }
    for (int k = 0; k < (vcScannable ? 3 : 2); ++k) {
        vs[k] = toVolts(startCode[k], cal_dac[k]);
        ve[k] = toVolts(startCode[k] + static_cast<int64_t>(steps) * inc[k], cal_dac[k]);
        if (outOfRange(ve[k], vRange[k]) && inc[k] != 0) {
            inc[k] += inc[k] > 0 ? -1 : 1;
            ve[k] = toVolts(startCode[k] + static_cast<int64_t>(steps) * inc[k], cal_dac[k]);
        }
    }

    v_a_start = static_cast<uint16_t>(startCode[0]);
    v_b_start = static_cast<uint16_t>(startCode[1]);
    v_c_start = static_cast<uint16_t>(startCode[2]);
    v_a_inc = static_cast<int16_t>(inc[0]);
    v_b_inc = static_cast<int16_t>(inc[1]);
    v_c_inc = inc[2];
    iv_steps = static_cast<uint16_t>(steps + (vcScannable ? 1 : 0));

    if (connected) {
        if (wasRunning)
            run_en = true;
        if (!writeFpgaConfigParameters(false, false)) {
            TOLMAR_LOG_ERROR("Failed to rerun scan\n");
            return 0;
        }
    }
    TOLMAR_LOG_MESSAGE(
        "Scan Voltages set to: s[%.6f %.6f %.6f] e[%.6f %.6f %.6f] leadCh[%d %.6f] steps: %d\n",
        vs[0], vs[1], vs[2], ve[0], ve[1], ve[2], leadCh, step, iv_steps);
    return iv_steps;
}

namespace {

// One segment of a two-segment sweep from startCode (the voltage `from`): a sweep towards `to`,
// or, for a segment whose two voltages were asked equal, a hold of round(|step|) points. False
// for a step that converts to no code change.
bool planSegment(int startCode, bool hold, double from, double to, double step, const double cal[2],
                 Sweep& s, unsigned ch) {
    if (hold) {
        s.start = startCode;
        s.inc = 0;
        s.steps = static_cast<int>(std::clamp<int64_t>(roundHalfAway(std::fabs(step)), 0, 65535));
        return true;
    }
    if (!planSweep(startCode, from, to, step, cal, s)) {
        TOLMAR_LOG_ERROR("Failed to set scan voltages -> leadCh %d step cannot be 0\n",
                         static_cast<int>(ch));
        return false;
    }
    return true;
}

}  // namespace

bool TolmarCntrl::setScanVoltages(unsigned ch, double start, double step1, double mid, double step2,
                                  double end) {
    if (ch > 1) {
        TOLMAR_LOG_ERROR("Channel [%d] doesn't exist\n", static_cast<int>(ch));
        return false;
    }
    const double* cal = cal_dac[ch];
    const double* range = vRange[ch];
    start = clampToRange(start, range);
    mid = clampToRange(mid, range);
    end = clampToRange(end, range);

    // A segment whose end is out of range loses one point, unless it has too few to spare.
    const auto fitsRange = [&](Sweep& s) {
        if (!outOfRange(sweepEnd(s, cal), range))
            return true;
        if (s.steps < 4) {
            TOLMAR_LOG_ERROR("Scan voltage v[%d][% .2f % .2f % .2f % .2f % .2f] out of range\n",
                             static_cast<int>(ch), start, step1, mid, step2, end);
            return false;
        }
        --s.steps;
        return true;
    };
    Sweep first;
    Sweep second;
    if (!planSegment(toCode(start, cal), start == mid, start, mid, step1, cal, first, ch) ||
        !fitsRange(first))
        return false;
    // The second segment runs from where the first really ended.
    if (!planSegment(first.start + first.steps * first.inc, mid == end, sweepEnd(first, cal), end,
                     step2, cal, second, ch))
        return false;
    // Output B has no second increment: the board keeps stepping it by the first one.
    if (ch == 1)
        second.inc = first.inc;
    if (!fitsRange(second))
        return false;

    // Only output ch moves.
    v_a_inc = v_b_inc = 0;
    v_a_inc2 = 0;
    v_c_inc = 0;
    if (ch == 0) {
        v_a_start = static_cast<uint16_t>(first.start);
        v_a_inc = static_cast<int16_t>(first.inc);
        v_a_inc2 = static_cast<int16_t>(second.inc);
    } else {
        v_b_start = static_cast<uint16_t>(first.start);
        v_b_inc = static_cast<int16_t>(first.inc);
    }
    iv_steps2 = static_cast<uint16_t>(first.steps + 1);
    iv_steps = static_cast<uint16_t>(first.steps + 1 + second.steps);

    if (!rewriteRunningScan("Failed to stop already running scan\n"))
        return false;
    TOLMAR_LOG_MESSAGE("Scan Voltages set to: v[%d][% .6f % .6f % .6f % .6f % .6f] steps[%d %d]\n",
                       static_cast<int>(ch), toVolts(first.start, cal), first.inc / cal[1],
                       sweepEnd(first, cal), second.inc / cal[1], sweepEnd(second, cal), iv_steps2,
                       iv_steps);
    return true;
}

bool TolmarCntrl::setScanVoltages(double& vaStart, double& vaStep, double& vaEnd, double& vbStart,
                                  double& vbStep, double& vbEnd, double& vc) {
    if (connected && !readFpgaConfigParameters()) {
        TOLMAR_LOG_ERROR("Failed to read config data from FPGA\n");
        return false;
    }
    double* start[2] = {&vaStart, &vbStart};
    double* step[2] = {&vaStep, &vbStep};
    double* end[2] = {&vaEnd, &vbEnd};
    Sweep sweep[2];
    for (int k = 0; k < 2; ++k) {
        *start[k] = clampToRange(*start[k], vRange[k]);
        *end[k] = clampToRange(*end[k], vRange[k]);
        Sweep& s = sweep[k];
        if (!planSweep(toCode(*start[k], cal_dac[k]), *start[k], *end[k], *step[k], cal_dac[k],
                       s)) {
            TOLMAR_LOG_ERROR("Failed to set scan voltages -> leadCh %d step cannot be 0\n", k);
            return false;
        }
        if (outOfRange(sweepEnd(s, cal_dac[k]), vRange[k])) {
            if (s.steps < 2) {
                TOLMAR_LOG_ERROR(k == 0 ? "Scan voltage va[% .2f % .2f % .2f] out of range\n"
                                        : "Scan voltage vb[% .2f % .2f % .2f] out of range\n",
                                 *start[k], *step[k], *end[k]);
                return false;
            }
            --s.steps;
        }
    }
    // The scan ends with the output that runs out of steps first.
    const int steps = std::min(sweep[0].steps, sweep[1].steps);
    for (int k = 0; k < 2; ++k) {
        Sweep s = sweep[k];
        s.steps = steps;
        *start[k] = toVolts(s.start, cal_dac[k]);
        *step[k] = s.inc / cal_dac[k][1];
        *end[k] = sweepEnd(s, cal_dac[k]);
    }

    vc = clampToRange(vc, vRange[2]);
    const double* calC = outputCCalibration(*this, vc);
    const int codeC = vcScannable ? toCode(vc, calC) : fixedSupplyCode(vc, calC);
    vc = toVolts(codeC, calC);

    v_a_start = static_cast<uint16_t>(sweep[0].start);
    v_a_inc = static_cast<int16_t>(sweep[0].inc);
    v_b_start = static_cast<uint16_t>(sweep[1].start);
    v_b_inc = static_cast<int16_t>(sweep[1].inc);
    v_c_start = static_cast<uint16_t>(codeC);
    v_c_inc = 0;
    iv_steps = static_cast<uint16_t>(steps + (vcScannable ? 1 : 0));

    if (!rewriteRunningScan("Failed to stop already running scan\n"))
        return false;
    TOLMAR_LOG_MESSAGE(
        "Scan Voltages set to: va[% .6f % .6f % .6f] vb[% .6f % .6f % .6f] vc[% .6f] "
        "steps[%d %d]\n",
        vaStart, vaStep, vaEnd, vbStart, vbStep, vbEnd, vc, sweep[0].steps, sweep[1].steps);
    return true;
}

bool TolmarCntrl::setDefVoltages(double* v) {
    if (!v) {
        TOLMAR_LOG_ERROR("Failed to update default voltages\n");
        return false;
    }
    int code[3];
    bool positiveC = false;
    for (int k = 0; k < 3; ++k) {
        TOLMAR_LOG_MESSAGE("%d-- [Min %f] [Max %f] Asked :%f\n", k, vRange[k][0], vRange[k][1],
                           v[k]);
        v[k] = clampToRange(v[k], vRange[k]);
        const double* cal = k == 2 ? outputCCalibration(*this, v[k]) : cal_dac[k];
        if (k == 2) {
            positiveC = v[k] > 0;
            code[k] = vcScannable ? toCode(v[k], cal) : fixedSupplyCode(v[k], cal);
        } else {
            code[k] = toCode(v[k], cal);
        }
        v[k] = toVolts(code[k], cal);
    }
    v_a_def = static_cast<uint16_t>(code[0]);
    v_b_def = static_cast<uint16_t>(code[1]);
    v_c_def = static_cast<uint16_t>(code[2]);
    if (!connected)
        return true;

    if (!vcScannable) {
        // The supply's polarity changes only while it is switched off.
        if ((positiveC && aux_sw2) || (!positiveC && aux_sw1)) {
            aux_sw1 = aux_sw2 = false;
            if (!writeFpgaConfigParameters(false, false)) {
                TOLMAR_LOG_ERROR("Failed to stop scan and turn off HVPS\n");
                return false;
            }
            tolmar2::platform::sleepMs(OUTPUT_C_SWITCH_MS);
        }
        aux_sw1 = positiveC;
        aux_sw2 = !positiveC;
    }
    if (!writeFpgaConfigParameters(false, false)) {
        TOLMAR_LOG_ERROR("Failed to update default voltages\n");
        return false;
    }
    TOLMAR_LOG_MESSAGE("Default Voltages set to: [% .2f, % .2f, % .2f]\n", v[0], v[1], v[2]);
    return true;
}

bool TolmarCntrl::setMeasuringRange(unsigned range) {
    range = std::min(range, 3u);
    constexpr uint8_t kRangeRelays = 0x03;
    const uint8_t newRelays =
        range >= 2 ? (relays | kRangeRelays) : static_cast<uint8_t>(relays & ~kRangeRelays);
    const bool newGain = range % 2 == 0;
    const bool relaysChanged = newRelays != relays;
    const bool gainChanged = newGain != gain;
    relays = newRelays;
    gain = newGain;
    if (!connected || (!relaysChanged && !gainChanged))
        return true;

    bool wasRunning = false;
    if (!stopScanForChange("Failed to update new measuring range into Tolmar\n", wasRunning))
        return false;
    if (relaysChanged)
        tolmar2::platform::sleepMs(RELAY_SETTLE_MS);
    return restartScanAfterChange(wasRunning, false);
}

int TolmarCntrl::setEnabledChannels(const bool* en) {
    if (!(deviceOptions & OPTION_CHANNEL_ENABLE) || !en)
        return -1;
    nEnabledChannels = 0;
    for (int i = 0; i < MAX_CHANNELS; ++i) {
        channelEnabled[i] = en[i];
        nEnabledChannels += en[i] ? 1 : 0;
    }
    if (!connected)
        return nEnabledChannels;
    if (!writeFpgaConfigParameters(true, false)) {
        TOLMAR_LOG_ERROR("Disconnected during Enable channel\n");
        return -1;
    }
    // The board's answer is what counts: read it back.
    return readFpgaConfigParameters() ? nEnabledChannels : -1;
}

int TolmarCntrl::getEnabledChannels(bool* en, int size) {
    if (!en || size < MAX_CHANNELS)
        return -1;
    if (connected && !readFpgaConfigParameters())
        return -1;
    std::copy(channelEnabled, channelEnabled + MAX_CHANNELS, en);
    return nEnabledChannels;
}

uint32_t TolmarCntrl::getFirstChannelEnableBitMask() {
    uint32_t mask = 0;
    if (deviceOptions & OPTION_CHANNEL_ENABLE) {
        for (int i = 0; i < 16; ++i) mask |= channelEnabled[i] ? 0 : 1u << i;
    }
    return mask;
}

uint32_t TolmarCntrl::getSecondChannelEnableBitMask() {
    uint32_t mask = 0;
    if (deviceOptions & OPTION_CHANNEL_ENABLE) {
        for (int i = 16; i < MAX_CHANNELS; ++i) mask |= channelEnabled[i] ? 0 : 1u << (i - 16);
    }
    return mask;
}
