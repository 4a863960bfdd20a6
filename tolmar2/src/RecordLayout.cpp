#include "RecordLayout.h"

#include <cstring>
#include <ctime>
#include <type_traits>
#include <utility>

#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

namespace tolmar2::record {
namespace {

constexpr uint32_t EXT_WORD_TAG = 0x80;          // marks the trailing extWord (format 16)
constexpr uint32_t MAX_LEGACY_EXT_PROBES = 100;  // format 14/15: larger counts read as 0
constexpr int FORMAT13_CAL_ROWS = 16;

enum class Mode {
    Encode,  // mirror -> image
    Check,   // image read, mirror untouched
    Decode,  // image -> mirror
};

// Walks a record image field by field. Every access is bounds-checked: past the end of the image
// nothing is read or written, the walk sees zeros and overrun() turns true.
class Walker {
public:
    Walker(Mode mode, const uint8_t* in, uint8_t* out, size_t size)
        : mode_(mode), in_(in), out_(out), size_(size) {}

    bool encoding() const { return mode_ == Mode::Encode; }
    bool decoding() const { return mode_ == Mode::Decode; }
    bool overrun() const { return overrun_; }
    void seek(size_t offset) { pos_ = offset; }

    // One number stored as S, held in a mirror field of type T. Returns the value the walk sees:
    // the field's value when encoding, the value read otherwise.
    template <class S, class T>
    T number(T& field) {
        if (!span(sizeof(S)))
            return encoding() ? field : T{};
        if (encoding()) {
            put<S>(out_ + pos_, static_cast<S>(field));
            pos_ += sizeof(S);
            return field;
        }
        const T value = static_cast<T>(get<S>(in_ + pos_));
        pos_ += sizeof(S);
        if (decoding())
            field = value;
        return value;
    }
    template <class T>
    T number(T& field) {
        return number<T, T>(field);
    }

    void doubles(double* first, size_t count) {
        for (size_t i = 0; i < count; ++i) number(first[i]);
    }

    // A fixed-size text field; decoded text is always NUL-terminated within the field.
    void text(char* field, size_t size) {
        if (!span(size))
            return;
        if (encoding()) {
            std::memcpy(out_ + pos_, field, size);
        } else if (decoding()) {
            std::memcpy(field, in_ + pos_, size);
            field[size - 1] = '\0';
        }
        pos_ += size;
    }

    // Sets a mirror field that the layout derives rather than stores (decoding only).
    template <class T>
    void assign(T& field, T value) {
        if (decoding())
            field = value;
    }

private:
    bool span(size_t n) {
        if (pos_ > size_ || n > size_ - pos_) {
            overrun_ = true;
            return false;
        }
        return true;
    }

    template <class S>
    static uint64_t bitsOf(S v) {
        if constexpr (std::is_floating_point_v<S>) {
            uint64_t bits = 0;
            static_assert(sizeof(S) == sizeof bits);
            std::memcpy(&bits, &v, sizeof bits);
            return bits;
        } else {
            return static_cast<std::make_unsigned_t<S>>(v);
        }
    }

    template <class S>
    static void put(uint8_t* p, S v) {
        const uint64_t bits = bitsOf(v);
        for (size_t i = 0; i < sizeof(S); ++i) p[i] = static_cast<uint8_t>(bits >> (8 * i));
    }

    template <class S>
    static S get(const uint8_t* p) {
        uint64_t bits = 0;
        for (size_t i = 0; i < sizeof(S); ++i) bits |= uint64_t(p[i]) << (8 * i);
        if constexpr (std::is_floating_point_v<S>) {
            S v;
            std::memcpy(&v, &bits, sizeof v);
            return v;
        } else {
            return static_cast<S>(static_cast<std::make_unsigned_t<S>>(bits));
        }
    }

