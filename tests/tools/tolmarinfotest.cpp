// tolmar-info run as a user runs it, against the virtual sensor in its own process. The record
// it writes is checked against the virtual unit's memory image, read here through the control
// interface of a second, independent emulation.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tempdir.h"
#include "vsensor/VirtualSensor.h"

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

ToolRun runTool(const std::string& environment, const std::string& arguments) {
    const std::string command = "env TOLMAR_FIRMWARE_DIR=" FIRMWARE_SOURCE_DIR " " + environment +
                                " " TOLMAR_INFO " " + arguments + " 2>/dev/null";
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.out.append(chunk, n);
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

TEST(TolmarInfo, PrintsDescriptionRecordAndRegisters) {
    TempDir dir(true);
    const ToolRun run = runTool("TOLMAR_VSENSOR_PROFILE=disc13", "--record-file unit.rec");
    ASSERT_EQ(run.status, 0) << run.out;
    for (const char* line :
         {"System SN: QM759-2501-042\n", "Firmware Version: ACE2\n", "i2cMagicString: B070AAA0\n",
          "fpgaFirmwareID: ACE2\n", "iv_steps: 8\n", "Record written to unit.rec\n"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line;
    }
    vsensor::reset();
    ASSERT_TRUE(vsensor::loadProfile("disc13"));
    const std::vector<uint8_t> memory = vsensor::readMemory(vsensor::kRecordAddress, 2048);
    const std::string written = readWholeFile(dir.file("unit.rec"));
    ASSERT_EQ(written.size(), memory.size());
    EXPECT_TRUE(
        std::equal(memory.begin(), memory.end(), reinterpret_cast<const uint8_t*>(written.data())));
}

TEST(TolmarInfo, ReportsAUnitThatDoesNotConnect) {
    TempDir dir(true);
    const ToolRun run = runTool("TOLMAR_VSENSOR_PROFILE=blank", "");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("System SN: -\n"), std::string::npos);
    const ToolRun forced = runTool("TOLMAR_VSENSOR_PROFILE=blank TOLMAR_FIRMWARE_DIR=/nonexistent",
                                   "--force --device QUSB-0 --firmware-dir " FIRMWARE_SOURCE_DIR);
    EXPECT_EQ(forced.status, 0);
    EXPECT_NE(forced.out.find("fpgaFirmwareID: AC45\n"), std::string::npos);
}

TEST(TolmarInfo, RejectsUnknownOptions) {
    EXPECT_EQ(runTool("", "--bogus").status, 2);
    const ToolRun help = runTool("", "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: tolmar-info"), std::string::npos);
}

}  // namespace
