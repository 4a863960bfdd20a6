// Test helpers for the configuration record: an encoder of record images that writes every field
// at its byte offset (independent of the library's layout code), sample values for every field,
// and a fixture with a controller, the virtual sensor and no real waits.
#ifndef TESTS_TOLMAR2_RECORDIMAGE_H
#define TESTS_TOLMAR2_RECORDIMAGE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tempdir.h"
#include "tolmar2/TolmarCntrl.h"

// A little-endian record image written at explicit offsets.
struct Image {
    explicit Image(size_t size) : bytes(size, 0) {}
    void u8(size_t at, uint8_t v) { bytes.at(at) = v; }
    void u32(size_t at, uint32_t v);
    void f64(size_t at, double v);
    // Writes n doubles from `at`; returns the offset after them.
    size_t f64s(size_t at, const double* v, size_t n);
    void text(size_t at, const std::string& s, size_t width);
    std::vector<uint8_t> bytes;
};

// Distinct values for every field of a record.
struct Sample {
    std::string serial = "QM759-2403-017";
    uint32_t options = 0x202;
    uint32_t createTime = 1700000000;
    uint32_t calTime = 1700100000;
    double vRange[3][2];
    double iRange[4];
    double rCurrent[2];
    double rFilter;
    double cal_dac[4][2];
    double cal_adc_v[2];
    double cal_adc_i[4][2];
    double calAuxA[3];
    uint32_t calAuxWord = 0x00010003;
    double calAuxB[3];
    uint8_t rows = 3;
    uint8_t ranges = 2;
    uint8_t vchan = 2;
    uint32_t ext = 3;
    double cal_adc[40][2][2];  // rows x ranges up to 40 pairs: 40 rows of one range
    double cal_vmon[4][2];
    double tempCoef[20][4];
    double rangeValue[2];
    double vSettling[3][2][2];
    uint32_t extWord = 7;
};
Sample makeSample();

// Images of one record in the layout of a format.
std::vector<uint8_t> image16(const Sample& s);
std::vector<uint8_t> image14(const Sample& s, int32_t version);  // 14 or 15
std::vector<uint8_t> image13(const Sample& s);
std::vector<uint8_t> image12(const Sample& s);

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFile(const std::string& path);

class RecordFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Reads the record from a file holding `bytes`.
    int readImage(const std::vector<uint8_t>& bytes);
    // The mirror as the library encodes it (a file written by writeTolmarConfigParameters).
    std::vector<uint8_t> encoded();
    // Opens the first virtual module into the controller's handle.
    void openModule();

    TempDir dir;
    std::unique_ptr<TolmarCntrl> cntrl;
    static int sleepsOf500;
};

#endif  // TESTS_TOLMAR2_RECORDIMAGE_H
