// tolmar-info: connects to a sensor unit and prints what it knows about it: the system
// description, the calibration record and the FPGA registers as read back from the board.
// It is how a user checks a unit, and a quick manual check of the connection.
//
// The virtual sensor is used unless --link (or TOLMAR_LINK) says otherwise.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tolmar2/TolmarCntrl.h"
#include "unitreport.h"

namespace {

const char kUsage[] =
    "Usage: tolmar-info [options]\n"
    "Connects to a sensor unit and prints its description, calibration record and\n"
    "FPGA register read-back.\n"
    "\n"
    "  --link vendor|virtual|auto  USB link (default: virtual, or TOLMAR_LINK when set)\n"
    "  --device NAME               connect to this QuickUSB module (default: search)\n"
    "  --force                     connect even when the unit's record is not recognised\n"
    "  --firmware-dir DIR          look for FPGA firmware files in DIR (sets TOLMAR_FIRMWARE_DIR)\n"
    "  --record-file PATH          also write the calibration record to PATH\n"
    "  --help                      show this text\n";

struct Options {
    const char* link = nullptr;
    const char* device = nullptr;
    const char* recordFile = nullptr;
    const char* firmwareDir = nullptr;
    bool force = false;
};

// Exit codes.
enum { kOk = 0, kNotConnected = 1, kUsageError = 2, kReadBackFailed = 3, kRecordFileFailed = 4 };

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--link" && hasValue) {
            o.link = argv[++i];
        } else if (arg == "--device" && hasValue) {
            o.device = argv[++i];
        } else if (arg == "--firmware-dir" && hasValue) {
            o.firmwareDir = argv[++i];
        } else if (arg == "--record-file" && hasValue) {
            o.recordFile = argv[++i];
        } else if (arg == "--force") {
            o.force = true;
        } else {
            return false;
        }
    }
    return true;
}

void printRegisters(const TolmarCntrl& c) {
    struct Line {
        const char* name;
        long value;
    };
    const Line lines[] = {
        {"relays", c.relays},
        {"soft_adc", c.soft_adc},
        {"cnvst_pw", c.cnvst_pw},
        {"aux_sw0", c.aux_sw0},
        {"aux_sw1", c.aux_sw1},
        {"aux_sw2", c.aux_sw2},
        {"sync_lead_dtime", c.sync_lead_dtime},
        {"sync_edge_r_f", c.sync_edge_r_f},
        {"sync_mode", c.sync_mode},
        {"up_down_scan", c.up_down_scan},
        {"gain", c.gain},
        {"run_en", c.run_en.load()},
        {"read_temp", c.read_temp},
        {"iv_steps", c.iv_steps},
        {"iv_samples", c.iv_samples},
        {"sync_samples", static_cast<long>(c.sync_samples)},
        {"hvps_en0", c.hvps_en0},
        {"hvps_en1", c.hvps_en1},
        {"hvps_en2", c.hvps_en2},
        {"setup_zs_delay", static_cast<long>(c.setup_zs_delay)},
        {"setup_fs_delay", static_cast<long>(c.setup_fs_delay)},
        {"setup_ns_delay", static_cast<long>(c.setup_ns_delay)},
        {"setup_iv_delay", c.setup_iv_delay},
        {"sync_smpl_div", c.sync_smpl_div},
        {"sync_smpl_mult", c.sync_smpl_mult},
        {"sync_f_smpl_d", static_cast<long>(c.sync_f_smpl_d)},
        {"v_a_def", c.v_a_def},
        {"v_a_inc", c.v_a_inc},
        {"v_a_start", c.v_a_start},
        {"v_b_def", c.v_b_def},
        {"v_b_inc", c.v_b_inc},
        {"v_b_start", c.v_b_start},
        {"v_c_def", c.v_c_def},
        {"v_c_inc", c.v_c_inc},
        {"v_c_start", c.v_c_start},
        {"iv_steps2", c.iv_steps2},
        {"iv_samples2", c.iv_samples2},
        {"v_a_inc2", c.v_a_inc2},
        {"sync_aux_d", static_cast<long>(c.sync_aux_d)},
        {"nEnabledChannels", c.nEnabledChannels},
        {"serialTrasceiverBusy", c.serialTrasceiverBusy},
        {"sync_frq_high", c.sync_frq_high},
        {"sync_frq_low", c.sync_frq_low},
        {"sync_frq_locked", c.sync_frq_locked},
        {"sync_frq8", static_cast<long>(c.sync_frq8)},
    };
    std::printf("---------- FPGA registers (read back) ----------\n");
    std::printf("fpgaFirmwareID: %04X\n", c.fpgaFirmwareID);
    for (const Line& l : lines) std::printf("%s: %ld\n", l.name, l.value);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        const bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
        std::fputs(kUsage, help ? stdout : stderr);
        return help ? kOk : kUsageError;
    }
    // The link is chosen when the library is first used, so it is set before anything else.
    if (o.link) {
        setenv("TOLMAR_LINK", o.link, 1);
    } else {
        setenv("TOLMAR_LINK", "virtual", 0);
    }
    if (o.firmwareDir)
        setenv("TOLMAR_FIRMWARE_DIR", o.firmwareDir, 1);
    TolmarCntrl::setLogging(0);  // the library's log goes to standard error only

    TolmarCntrl c;
    const int result =
        o.device ? c.connectTo(const_cast<char*>(o.device), o.force, true) : c.connectTo(o.force);
    if (result != 1) {
        std::fprintf(stderr, "tolmar-info: no unit connected (result %d)\n", result);
        printSystemDescription(c);
        return kNotConnected;
    }

    printSystemDescription(c);
    c.printI2cMem();
    int status = kOk;
    if (c.readFpgaConfigParameters()) {
        printRegisters(c);
    } else {
        std::fprintf(stderr, "tolmar-info: the FPGA registers could not be read back\n");
        status = kReadBackFailed;
    }
    if (o.recordFile) {
        std::string path = o.recordFile;
        if (c.writeTolmarConfigParameters(nullptr, path.data()) == 1) {
            std::printf("Record written to %s\n", o.recordFile);
        } else {
            std::fprintf(stderr, "tolmar-info: could not write the record to %s\n", o.recordFile);
            status = kRecordFileFailed;
        }
    }
    c.disconnect();
    return status;
}