    Mode mode_;
    const uint8_t* in_;
    uint8_t* out_;
    size_t size_;
    size_t pos_ = 0;
    bool overrun_ = false;
};

// Refuses counts that would index past the mirror's tables; logged once per refused walk.
int checkCounts(const Walker& w, unsigned rows, unsigned ranges, unsigned vchan) {
    if (rows * ranges <= TolmarCntrl::MAX_CAL_PAIRS && ranges <= TolmarCntrl::MAX_CAL_RANGES &&
        vchan <= TolmarCntrl::MAX_VCHAN)
        return 1;
    if (!w.decoding()) {
        TOLMAR_LOG_ERROR(
            "Configuration record does not fit: %u calibration rows of %u ranges, %u voltage "
            "monitors\n",
            rows, ranges, vchan);
    }
    return TolmarCntrl::RECORD_DOES_NOT_FIT;
}

// Bytes 0-31, common to every format. Returns deviceOptions as walked.
uint32_t walkHeader(Walker& w, TolmarCntrl& m) {
    uint32_t magic = TolmarCntrl::I2C_MAGIC_STRING;  // the writer always stores the magic
    w.assign(m.i2cMagicString, w.number(magic));
    w.number(m.i2cFormatVersion);
    w.text(m.devName, sizeof m.devName);
    return w.number(m.deviceOptions);
}

// Bytes 0-143 of formats 12 and later. Returns deviceOptions as walked.
uint32_t walkIdentity(Walker& w, TolmarCntrl& m) {
    const uint32_t options = walkHeader(w, m);
    w.number(m.createTime);
    w.number(m.calTime);
    w.doubles(&m.vRange[0][0], 6);
    w.doubles(m.iRange, 4);
    w.doubles(m.rCurrent, 2);
    w.number(m.rFilter);
    return options;
}

void resetDacPair(Walker& w, double (&pair)[2]) {
    w.assign(pair[0], 0.0);
    w.assign(pair[1], 1.0);
}

// Formats 14 and later: counted calibration tables; 16 adds the extended probe count byte,
// rangeValue and the tagged extWord.
int walkCounted(Walker& w, TolmarCntrl& m, int32_t version) {
    const uint32_t options = walkIdentity(w, m);
    w.doubles(&m.cal_dac[0][0], 8);
    w.doubles(&m.cal_adc_i[0][0], 8);
    w.doubles(m.calAuxA, 3);
    w.number(m.calAuxWord);
    w.doubles(m.calAuxB, 3);
    const unsigned rows = w.number(m.nCalRows);
    const unsigned ranges = w.number(m.nCalRanges);
    const unsigned vchan = w.number(m.nVchan);
    const bool current = version >= 16;
    if (current)
        w.number<uint8_t>(m.nExtProbes);
    if (checkCounts(w, rows, ranges, vchan) != 1)
        return TolmarCntrl::RECORD_DOES_NOT_FIT;

    // Rows without ranges carry no pairs (and may be more than the mirror has rows).
    for (unsigned r = 0; ranges > 0 && r < rows; ++r) w.doubles(&m.cal_adc[r][0][0], 2 * ranges);
    w.doubles(&m.cal_vmon[0][0], 2 * vchan);
    if (current) {
        w.doubles(&m.tempCoef[0][0], 4 * TolmarCntrl::MAX_TEMP_ROWS);
        w.doubles(m.rangeValue, ranges);
        uint32_t tag = EXT_WORD_TAG;
        if (w.number(tag) == EXT_WORD_TAG)
            w.number(m.extWord);
        return 1;
    }
    if (options & TolmarCntrl::OPTION_EXTENDED) {
        if (w.number(m.nExtProbes) > MAX_LEGACY_EXT_PROBES)
            w.assign(m.nExtProbes, uint32_t{0});
        w.doubles(&m.tempCoef[0][0], 4 * TolmarCntrl::MAX_TEMP_ROWS);
    } else {
        w.assign(m.nExtProbes, static_cast<uint32_t>(rows));
    }
    return 1;
}

// Format 13: a fixed table of 16 calibration rows and the settling model after cal_dac.
int walkFormat13(Walker& w, TolmarCntrl& m) {
    walkIdentity(w, m);
    w.doubles(&m.cal_dac[0][0], 8);
    w.doubles(&m.cal_adc[0][0][0], FORMAT13_CAL_ROWS * 2 * 2);
    w.doubles(&m.vSettling[0][0][0], 12);
    return 1;
}

// Format 12: three DAC pairs, then the ADC calibrations and the settling model.
int walkFormat12(Walker& w, TolmarCntrl& m) {
    walkIdentity(w, m);
    w.doubles(&m.cal_dac[0][0], 6);
    resetDacPair(w, m.cal_dac[3]);
    w.doubles(m.cal_adc_v, 2);
    w.doubles(&m.cal_adc_i[0][0], 8);
    w.doubles(&m.vSettling[0][0][0], 12);
    return 1;
}

// The legacy ADC table holds 48 raw sums R: two halves of four groups of six. The voltage ADC
// takes the mean of the two halves' first two entries of every group; each current range g
// takes offset and gain from entries 3 and 5 of group g.
constexpr int LEGACY_SUMS = 48;
constexpr int LEGACY_HALF = 24;

void legacyCalibrationFromSums(const double (&R)[LEGACY_SUMS], TolmarCntrl& m) {
    double gainSum = 0.0, offsetSum = 0.0;
    for (int g = 0; g < 4; ++g) {
        const int k = 6 * g;
        gainSum += R[k] + R[k + LEGACY_HALF];
        offsetSum += R[k + 1] + R[k + 1 + LEGACY_HALF];
        const double scale = R[k + 5] + R[k + 5 + LEGACY_HALF];
        m.cal_adc_i[g][0] = (R[k + 3] + R[k + 3 + LEGACY_HALF]) / scale;
        m.cal_adc_i[g][1] = 20.0 / scale;
    }
    m.cal_adc_v[1] = gainSum / 8.0;
    m.cal_adc_v[0] = offsetSum / 8.0;
}

// The inverse, so that a legacy record written back decodes to the same calibration.
void legacySumsFromCalibration(const TolmarCntrl& m, double (&R)[LEGACY_SUMS]) {
    for (int g = 0; g < 4; ++g) {
        const int k = 6 * g;
        const double scale = 10.0 / m.cal_adc_i[g][1];
        for (int half : {0, LEGACY_HALF}) {
            R[k + half] = m.cal_adc_v[1];
            R[k + 1 + half] = m.cal_adc_v[0];
            R[k + 3 + half] = m.cal_adc_i[g][0] * scale;
            R[k + 5 + half] = scale;
        }
    }
}

// Legacy records carry no manufacturing time: it is made from the serial, whose characters 6-7
// are the year after 2000 and 8-9 the month, on day 1 at the local clock time of second 0 of
// the epoch. 0 when the serial holds no valid date.
uint32_t legacyCreateTime(const char* serial) {
    int digits[4];
    for (int i = 0; i < 4; ++i) {
        const char c = serial[6 + i];
        if (c < '0' || c > '9')
            return 0;  // also stops at the terminating NUL
        digits[i] = c - '0';
    }
    const int month = digits[2] * 10 + digits[3];
    if (month < 1 || month > 12)
        return 0;
    const time_t zero = 0;
    std::tm epoch{};
    if (!localtime_r(&zero, &epoch))
        return 0;
    std::tm t{};
    t.tm_year = 100 + digits[0] * 10 + digits[1];
    t.tm_mon = month - 1;
    t.tm_mday = 1;
    t.tm_hour = epoch.tm_hour;
    t.tm_min = epoch.tm_min;
    t.tm_sec = epoch.tm_sec;
    t.tm_isdst = -1;
    const time_t made = std::mktime(&t);
    if (made < 0 || static_cast<unsigned long long>(made) > UINT32_MAX)
        return 0;
    return static_cast<uint32_t>(made);
}

// Formats 10 and 11. Fixed resistor and range values; format 11 adds the fourth DAC pair.
int walkLegacy(Walker& w, TolmarCntrl& m, int32_t version) {
    const uint32_t options = walkHeader(w, m);
    w.doubles(&m.vRange[0][0], 6);
    w.seek(96);
    w.number(m.calTime);
    w.seek(104);
    double R[LEGACY_SUMS] = {};
    if (w.encoding())
        legacySumsFromCalibration(m, R);
    w.doubles(R, LEGACY_SUMS);
    const bool fourDacs = version >= 11;
    w.doubles(&m.cal_dac[0][0], fourDacs ? 8 : 6);
    if (!fourDacs)
        resetDacPair(w, m.cal_dac[3]);
    for (auto& model : m.vSettling) {
        w.doubles(model[0], 2);
        w.assign(model[1][0], model[0][0]);
        w.assign(model[1][1], model[0][1]);
    }
    if (!w.decoding())
        return 1;

    legacyCalibrationFromSums(R, m);
    m.createTime = legacyCreateTime(m.devName);
    const double ranges[4] = {6e-6, 6e-5, 0.00024,
                              (options & TolmarCntrl::OPTION_LOW_TOP_RANGE) ? 1e-5 : 0.0024};
    std::memcpy(m.iRange, ranges, sizeof ranges);
    m.rCurrent[0] = 470;
    m.rCurrent[1] = 22000;
    m.rFilter = 180000;
    return 1;
}

int walk(Walker& w, TolmarCntrl& m, int32_t version) {
    if (version >= 14)
        return walkCounted(w, m, version);
    if (version == 13)
        return walkFormat13(w, m);
    if (version == 12)
        return walkFormat12(w, m);
    return walkLegacy(w, m, version);
}

// Values that follow from a freshly decoded record.
void deriveFromRecord(TolmarCntrl& m) {
    const uint32_t o = m.deviceOptions;
    m.lowTopCurrentRange = o & TolmarCntrl::OPTION_LOW_TOP_RANGE;
    m.vcScannable = o & TolmarCntrl::OPTION_VC_SCANNABLE;
    m.extendedProbes = o & TolmarCntrl::OPTION_EXTENDED;
    m.channelEnableHw = o & TolmarCntrl::OPTION_CHANNEL_ENABLE;
    m.alternateRows = o & TolmarCntrl::OPTION_ALTERNATE_ROWS;
    m.kalderSensor = o & TolmarCntrl::OPTION_KALDER;
    if (o & TolmarCntrl::OPTION_EXTENDED) {
        m.nAdcChannels = 24;
        m.nProbes = 20;
    } else if (o & TolmarCntrl::OPTION_ADC20) {
        m.nAdcChannels = 20;
        m.nProbes = 17;
    } else if (o & TolmarCntrl::OPTION_ADC16) {
        m.nAdcChannels = 16;
        m.nProbes = 13;
    } else {
        m.nAdcChannels = 2;
        m.nProbes = 1;
    }
    for (auto& range : m.vRange)
        if (range[1] < range[0])
            std::swap(range[0], range[1]);
    m.recordLoaded = true;
}

}  // namespace

size_t readSize(int32_t version) {
    switch (version) {
        case 10:
            return 584;
        case 11:
            return 600;
        case 12:
            return 368;
        case 13:
            return 816;
        default:
            return version >= 14 ? MAX_RECORD_SIZE : 0;
    }
}

size_t writeSize(int32_t version) {
    return version >= 13 ? MAX_RECORD_SIZE : readSize(version);
}

uint32_t loadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void storeU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

int encode(const TolmarCntrl& m, uint8_t* image, size_t size) {
    // The encoding walk only reads the mirror; the walk functions are shared with decoding.
    Walker w(Mode::Encode, nullptr, image, size);
    const int r = walk(w, const_cast<TolmarCntrl&>(m), m.i2cFormatVersion);
    return w.overrun() ? -7 : r;
}

int decode(TolmarCntrl& m, const uint8_t* image, size_t size) {
    if (size < HEADER_SIZE) {
        TOLMAR_LOG_ERROR("Configuration record too short (%zu bytes)\n", size);
        return -7;
    }
    const int32_t version = static_cast<int32_t>(loadU32(image + 4));
    const size_t need = readSize(version);
    if (need == 0)
        return -5;
    if (size < need) {
        TOLMAR_LOG_ERROR("Configuration record of format %d too short (%zu of %zu bytes)\n",
                         version, size, need);
        return -7;
    }
    // A checking pass first, so that a refused record leaves the mirror as it was.
    Walker check(Mode::Check, image, nullptr, need);
    const int r = walk(check, m, version);
    if (r != 1)
        return r;
    Walker w(Mode::Decode, image, nullptr, need);
    walk(w, m, version);
    deriveFromRecord(m);
    return 1;
}

}  // namespace tolmar2::record
