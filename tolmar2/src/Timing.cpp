// Scan timing: settling delays, averaging, scan type, the time grid of synchronised scans, the
// sync input's frequency and the estimate of a scan's duration and size.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "Platform.h"
#include "ScanSupport.h"
#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

constexpr uint32_t kMax20Bits = 0xFFFFF;
constexpr uint8_t kMaxIvDelay = 255;
constexpr uint8_t kWholeMicrosecond = 24;  // sync_smpl_mult: 24 slots of 1/24 us
constexpr double kSyncClockHz = 192e6;

// Firmware whose estimated sync frequency is twice 192 MHz over the period count.
bool doublesEstimatedFrequency(uint16_t firmwareId) {
    return firmwareId > 0xACDF && firmwareId != 0xACF1;
}

// Sub-microsecond resolutions the board offers, as 1/24 us multiples, with the upper bound
// (in 1/24 us) up to which each is chosen.
struct MultChoice {
    double below;
    uint8_t mult;
};
constexpr MultChoice kMultChoices[] = {{1.5, 1}, {2.5, 2}, {3.5, 3}, {5, 4},
                                       {7, 6},   {10, 8},  {18, 12}};

uint32_t limit20(uint64_t v) {
    return static_cast<uint32_t>(std::min<uint64_t>(v, kMax20Bits));
}

uint32_t saturateU32(double v) {
    return v >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(std::max(v, 0.0));
}

uint64_t ceilDiv(uint64_t a, uint64_t b) {
    return (a + b - 1) / b;
}

}  // namespace

// ---- Settling delays and averaging ----

bool TolmarCntrl::setSettlingDelays(unsigned zsd, unsigned fsd, unsigned nsd, unsigned ivd) {
    TOLMAR_LOG_MESSAGE("Setting settling delays :zsd: [%d] :fsd: [%d] :nsd: [%d] :ivd: [%d]\n",
                       static_cast<int>(zsd), static_cast<int>(fsd), static_cast<int>(nsd),
                       static_cast<int>(ivd));
    if (settlingAuto) {
        TOLMAR_LOG_MESSAGE("autoscale\n");
    } else {
        TOLMAR_LOG_MESSAGE("non autoscale\n");
        setup_zs_delay = std::min<uint32_t>(zsd, MAX_SETTLING_DELAY);
        setup_fs_delay = std::min<uint32_t>(fsd, MAX_SETTLING_DELAY);
        setup_ns_delay = std::min<uint32_t>(nsd, MAX_SETTLING_DELAY);
    }
    setup_iv_delay = static_cast<uint8_t>(std::min<unsigned>(ivd, kMaxIvDelay));
    return rewriteRunningScan("Failed to update new settling delays into Tolmar\n");
}

bool TolmarCntrl::setSettlingDelays() {
    return true;
}

bool TolmarCntrl::setSettlingDelaysAuto(bool on) {
    settlingAuto = on;
    return true;
}

void TolmarCntrl::getSettlingDelays(unsigned* zsd, unsigned* fsd, unsigned* nsd, unsigned* ivd) {
    if (zsd)
        *zsd = setup_zs_delay;
    if (fsd)
        *fsd = setup_fs_delay;
    if (nsd)
        *nsd = setup_ns_delay;
    if (ivd)
        *ivd = setup_iv_delay;
}

void TolmarCntrl::setAverage(unsigned n) {
    averageCount = n == 0 ? 1 : n;
}

bool TolmarCntrl::setAverageHW(unsigned samples, unsigned samples2) {
    iv_samples = static_cast<int32_t>(std::min<unsigned>(samples, kMax20Bits));
    iv_samples2 =
        static_cast<int32_t>(std::min<unsigned>(samples2 == 0 ? samples : samples2, kMax20Bits));
    // In a synchronised scan the block carries sync_samples instead: nothing to resend.
    bool ok = true;
    if (!sync_mode)
        ok = rewriteRunningScan("Failed to update new iv_samples into Tolmar\n");
    TOLMAR_LOG_MESSAGE("iv_samples: %d %d\n", iv_samples, iv_samples2);
    return ok;
}

