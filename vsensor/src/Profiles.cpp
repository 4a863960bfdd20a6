#include "Profiles.h"

#include <cstring>

namespace vsensor {
namespace {

// Small deterministic deviations (within +-scale) so that channels of one unit differ the way
// individually calibrated channels do.
double spread(int i, double scale) {
    return scale * (((i * 37 + 5) % 11) - 5) / 5.0;
}

UnitProfile baseProfile(const char* name, const char* devName, uint32_t options,
                        uint32_t createTime, uint32_t calTime) {
    UnitProfile p;
    p.name = name;
    p.devName = devName;
    p.deviceOptions = options;
    p.createTime = createTime;
    p.calTime = calTime;
    const double iRange[4] = {6e-6, 6e-5, 0.00024, 0.0024};
    for (int r = 0; r < 4; ++r) {
        p.iRange[r] = iRange[r];
        p.cal_adc_i[r][0] = iRange[r] * 1e-3 * spread(r, 1.0);
        p.cal_adc_i[r][1] = iRange[r] / 32768.0 * (1.0 + spread(r + 3, 0.004));
    }
    p.rCurrent[0] = 470;
    p.rCurrent[1] = 22000;
    p.rFilter = 197000;
    p.calAuxA[0] = 0.9981;
    p.calAuxA[1] = 1.0024;
    p.calAuxA[2] = 1.0;
    p.calAuxWord = 0x00010003;
    p.calAuxB[0] = 0.125;
    p.calAuxB[1] = -0.0875;
    p.calAuxB[2] = 0.0;
    p.nCalRanges = 2;
    p.rangeValue[0] = 6e-6;
    p.rangeValue[1] = 2e-6;
    for (auto& row : p.tempCoef) {
        row[0] = 2461;
        row[1] = 1e6;
        row[2] = 49900;
        row[3] = 860000;
    }
    return p;
}

// Outputs A and B are driven by 12-bit DACs, output C by a 16-bit one. DAC k maps [lo, hi]
// volts onto the middle 98 % of its codes, with a small individual gain and zero error
// (code = slope * volts + offset).
void setDac(UnitProfile& p, int k, double lo, double hi) {
    const double fullScale = k < 2 ? 4096.0 : 65536.0;
    const double slope = 0.98 * fullScale / (hi - lo) * (1.0 + spread(k, 0.003));
    p.cal_dac[k][1] = slope;
    p.cal_dac[k][0] = fullScale / 2 - slope * (hi + lo) / 2.0 + spread(k + 7, fullScale / 16384);
}

// Output k (A, B or C) spans [lo, hi] volts through DAC k.
void setOutput(UnitProfile& p, int k, double lo, double hi) {
    p.vRange[k][0] = lo;
    p.vRange[k][1] = hi;
    setDac(p, k, lo, hi);
}

// Probe rows and monitors: ADC codes (signed 16-bit) to amperes per calibration range and to
// volts for the monitors.
void setChannels(UnitProfile& p, uint8_t rows, uint8_t monitors, uint8_t extProbes) {
    p.nCalRows = rows;
    p.nVchan = monitors;
    p.nExtProbes = extProbes;
    for (int k = 0; k < rows; ++k) {
        for (int g = 0; g < p.nCalRanges; ++g) {
            p.cal_adc[k][g][0] = p.rangeValue[g] * 2e-3 * spread(2 * k + g, 1.0);
            p.cal_adc[k][g][1] = p.rangeValue[g] / 32768.0 * (1.0 + spread(3 * k + g, 0.01));
        }
    }
    for (int m = 0; m < monitors; ++m) {
        p.cal_vmon[m][0] = spread(m + 2, 0.05);
        p.cal_vmon[m][1] = 200.0 / 65536.0 * (1.0 + spread(m, 0.002));
    }
}

std::vector<UnitProfile> buildProfiles() {
    std::vector<UnitProfile> all;

    // One probe, two ADC values (voltage and current); output C is a scanned DAC and drives the
    // bias grid.
    UnitProfile single = baseProfile("single", "QM759-2403-017", 0x202, 1709544600, 1710771000);
    setOutput(single, 0, -100, 100);
    setOutput(single, 1, -100, 100);
    setOutput(single, 2, -60, 60);
    setDac(single, 3, -10, 10);
    setChannels(single, 1, 0, 1);
    single.syncHz = 1000;
    all.push_back(single);

    // 13 sensors on a 300 mm carrier disc: extended probe board with channel enables, four
    // voltage monitors, sensor code 2 in configuration entry 0x80.
    UnitProfile disc = baseProfile("disc13", "QM759-2501-042", 0x252, 1736757900, 1738599600);
    setOutput(disc, 0, -150, 150);
    setOutput(disc, 1, -150, 150);
    setOutput(disc, 2, -80, 80);
    setDac(disc, 3, -10, 10);
    setChannels(disc, 13, 4, 13);
    for (int k = 0; k < 13; ++k) disc.tempCoef[k][2] = 49900 + spread(k, 150.0);
    disc.extTag = 0x80;
    disc.extWord = 2;
    disc.syncHz = 0;  // no sync signal wired
    all.push_back(disc);

    // Aspect-ratio sensor: 16 ADC values (13 probes); output C is a scanned DAC (driving the
    // secondary-electron suppression, as on every multi-channel unit).
    UnitProfile ar = baseProfile("ar", "QM794-2409-003", 0x206, 1725879600, 1727710800);
    setOutput(ar, 0, -100, 100);
    setOutput(ar, 1, -200, 200);
    setOutput(ar, 2, -60, 60);
    setDac(ar, 3, -10, 10);
    setChannels(ar, 13, 3, 13);
    ar.extTag = 0x80;
    ar.extWord = 3;
    ar.syncHz = 5000;
    all.push_back(ar);

    // Older unit: output C is a fixed high-voltage supply, negative side through cal_dac[2],
    // positive through cal_dac[3]; option bits 8 and 9 clear.
    UnitProfile legacy = baseProfile("legacy", "QM745-1907-009", 0x000, 1563790500, 1563790500);
    setOutput(legacy, 0, -100, 100);
    setOutput(legacy, 1, -100, 100);
    legacy.vRange[2][0] = -500;
    legacy.vRange[2][1] = 500;
    legacy.cal_dac[2][0] = 12.0;
    legacy.cal_dac[2][1] = -131.0;
    legacy.cal_dac[3][0] = 9.0;
    legacy.cal_dac[3][1] = 131.0;
    setChannels(legacy, 1, 0, 1);
    all.push_back(legacy);

    // A unit the program must refuse: option bit 8 set, bit 9 clear.
    UnitProfile unusable = baseProfile("unusable", "QM759-2305-011", 0x102, 1683551100, 1700470800);
    setOutput(unusable, 0, -100, 100);
    setOutput(unusable, 1, -100, 100);
    setOutput(unusable, 2, -60, 60);
    setDac(unusable, 3, -10, 10);
    setChannels(unusable, 1, 0, 1);
    unusable.syncHz = 1000;
    all.push_back(unusable);

    UnitProfile blank;
    blank.name = "blank";
    blank.blank = true;
    all.push_back(blank);
    return all;
}

// Little-endian writer over a fixed-size image.
class RecordWriter {
public:
    explicit RecordWriter(std::vector<uint8_t>& image) : image_(image) {}
    void u8(uint8_t v) { image_.at(pos_++) = v; }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) u8(static_cast<uint8_t>(v >> (8 * i)));
    }
    void f64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        for (int i = 0; i < 8; ++i) u8(static_cast<uint8_t>(bits >> (8 * i)));
    }
    void f64s(const double* v, size_t n) {
        for (size_t i = 0; i < n; ++i) f64(v[i]);
    }
    void text(const std::string& s, size_t width) {
        for (size_t i = 0; i < width; ++i) u8(i < s.size() && i + 1 < width ? s[i] : 0);
    }
    size_t pos() const { return pos_; }

