// tolmar-info run as a user runs it, against the virtual sensor in its own process. The record
// it writes is checked against the virtual unit's memory image, read here through the control
// interface of a second, independent emulation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cliprocess.h"
#include "tempdir.h"
#include "vsensor/VirtualSensor.h"

namespace {

CliRun runTool(const std::string& environment, const std::string& arguments) {
    return runProgram(TOLMAR_INFO, words(arguments), words(environment));
}

TEST(TolmarInfo, PrintsDescriptionRecordAndRegisters) {
    TempDir dir(true);
    const CliRun run = runTool("TOLMAR_VSENSOR_PROFILE=disc13", "--record-file unit.rec");
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
    const CliRun run = runTool("TOLMAR_VSENSOR_PROFILE=blank", "");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("System SN: -\n"), std::string::npos);
    const CliRun forced = runTool("TOLMAR_VSENSOR_PROFILE=blank TOLMAR_FIRMWARE_DIR=/nonexistent",
                                  "--force --device QUSB-0 --firmware-dir " FIRMWARE_SOURCE_DIR);
    EXPECT_EQ(forced.status, 0);
    EXPECT_NE(forced.out.find("fpgaFirmwareID: AC45\n"), std::string::npos);
}

}  // namespace
