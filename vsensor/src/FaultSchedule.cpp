#include "FaultSchedule.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace vsensor::detail {
namespace {

bool isWriteFault(Fault f) {
    return f == Fault::I2cWriteFail;
}

bool isI2cFault(Fault f) {
    return f == Fault::I2cWriteFail || f == Fault::I2cReadFail || f == Fault::I2cShortRead;
}

// A positive decimal number filling the whole text.
bool parseCount(const std::string& text, int& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const long v = std::strtol(text.c_str(), nullptr, 10);
    if (errno != 0 || v < 1 || v > 1000000000L)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool parseKind(const std::string& text, Fault& out) {
    static const struct {
        const char* name;
        Fault fault;
    } kKinds[] = {{"i2c-write-fail", Fault::I2cWriteFail},
                  {"i2c-read-fail", Fault::I2cReadFail},
                  {"i2c-short-read", Fault::I2cShortRead},
                  {"data-write-fail", Fault::DataWriteFail},
                  {"data-read-fail", Fault::DataReadFail},
                  {"fpga-chunk-fail", Fault::FpgaChunkFail},
                  {"transceiver-busy", Fault::TransceiverBusy},
                  {"unplug", Fault::Unplug},
                  {"short-block", Fault::ShortBlock},
                  {"stream-stop", Fault::StreamStop},
                  {"sync-loss", Fault::SyncLoss},
                  {"sync-period-change", Fault::SyncPeriodChange}};
    for (const auto& k : kKinds) {
        if (text == k.name) {
            out = k.fault;
            return true;
        }
    }
    return false;
}

}  // namespace

void FaultSchedule::schedule(Fault fault, int nth, int repeat) {
    if (nth < 1 || repeat < 1)
        return;
    pending_.push_back({fault, nth - 1, repeat});
}

bool FaultSchedule::parse(const std::string& text) {
    std::vector<Pending> parsed;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(',', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string entry = text.substr(pos, end - pos);
        pos = end + 1;
        if (entry.empty()) {
            if (text.empty())
                break;  // an empty text schedules nothing and is valid
            return false;
        }
        const size_t at = entry.find('@');
        if (at == std::string::npos)
            return false;
        const size_t x = entry.find('x', at);
        Fault fault;
        int nth = 0;
        int repeat = 1;
        if (!parseKind(entry.substr(0, at), fault))
            return false;
        if (!parseCount(
                entry.substr(at + 1, x == std::string::npos ? std::string::npos : x - at - 1), nth))
            return false;
        if (x != std::string::npos && !parseCount(entry.substr(x + 1), repeat))
            return false;
        parsed.push_back({fault, nth - 1, repeat});
    }
    pending_.insert(pending_.end(), parsed.begin(), parsed.end());
    return true;
}

std::optional<Fault> FaultSchedule::onI2cTransfer(bool write) {
    std::optional<Fault> hit;
    for (Pending& p : pending_) {
        if (!isI2cFault(p.fault) || isWriteFault(p.fault) != write)
            continue;
        if (p.skip > 0) {
            --p.skip;
            continue;
        }
        --p.repeat;
        if (!hit || p.fault == Fault::I2cReadFail)
            hit = p.fault;
    }
    dropSpent();
    return hit;
}

bool FaultSchedule::onEvent(Fault fault) {
    bool hit = false;
    for (Pending& p : pending_) {
        if (p.fault != fault)
            continue;
        if (p.skip > 0) {
            --p.skip;
            continue;
        }
        --p.repeat;
        hit = true;
    }
    dropSpent();
    return hit;
}

void FaultSchedule::dropSpent() {
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [](const Pending& p) { return p.repeat <= 0; }),
                   pending_.end());
}

}  // namespace vsensor::detail
