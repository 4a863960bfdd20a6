// HDF5 export read back with the HDF5 library, for every kind of data.
#include <gtest/gtest.h>
#include <hdf5.h>

#include <QDir>
#include <QFile>
#include <functional>
#include <string>
#include <vector>

#include "data/hdf5export.h"
#include "datasetmaker.h"
#include "tempdir.h"

namespace {

// What one dataset of the file holds (values left empty: not compared).
struct Expect {
    std::string path;
    std::vector<hsize_t> dims;
    std::vector<double> values;
    std::string units;
};

std::string readText(hid_t object, const char* name) {
    const hid_t attr = H5Aopen(object, name, H5P_DEFAULT);
    if (attr < 0)
        return "<missing " + std::string(name) + ">";
    const hid_t type = H5Aget_type(attr);
    char* text = nullptr;
    std::string result = "<not text>";
    if (H5Tget_class(type) == H5T_STRING && H5Tis_variable_str(type) > 0 &&
        H5Aread(attr, type, &text) >= 0) {
        result = text;
        H5free_memory(text);
    }
    H5Tclose(type);
    H5Aclose(attr);
    return result;
}

// A numeric attribute of one value or an array, as doubles.
std::vector<double> readNumbers(hid_t object, const char* name) {
    const hid_t attr = H5Aopen(object, name, H5P_DEFAULT);
    if (attr < 0)
        return {};
    const hid_t space = H5Aget_space(attr);
    std::vector<double> values(std::max<hssize_t>(1, H5Sget_simple_extent_npoints(space)));
    H5Aread(attr, H5T_NATIVE_DOUBLE, values.data());
    H5Sclose(space);
    H5Aclose(attr);
    return values;
}

Expect readDataset(hid_t file, const std::string& path) {
    Expect d{path, {}, {}, ""};
    const hid_t set = H5Dopen2(file, path.c_str(), H5P_DEFAULT);
    if (set < 0) {
        ADD_FAILURE() << "no dataset " << path;
        return d;
    }
    const hid_t space = H5Dget_space(set);
    d.dims.resize(H5Sget_simple_extent_ndims(space));
    H5Sget_simple_extent_dims(space, d.dims.data(), nullptr);
    d.values.resize(H5Sget_simple_extent_npoints(space));
    if (!d.values.empty()) {
        EXPECT_GE(H5Dread(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.values.data()),
                  0);
    }
    d.units = readText(set, "units");
    H5Sclose(space);
    H5Dclose(set);
    return d;
}

void append(std::vector<double>& to, const QVector<double>& row, int n) {
    to.insert(to.end(), row.constData(), row.constData() + n);
}

// The averaged curves and results of an IV scan, from the data set's own accessors; the sweeps
// from the closed form they were made from.
std::vector<Expect> ivScan(const tarvoScan& scan, const std::string& g, int channels, int points,
                           int firstSweep) {
    const ivTrace& a = *scan.average;
    std::vector<Expect> e;
    std::vector<double> energy, current, dIdE, energyResults, flux, sweeps;
    append(energy, a.energy, points);
    for (int c = 0; c < channels; ++c) {
        append(current, a.currents[c], points);
        append(dIdE, a.dIdERow(c), points);
        energyResults.push_back(a.averageEnergy(c));
        flux.push_back(a.ionFlux(c));
    }
    const int traces = scan.traces->size();
    for (int t = 0; t < traces; ++t)
        for (int c = 0; c < channels; ++c)
            for (int j = 0; j < points; ++j) sweeps.push_back(knownCurrent(c, firstSweep + t, j));
    const hsize_t C = channels, P = points, T = traces;
    e.push_back({g + "/energy", {P}, energy, "eV"});
    e.push_back({g + "/current", {C, P}, current, "A"});
    e.push_back({g + "/dIdE", {C, P}, dIdE, "A/eV"});
    e.push_back({g + "/averageEnergy", {C}, energyResults, "eV"});
    e.push_back({g + "/ionFlux", {C}, flux, "A/m2"});
    // The peaks (NaN where there are none) by shape and units; the voltage rows' shapes are
    // read by the h5py check.
    for (const char* name : {"/peakEnergy", "/peakFwhm"}) e.push_back({g + name, {C, 2}, {}, "eV"});
    e.push_back({g + "/peakHeight", {C, 2}, {}, "A/eV"});
    e.push_back({g + "/peakSeparation", {C}, {}, "eV"});
    e.push_back({g + "/traces", {T, C, P}, sweeps, "A"});
    return e;
}

// Every sweep: rows of 1 current channel and 4 voltage rows, 2 points each.
std::vector<double> arBlock(int sweep) {
    return {1e-9 * sweep, 3e-9 * sweep, 0, 0, 0, 0, 0, 0, 5.0 + sweep, 6.0 + sweep};
}

struct KindCase {
    const char* name;
    std::function<std::unique_ptr<tarvoDataSet>()> make;
    std::function<std::vector<Expect>(tarvoDataSet&)> expect;
    int kind;
    std::string timeUnits;
};

const KindCase kCases[] = {
    {"time-averaged IV: one scan of three sweeps",
     [] {
         auto set = makeDataSet(7, 12, 1, 3);
         set->settingsMap["useRisingEdge"] = true;
         set->settingsMap["activeSensors"] = 7;
         set->settingsMap["layout"] = QVariantMap{{"rows", 2}};
         return set;
     },
     [](tarvoDataSet& s) { return ivScan(*s.sweepScans[0], "scan_0001", 7, 12, 0); }, 0, "s"},
    {"time-resolved IV: three time slices of one sweep",
     [] {
         auto set = makeDataSet(1, 9, 3, 1);
         set->setTimeUnit("usec");
         return set;
     },
     // The last slice: one group per slice, in time order.
     [](tarvoDataSet& s) { return ivScan(*s.sweepScans[2], "scan_0003", 1, 9, 2); }, 0, "us"},
    {"aspect ratio: a reference and two groups",
     [] {
         auto set = std::make_unique<tarvoDataSet>(1, 4, 0);
         std::vector<double> reference(5 * 8);
         for (int j = 0; j < 8; ++j) {
             reference[j] = -1e-9 * j;
             reference[4 * 8 + j] = 2.0 * j;
         }
         set->addReferenceTrace(reference.data(), 1.0, 8, 5, 0, 0);
         int sweep = 0;
         for (double ratio : {2.0, 4.0})
             for (double voltage : {10.0, 20.0})
                 for (int k = 0; k < 2; ++k) {
                     const std::vector<double> block = arBlock(++sweep);
                     set->addAspectRatioTrace(block.data(), 1.0, ratio, voltage, 0.0, 2, 5, 0);
                 }
         return set;
     },
     [](tarvoDataSet& s) {
         kalderAspectRatioScan& scan = *s.arScans[0];
         std::vector<Expect> e;
         std::vector<double> energy, current;
         append(energy, scan.reference->energy, 8);
         for (int j = 0; j < 8; ++j) current.push_back(-1e-9 * j);
         e.push_back({"scan_0001/reference/energy", {8}, energy, "eV"});
         e.push_back({"scan_0001/reference/current", {1, 8}, current, "A"});
         for (int g = 0; g < 2; ++g) {
             arGroup& group = *scan.groups[g];
             const std::string name = "scan_0001/ar_000" + std::to_string(g + 1);
             std::vector<double> sweeps;
             for (int k = 1; k <= 4; ++k) {
                 const std::vector<double> b = arBlock(4 * g + k);
                 sweeps.insert(sweeps.end(), b.begin(), b.begin() + 2);
             }
             e.push_back({name + "/voltage", {2}, {10.0, 20.0}, "V"});
             e.push_back({name + "/traces", {4, 1, 2}, sweeps, "A"});
             e.push_back({name + "/tracePoint", {4}, {0, 0, 1, 1}, "1"});
             e.push_back({name + "/ionFlux", {1}, {group.ionFlux(0)}, "A/m2"});
             e.push_back({name + "/averageEnergy", {1}, {group.getAverageEnergy(0)}, "eV"});
             e.push_back({name + "/meanSlope",
                          {1, 2},
                          {group.points[0]->meanSlopeFor(0), group.points[1]->meanSlopeFor(0)},
                          "A/V"});
         }
         return e;
     },
     2, "s"},
    {"temperature: two records",
     [] {
         auto set = std::make_unique<tarvoDataSet>(0, 0, 0);
         const double rows[3][3] = {{20, 21, 22}, {24, 25, 26}, {30, 31, 32}};
         set->addTemperatureRow(rows[0], 5.0, 3, 0);
         set->addTemperatureRow(rows[1], 5.0, 3, 0);
         set->addTemperatureRow(rows[2], 9.0, 3, 0);
         return set;
     },
     [](tarvoDataSet&) {
         return std::vector<Expect>{
             {"record_0001/rows", {2, 3}, {20, 21, 22, 24, 25, 26}, "degC"},
             {"record_0001/average", {3}, {22, 23, 24}, "degC"},
             {"record_0002/rows", {1, 3}, {30, 31, 32}, "degC"},
             {"record_0002/average", {3}, {30, 31, 32}, "degC"},
         };
     },
     3, "s"},
};

TEST(Hdf5Export, ReadsBackAsTheDataSet) {
    for (const KindCase& k : kCases) {
        SCOPED_TRACE(k.name);
        TempDir dir;
        std::unique_ptr<tarvoDataSet> set = k.make();
        const std::string path = dir.file("out.h5");
        QString error;
        ASSERT_TRUE(toHdf5(*set, QString::fromStdString(path), &error)) << error.toStdString();
        const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
        ASSERT_GE(file, 0);
        EXPECT_EQ(readNumbers(file, "dataKind"), std::vector<double>{double(k.kind)});
        EXPECT_EQ(readText(file, "timeUnits"), k.timeUnits);
        for (const Expect& e : k.expect(*set)) {
            const Expect d = readDataset(file, e.path);
            EXPECT_EQ(d.dims, e.dims) << e.path;
            EXPECT_EQ(d.units, e.units) << e.path;
            if (!e.values.empty()) {
                EXPECT_EQ(d.values, e.values) << e.path;
            }
        }
        if (k.kind == 0 && k.timeUnits == "s") {
            // The settings map: flags and numbers as numbers, maps as JSON text (text and lists
            // are read by the h5py check of the command-line export).
            EXPECT_EQ(readNumbers(file, "useRisingEdge"), std::vector<double>{1});
            EXPECT_EQ(readNumbers(file, "activeSensors"), std::vector<double>{7});
            EXPECT_EQ(readText(file, "layout"), R"({"rows":2})");
        }
        EXPECT_GE(H5Fclose(file), 0);
        EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::Files),
                  QStringList{"out.h5"})
            << "no temporary file is left";
    }
}

// A write that fails reports it and leaves no file behind: here the target is a directory that
// the finished file cannot replace (a missing directory is tried by the h5py check).
TEST(Hdf5ExportFailure, LeavesNothingBehind) {
    TempDir dir;
    auto set = makeDataSet(1, 5);
    const QString base = QString::fromStdString(dir.path());
    ASSERT_TRUE(QDir(base).mkdir("taken.h5"));
    QString error;
    EXPECT_FALSE(toHdf5(*set, base + "/taken.h5", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(QDir(base).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{"taken.h5"});
}

}  // namespace