private:
    std::vector<uint8_t>& image_;
    size_t pos_ = 0;
};

}  // namespace

const std::vector<UnitProfile>& unitProfiles() {
    static const std::vector<UnitProfile> profiles = buildProfiles();
    return profiles;
}

const UnitProfile* findProfile(const std::string& name) {
    for (const UnitProfile& p : unitProfiles()) {
        if (p.name == name)
            return &p;
    }
    return nullptr;
}

std::vector<std::string> profileNames() {
    std::vector<std::string> names;
    for (const UnitProfile& p : unitProfiles()) names.push_back(p.name);
    return names;
}

namespace detail {

std::vector<uint8_t> encodeRecord(const UnitProfile& p) {
    if (p.blank)
        return {};
    std::vector<uint8_t> image(kRecordSize, 0);
    RecordWriter w(image);
    w.u32(kRecordMagic);                            // 0
    w.u32(static_cast<uint32_t>(p.formatVersion));  // 4
    w.text(p.devName, 20);                          // 8
    w.u32(p.deviceOptions);                         // 28
    w.u32(p.createTime);                            // 32
    w.u32(p.calTime);                               // 36
    w.f64s(&p.vRange[0][0], 6);                     // 40
    w.f64s(p.iRange, 4);                            // 88
    w.f64s(p.rCurrent, 2);                          // 120
    w.f64(p.rFilter);                               // 136
    w.f64s(&p.cal_dac[0][0], 8);                    // 144
    w.f64s(&p.cal_adc_i[0][0], 8);                  // 208
    w.f64s(p.calAuxA, 3);                           // 272
    w.u32(p.calAuxWord);                            // 296
    w.f64s(p.calAuxB, 3);                           // 300
    w.u8(p.nCalRows);                               // 324
    w.u8(p.nCalRanges);                             // 325
    w.u8(p.nVchan);                                 // 326
    w.u8(p.nExtProbes);                             // 327
    for (int k = 0; k < p.nCalRows; ++k) {          // 328
        for (int g = 0; g < p.nCalRanges; ++g) w.f64s(p.cal_adc[k][g], 2);
    }
    w.f64s(&p.cal_vmon[0][0], 2 * static_cast<size_t>(p.nVchan));
    w.f64s(&p.tempCoef[0][0], 80);
    w.f64s(p.rangeValue, p.nCalRanges);
    w.u32(p.extTag);
    w.u32(p.extWord);
    return image;
}

}  // namespace detail
}  // namespace vsensor
