// Scan run control: start, stop and abort, progress, and the packet-level helpers.
#include <cmath>
#include <cstring>
#include <new>

#include "ScanSupport.h"
#include "UsbLink.h"
#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

constexpr uint16_t kValidMask = 0x4000;  // readPacket: bit 14 of the first word
constexpr uint16_t kPacketLengthMask = 0x0FFF;
constexpr QULONG kPacketReadBytes = 512;

}  // namespace

bool TolmarCntrl::startScan() {
    samplesRead = 0;
    if (!connected) {
        TOLMAR_LOG_ERROR("Cannoct run new scan without Tolmar properly connected\n");
        return false;
    }
    if (run_en) {
        run_en = false;
        if (!writeFpgaConfigParameters(true, false)) {
            TOLMAR_LOG_ERROR("Failed to stop already running scan\n");
            return false;
        }
    }
    if (sync_mode && tolmar2::scan::waitForSyncLock(*this) != 1)
        return false;

    // The programmed voltage of the swept output at every step, for the conversion.
    const size_t steps = iv_steps;
    if (monitorVoltagesCapacity < steps || !monitorVoltages) {
        monitorVoltages.reset(new (std::nothrow) double[steps]);
        monitorVoltagesCapacity = monitorVoltages ? steps : 0;
        if (!monitorVoltages) {
            TOLMAR_LOG_ERROR("Failed to allocate memory of double[%d]\n\t%s\n",
                             static_cast<int>(steps), std::strerror(ENOMEM));
            return false;
        }
    }
    const int output = vcScannable ? 2 : 0;
    const uint16_t start = vcScannable ? v_c_start : v_a_start;
    const int32_t inc = vcScannable ? v_c_inc : v_a_inc;
    for (size_t i = 0; i < steps; ++i) {
        const uint16_t code = static_cast<uint16_t>(start + i * inc);
        monitorVoltages[i] = tolmar2::scan::dacVolts(*this, output, code);
    }

    // A fixed supply on output C always outputs its idle register: during a scan that register
    // carries the scan's voltage.
    if (!vcScannable)
        std::swap(v_c_start, v_c_def);
    run_aux = false;
    run_en = true;
    if (!writeFpgaConfigParameters(true, false)) {
        TOLMAR_LOG_ERROR("Failed to run scan\n");
        return false;
    }
    return true;
}

bool TolmarCntrl::stopScan() {
    run_en = false;
    if (!vcScannable)
        std::swap(v_c_start, v_c_def);
    if (!connected)
        return true;
    if (!writeFpgaConfigParameters(true, false)) {
        TOLMAR_LOG_ERROR("Failed to stop running scan\n");
        return false;
    }
    return true;
}

int TolmarCntrl::abortAll() {
    TOLMAR_LOG_MESSAGE("First stap scan\n");
    TOLMAR_LOG_MESSAGE("I am trying to stap the scan\n");
    abortRequested = true;
    return 1;
}

void TolmarCntrl::getScanProgress(int& percent, double& duration, int& elapsed) {
    // Before an estimate exists there is nothing to measure progress against.
    percent = ScanLimits.samplesExpected == 0
                  ? 0
                  : static_cast<int>(std::lround(static_cast<float>(samplesRead) * 100.0f /
                                                 static_cast<float>(ScanLimits.samplesExpected)));
    duration = ScanLimits.scanDuration;
    elapsed = static_cast<int>(tolmar2::scan::nowSeconds() - scanStartTime);
}

double TolmarCntrl::doAverageWithSaturate(short* samples, int n, int* /*reserved*/) {
    if (!samples || n < 1)
        return 0;
    double sum = 0;
    int valid = 0;
    for (int i = 0; i < n; ++i) {
        if (samples[i] != -32768) {
            sum += samples[i];
            ++valid;
        }
    }
    return valid ? sum / valid : 0;
}

int TolmarCntrl::readPacket(short* samples, int& count, bool& running, bool& last, unsigned& status,
                            bool /*reserved*/) {
    for (;;) {
        if (packetBufferFill > 0) {
            const uint16_t header = packetBuffer[0];
            if (!(header & kValidMask)) {
                TOLMAR_LOG_ERROR(
                    "Either device lost USB connection to PC or scan doesn't run anymore\n");
                return -2;
            }
            const int n = header & kPacketLengthMask;
            if (packetBufferFill >= n + 2) {
                last = header & 0x8000;
                running = true;
                count = n > 0 ? n - 1 : 0;
                if (samples && count > 0)
                    std::memcpy(samples, packetBuffer + 1, count * sizeof(short));
                status = packetBuffer[n] | (static_cast<unsigned>(packetBuffer[n + 1]) << 16);
                packetBufferFill -= n + 2;
                std::memmove(packetBuffer, packetBuffer + n + 2,
                             packetBufferFill * sizeof packetBuffer[0]);
                return 1;
            }
        }
        // A packet is at most 4097 words, so the buffer always has room for more.
        QULONG length = kPacketReadBytes;
        if (!tolmar2::link::call::QuickUsbReadData(
                qusbHandle, reinterpret_cast<QBYTE*>(packetBuffer + packetBufferFill), &length)) {
            QULONG error = 0;
            tolmar2::link::call::QuickUsbGetLastError(&error);
            TOLMAR_LOG_ERROR("Failed to read fifo data from Fpga ; USB error number :  %d\n",
                             static_cast<int>(error));
            return -1;
        }
        packetBufferFill += static_cast<int>(std::min<QULONG>(length, kPacketReadBytes) / 2);
    }
}
