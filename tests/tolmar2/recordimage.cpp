#include "recordimage.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "Platform.h"
#include "UsbLink.h"
#include "vsensor/VirtualSensor.h"

void Image::u32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) u8(at + i, static_cast<uint8_t>(v >> (8 * i)));
}

void Image::f64(size_t at, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int i = 0; i < 8; ++i) u8(at + i, static_cast<uint8_t>(bits >> (8 * i)));
}

size_t Image::f64s(size_t at, const double* v, size_t n) {
    for (size_t i = 0; i < n; ++i) f64(at + 8 * i, v[i]);
    return at + 8 * n;
}

void Image::text(size_t at, const std::string& s, size_t width) {
    for (size_t i = 0; i < width && i < s.size(); ++i) u8(at + i, static_cast<uint8_t>(s[i]));
}

Sample makeSample() {
    Sample s;
    double next = 0.5;
    const auto fill = [&next](double* v, size_t n) {
        for (size_t i = 0; i < n; ++i) v[i] = (next += 1.25);
    };
    fill(&s.vRange[0][0], 6);
    fill(s.iRange, 4);
    fill(s.rCurrent, 2);
    fill(&s.rFilter, 1);
    fill(&s.cal_dac[0][0], 8);
    fill(s.cal_adc_v, 2);
    fill(&s.cal_adc_i[0][0], 8);
    fill(s.calAuxA, 3);
    fill(s.calAuxB, 3);
    fill(&s.cal_adc[0][0][0], 160);
    fill(&s.cal_vmon[0][0], 8);
    fill(&s.tempCoef[0][0], 80);
    fill(s.rangeValue, 2);
    fill(&s.vSettling[0][0][0], 12);
    return s;
}

namespace {

// Bytes 0-143 of formats 12 and later.
Image identity(const Sample& s, size_t size, int32_t version) {
    Image im(size);
    im.u32(0, 0xB070AAA0u);
    im.u32(4, static_cast<uint32_t>(version));
    im.text(8, s.serial, 20);
    im.u32(28, s.options);
    im.u32(32, s.createTime);
    im.u32(36, s.calTime);
    im.f64s(40, &s.vRange[0][0], 6);
    im.f64s(88, s.iRange, 4);
    im.f64s(120, s.rCurrent, 2);
    im.f64(136, s.rFilter);
    return im;
}

// Bytes 144-323 of formats 14 and later.
void counted(Image& im, const Sample& s) {
    im.f64s(144, &s.cal_dac[0][0], 8);
    im.f64s(208, &s.cal_adc_i[0][0], 8);
    im.f64s(272, s.calAuxA, 3);
    im.u32(296, s.calAuxWord);
    im.f64s(300, s.calAuxB, 3);
    im.u8(324, s.rows);
    im.u8(325, s.ranges);
    im.u8(326, s.vchan);
}

size_t calTables(Image& im, const Sample& s, size_t at) {
    // Rows without ranges take no bytes (and may be more than the sample has room for).
    for (int r = 0; s.ranges > 0 && r < s.rows; ++r)
        at = im.f64s(at, &s.cal_adc[r][0][0], 2 * s.ranges);
    return im.f64s(at, &s.cal_vmon[0][0], 2 * s.vchan);
}

}  // namespace

std::vector<uint8_t> image16(const Sample& s) {
    Image im = identity(s, 2048, 16);
    counted(im, s);
    im.u8(327, static_cast<uint8_t>(s.ext));
    size_t at = calTables(im, s, 328);
    at = im.f64s(at, &s.tempCoef[0][0], 80);
    at = im.f64s(at, s.rangeValue, s.ranges);
    im.u32(at, 0x80);
    im.u32(at + 4, s.extWord);
    return im.bytes;
}

std::vector<uint8_t> image14(const Sample& s, int32_t version) {
    Image im = identity(s, 2048, version);
    counted(im, s);
    size_t at = calTables(im, s, 327);
    if (s.options & 0x10) {
        im.u32(at, s.ext);
        im.f64s(at + 4, &s.tempCoef[0][0], 80);
    }
    return im.bytes;
}

std::vector<uint8_t> image13(const Sample& s) {
    Image im = identity(s, 816, 13);
    im.f64s(144, &s.cal_dac[0][0], 8);
    im.f64s(208, &s.cal_adc[0][0][0], 64);
    im.f64s(720, &s.vSettling[0][0][0], 12);
    return im.bytes;
}

std::vector<uint8_t> image12(const Sample& s) {
    Image im = identity(s, 368, 12);
    im.f64s(144, &s.cal_dac[0][0], 6);
    im.f64s(192, s.cal_adc_v, 2);
    im.f64s(208, &s.cal_adc_i[0][0], 8);
    im.f64s(272, &s.vSettling[0][0][0], 12);
    return im.bytes;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int RecordFixture::sleepsOf500 = 0;

void RecordFixture::SetUp() {
    setenv("TOLMAR_LINK", "virtual", 1);
    setenv("TZ", "UTC", 1);
    tzset();
    tolmar2::link::reselect();
    tolmar2::link::setI2cPause(std::chrono::milliseconds(0));
    sleepsOf500 = 0;
    tolmar2::platform::setSleepFunction([](unsigned ms) { sleepsOf500 += ms == 500; });
    TolmarCntrl::setLogging(0);
    vsensor::reset();
    cntrl = std::make_unique<TolmarCntrl>();
}

void RecordFixture::TearDown() {
    cntrl.reset();
    vsensor::clearFaults();
    tolmar2::platform::setSleepFunction(nullptr);
    tolmar2::link::setI2cPause(std::chrono::milliseconds(10));
}

int RecordFixture::readImage(const std::vector<uint8_t>& bytes) {
    const std::string path = dir.file("in.rec");
    writeFile(path, bytes);
    return cntrl->readTolmarConfigParameters(const_cast<char*>(path.c_str()));
}

std::vector<uint8_t> RecordFixture::encoded() {
    const std::string path = dir.file("out.rec");
    EXPECT_EQ(1, cntrl->writeTolmarConfigParameters(nullptr, const_cast<char*>(path.c_str())));
    return readFile(path);
}

void RecordFixture::openModule() {
    char name[] = "QUSB-0";
    ASSERT_NE(0, tolmar2::link::call::QuickUsbOpen(&cntrl->qusbHandle, name));
}