void TolmarCntrl::setTemperatureScan(bool on) {
    read_temp = on;
    gain = true;
    read_csr_md = false;
    TOLMAR_LOG_MESSAGE("SET TEMPERATURE SCAN\n");
}

// ---- Scan type and synchronisation ----

bool TolmarCntrl::setScanType(bool doubleEnded, bool synchronized, bool edge) {
    up_down_scan = doubleEnded;
    sync_mode = synchronized;
    sync_edge_r_f = !edge;
    if (synchronized)
        sync_aux_d = 0;
    else
        sync_smpl_mult = kWholeMicrosecond;
    if (!connected)
        return true;

    bool wasRunning = false;
    if (!stopScanForChange("Failed to update new scan type into Tolmar\n", wasRunning))
        return false;
    if (synchronized && getSyncFreq(nullptr, true) <= 0) {
        TOLMAR_LOG_ERROR("Failed to resynchronize\n");
        return false;
    }
    if (!restartScanAfterChange(wasRunning, true))
        return false;
    TOLMAR_LOG_MESSAGE("Scan type set to %s %s scan\n",
                       doubleEnded ? "double ended" : "single ended",
                       synchronized ? "synchronized" : "normal");
    return true;
}

bool TolmarCntrl::setSyncScanParameters(double& timeRes, unsigned& acqStart, unsigned& acqWindow,
                                        unsigned& phase, bool trmAvgOn) {
    trmAvg = trmAvgOn;

    // Time grid: 1/24 us multiples below a microsecond, whole microseconds above.
    if (!(timeRes >= 1.0)) {
        const double x = std::fabs(timeRes * kWholeMicrosecond);
        sync_smpl_div = 0;
        sync_smpl_mult = kWholeMicrosecond;
        for (const MultChoice& c : kMultChoices) {
            if (x < c.below) {
                sync_smpl_mult = c.mult;
                break;
            }
        }
    } else {
        sync_smpl_mult = kWholeMicrosecond;
        sync_smpl_div = static_cast<uint8_t>(std::min(std::round(std::fabs(timeRes)), 255.0));
    }
    timeRes = static_cast<double>(sync_smpl_mult) / kWholeMicrosecond *
              (sync_smpl_div != 0 ? sync_smpl_div : 1);

    sync_f_smpl_d = limit20(acqStart);
    acqStart = sync_f_smpl_d;

    // Acquisition end, within one sync period when the period is known.
    // The sync period in microseconds, kept to what the 20-bit fields and the integers below
    // can take however slow a frequency is claimed.
    const double frequency = ScanLimits.syncFrequency;
    const bool known = frequency > 0;
    const double periodUs = known ? std::min(1e6 / frequency, 1e12) : 0.0;
    uint64_t end;
    if (known) {
        const uint64_t period = static_cast<uint64_t>(std::ceil(periodUs));
        end = (acqWindow != 0 && acqWindow <= period) ? acqWindow : period;
    } else {
        end = acqWindow != 0 ? acqWindow : kMax20Bits;
    }
    if (end == sync_f_smpl_d)
        end = kMax20Bits;
    const uint64_t div = sync_smpl_div;
    if (div < 2 || acqWindow != 0)
        end += 1;
    else
        end = div * ceilDiv(end + div, div);
    sync_samples = limit20(end);

    // Delay from the sync edge to the first sample, for the requested phase.
    if (known) {
        const int64_t p = std::max<int64_t>(1, std::llround(periodUs));
        int64_t aux = p - static_cast<int64_t>(phase) % p;
        if (trmAvg && div > 1)
            aux -= static_cast<int64_t>(div / 2);
        sync_aux_d = limit20(static_cast<uint64_t>(std::max<int64_t>(aux, 0)));
    } else {
        sync_aux_d = 0;
    }

    // Averaging of consecutive slots moves from the board to the library.
    if (trmAvg && div >= 2) {
        trmAvgDiv = static_cast<uint32_t>(div);
        sync_smpl_div = 0;
    } else {
        trmAvgDiv = 0;
    }

    if (!rewriteRunningScan("Failed to update new scan type into Tolmar\n", true))
        return false;
    if (!connected)
        return true;
    TOLMAR_LOG_MESSAGE(
        "Sync scan parameters: timeRes[% .2f] acqStart[%d] acqWindow[%d] trmAvg: %s\n", timeRes,
        static_cast<int>(acqStart),
        static_cast<int>(sync_samples - std::min(sync_samples, sync_f_smpl_d)),
        trmAvg ? "ON" : "OFF");
    // Fresh lock state and sync period for the estimates; the settings stand whatever the
    // read-back gives.
    readFpgaConfigParameters();
    return true;
}

