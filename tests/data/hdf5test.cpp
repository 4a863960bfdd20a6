// HDF5 export read back with the HDF5 library, one data set of each layout (the h5py check in
// tests/tools reads the command-line export, its attributes and units, independently).
#include <gtest/gtest.h>
#include <hdf5.h>

#include <QDir>
#include <string>
#include <vector>

#include "data/hdf5export.h"
#include "datasetmaker.h"
#include "tempdir.h"

namespace {

// What one dataset of the file holds.
struct Expect {
    std::string path;
    std::vector<hsize_t> dims;
    std::vector<double> values;
};

Expect readDataset(hid_t file, const std::string& path) {
    Expect d{path, {}, {}};
    const hid_t set = H5Dopen2(file, path.c_str(), H5P_DEFAULT);
    if (set < 0)
        return d;  // no dims: the comparison fails
    const hid_t space = H5Dget_space(set);
    d.dims.resize(H5Sget_simple_extent_ndims(space));
    H5Sget_simple_extent_dims(space, d.dims.data(), nullptr);
    d.values.resize(H5Sget_simple_extent_npoints(space));
    EXPECT_GE(H5Dread(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, d.values.data()), 0);
    H5Sclose(space);
    H5Dclose(set);
    return d;
}

// Every sweep: rows of 1 current channel and 4 voltage rows, 2 points each.
std::vector<double> arBlock(int sweep) {
    return {1e-9 * sweep, 3e-9 * sweep, 0, 0, 0, 0, 0, 0, 5.0 + sweep, 6.0 + sweep};
}

void expectFile(tarvoDataSet& set, const std::vector<Expect>& expected) {
    TempDir dir;
    const std::string path = dir.file("out.h5");
    QString error;
    ASSERT_TRUE(toHdf5(set, QString::fromStdString(path), &error)) << error.toStdString();
    const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    ASSERT_GE(file, 0);
    for (const Expect& e : expected) {
        const Expect d = readDataset(file, e.path);
        EXPECT_EQ(d.dims, e.dims) << e.path;
        EXPECT_EQ(d.values, e.values) << e.path;
    }
    EXPECT_GE(H5Fclose(file), 0);
    EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::Files),
              QStringList{"out.h5"})
        << "no temporary file is left";
}

// One scan of three sweeps of 7 channels: the averaged curves, a result, and the sweeps from the
// closed form they were made from.
TEST(Hdf5Export, IvScanReadsBackAsTheDataSet) {
    const int C = 7, P = 12;
    auto set = makeDataSet(C, P, 1, 3);
    const ivTrace& a = *set->sweepScans[0]->average;
    std::vector<double> current, flux, sweeps;
    for (int c = 0; c < C; ++c) {
        current.insert(current.end(), a.currents[c].begin(), a.currents[c].begin() + P);
        flux.push_back(a.ionFlux(c));
    }
    for (int t = 0; t < 3; ++t)
        for (int c = 0; c < C; ++c)
            for (int j = 0; j < P; ++j) sweeps.push_back(knownCurrent(c, t, j));
    expectFile(*set, {{"scan_0001/energy", {P}, {a.energy.begin(), a.energy.begin() + P}},
                      {"scan_0001/current", {C, P}, current},
                      {"scan_0001/ionFlux", {C}, flux},
                      {"scan_0001/traces", {3, C, P}, sweeps}});
}

// A reference and two groups of two voltages of two sweeps each.
TEST(Hdf5Export, AspectRatioScanReadsBackAsTheDataSet) {
    tarvoDataSet set(1, 4, 0);
    std::vector<double> reference(5 * 8);
    for (int j = 0; j < 8; ++j) {
        reference[j] = -1e-9 * j;
        reference[4 * 8 + j] = 2.0 * j;
    }
    set.addReferenceTrace(reference.data(), 1.0, 8, 5, 0, 0);
    int sweep = 0;
    for (double ratio : {2.0, 4.0})
        for (double voltage : {10.0, 20.0})
            for (int k = 0; k < 2; ++k)
                set.addAspectRatioTrace(arBlock(++sweep).data(), 1.0, ratio, voltage, 0.0, 2, 5, 0);
    std::vector<Expect> e{{"scan_0001/reference/current", {1, 8}, {}}};
    for (int j = 0; j < 8; ++j) e[0].values.push_back(-1e-9 * j);
    for (int g = 0; g < 2; ++g) {
        const std::string name = "scan_0001/ar_000" + std::to_string(g + 1);
        std::vector<double> sweeps;
        for (int k = 1; k <= 4; ++k) {
            const std::vector<double> b = arBlock(4 * g + k);
            sweeps.insert(sweeps.end(), b.begin(), b.begin() + 2);
        }
        e.push_back({name + "/voltage", {2}, {10.0, 20.0}});
        e.push_back({name + "/traces", {4, 1, 2}, sweeps});
        e.push_back({name + "/ionFlux", {1}, {set.arScans[0]->groups[g]->ionFlux(0)}});
    }
    expectFile(set, e);
}

TEST(Hdf5Export, TemperatureRecordsReadBackAsTheDataSet) {
    tarvoDataSet set(0, 0, 0);
    const double rows[3][3] = {{20, 21, 22}, {24, 25, 26}, {30, 31, 32}};
    set.addTemperatureRow(rows[0], 5.0, 3, 0);
    set.addTemperatureRow(rows[1], 5.0, 3, 0);
    set.addTemperatureRow(rows[2], 9.0, 3, 0);
    expectFile(set, {{"record_0001/rows", {2, 3}, {20, 21, 22, 24, 25, 26}},
                     {"record_0001/average", {3}, {22, 23, 24}},
                     {"record_0002/rows", {1, 3}, {30, 31, 32}}});
}

}  // namespace