int TolmarCntrl::getSyncFreq(double* freq, bool resync) {
    if (!connected)
        return 0;
    const uint32_t savedAux = sync_aux_d;
    const bool wasRunning = run_en;
    if (resync)
        sync_aux_d = 0;
    run_en = false;
    if (!writeFpgaConfigParameters(resync, resync)) {
        TOLMAR_LOG_ERROR("Failed to stop already running scan\n");
        sync_aux_d = savedAux;
        return 0;
    }

    // With resync, poll until the detector locks. The time limit counts both the clock and the
    // waits asked for, so a replaced wait still ends the loop.
    const uint64_t started = tolmar2::platform::tickCountMs();
    uint64_t waited = 0;
    for (;;) {
        if (!readFpgaConfigParameters()) {
            TOLMAR_LOG_ERROR("Failed to read FPGA config parameters from Fpga\n");
            sync_aux_d = savedAux;
            return 0;
        }
        const uint64_t elapsed = std::max(tolmar2::platform::tickCountMs() - started, waited);
        if (sync_frq_locked || !resync || elapsed > SYNC_LOCK_TIMEOUT_MS)
            break;
        tolmar2::platform::sleepMs(SYNC_LOCK_POLL_MS);
        waited += SYNC_LOCK_POLL_MS;
    }

    if (wasRunning || (resync && savedAux != 0)) {
        sync_aux_d = savedAux;
        run_en = wasRunning;
        if (!writeFpgaConfigParameters(false, false)) {
            TOLMAR_LOG_ERROR("Failed to run scan\n");
            return 0;
        }
    }
    if (!sync_frq_locked || sync_frq_high || sync_frq_low) {
        TOLMAR_LOG_ERROR("Tolmar is not synchronized [LOCKED:%d, HIGH:%d, low:%d]\n",
                         sync_frq_locked ? 1 : 0, sync_frq_high ? 1 : 0, sync_frq_low ? 1 : 0);
        if (!sync_frq_locked)
            return -1;
        return sync_frq_low ? -2 : -3;
    }
    if (sync_frq8 == 0)
        return -4;
    if (freq)
        *freq = static_cast<float>(tolmar2::scan::syncInputHz(sync_frq8));
    return 1;
}

// ---- Estimates ----

void TolmarCntrl::estimateScanResources() {
    ScanLimits = ScanLimitsRecord{};
    const double S = iv_steps;
    const double C = nAdcChannels;
    const double iv = setup_iv_delay;
    const double m1 = std::max<double>(setup_ns_delay, iv);
    const double m2 = std::max<double>(setup_fs_delay, m1);

    double T;
    double samples;
    double values;
    if (!sync_mode) {
        const double N = iv_samples;
        T = ((C - 1) * iv + m2 + C * N + (S - 1) * m1) * S;
        values = C * S;
        samples = C * S * N;
    } else {
        // An invalid multiplier of 0 counts as whole microseconds.
        const int mult = sync_smpl_mult == 0 ? kWholeMicrosecond : sync_smpl_mult;
        const int div = sync_smpl_div;
        const double slotsPerUs = static_cast<double>(kWholeMicrosecond) / mult;
        const int64_t count = sync_frq8;  // the period as the board counts it, on every firmware
        const double p = count / 192.0;   // microseconds per sync period
        const int64_t usable = std::min<int64_t>(
            (count / 8 - 1 - std::min<int64_t>(count / 2048, 11999)) / 24, sync_samples);
        const double dead =
            p - usable - (mult == kWholeMicrosecond ? 0.0 : static_cast<double>(mult) / 24);
        TOLMAR_LOG_MESSAGE("sync Period ::: %f tmp ::: %d, sync spl mult : %d\n", p,
                           static_cast<int>(usable), mult);
        T = S * C * slotsPerUs * p;
        TOLMAR_LOG_MESSAGE("DUMP TIME ::: %f SSF ::: %f, sync smpl mult : %d\n", dead, T, mult);
        // A settling delay longer than the dead time of a period costs whole periods.
        if (p > 0) {
            const auto periods = [&](double delay) { return std::ceil((delay - dead) / p) * p; };
            if (dead < iv)
                T += (C - 1) * periods(iv) * S;
            if (dead < m1)
                T += (S - 1) * periods(m1);
            if (dead < m2)
                T += periods(m2);
        }

        if (sync_frq_low)
            ScanLimits.syncFrequency = -2;
        else if (sync_frq_high)
            ScanLimits.syncFrequency = -3;
        else if (!sync_frq_locked || sync_frq8 == 0)
            ScanLimits.syncFrequency = -4;
        else
            ScanLimits.syncFrequency =
                kSyncClockHz * (doublesEstimatedFrequency(fpgaFirmwareID) ? 2 : 1) / sync_frq8;

        int64_t slots;
        if (div >= 2) {
            slots = static_cast<int64_t>(std::ceil(static_cast<double>(usable) / div)) -
                    static_cast<int64_t>(ceilDiv(sync_f_smpl_d, div));
        } else {
            slots = usable - static_cast<int64_t>(sync_f_smpl_d);
        }
        slots = std::max<int64_t>(slots, 0);
        samples = std::round(C * slotsPerUs * slots * S);
        values = samples;
        if (trmAvg && trmAvgDiv > 0) {
            const uint64_t averaged = ceilDiv(static_cast<uint64_t>(slots), trmAvgDiv);
            values = C * S * static_cast<double>((averaged * kWholeMicrosecond) / mult);
        }
    }

    if (up_down_scan) {
        T *= 2;
        samples *= 2;
        values *= 2;
    }
    ScanLimits.scanDuration = averageCount * T * 1e-6 * 0.5 * 1.3;
    ScanLimits.samplesExpected = saturateU32(samples * averageCount);
    ScanLimits.valuesPerScan = saturateU32(values);
    ScanLimits.scanRate = T == 0 ? -1 : 1e6 / T;
}

bool TolmarCntrl::getScanResources(double& rate, double& duration, double& syncFreq, long& values) {
    const auto report = [&](double r, double d, double f, long v) {
        rate = r;
        duration = d;
        syncFreq = f;
        values = v;
    };
    if (!run_en) {
        if (sync_mode) {
            if (!connected) {
                report(-1, -1, -1, -1);
                return true;
            }
            if (!readFpgaConfigParameters()) {
                TOLMAR_LOG_ERROR("Failed to read FPGA config parameters from Fpga\n");
                report(-1, -1, -1, -1);
                return false;
            }
        }
        estimateScanResources();
    }
    report(ScanLimits.scanRate, ScanLimits.scanDuration, ScanLimits.syncFrequency,
           static_cast<long>(ScanLimits.valuesPerScan));
    return true;
}
