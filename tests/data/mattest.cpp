// MAT-file export read back with matio.
#include <gtest/gtest.h>
#include <matio.h>

#include <vector>

#include "data/tarvodataset.h"
#include "tempdir.h"

namespace {

struct Variable {
    std::string name;
    std::vector<size_t> dims;
    std::vector<double> values;
};

std::vector<Variable> readAll(const std::string& path) {
    std::vector<Variable> result;
    mat_t* mat = Mat_Open(path.c_str(), MAT_ACC_RDONLY);
    if (mat == nullptr) {
        ADD_FAILURE() << "matio cannot open " << path;
        return result;
    }
    EXPECT_EQ(Mat_GetVersion(mat), MAT_FT_MAT5);
    while (matvar_t* var = Mat_VarReadNext(mat)) {
        Variable v;
        v.name = var->name ? var->name : "";
        for (int d = 0; d < var->rank; ++d) v.dims.push_back(var->dims[d]);
        EXPECT_TRUE(var->class_type == MAT_C_DOUBLE && !var->isComplex);
        const size_t count = v.dims.empty() ? 0 : v.dims[0] * v.dims[1];
        const double* data = static_cast<const double*>(var->data);
        if (data)
            v.values.assign(data, data + count);
        result.push_back(v);
        Mat_VarFree(var);
    }
    Mat_Close(mat);
    return result;
}

TEST(MatExport, AveragedTraceOfEveryScan) {
    TempDir dir;
    tarvoDataSet set(5, 4, 0);
    const int rows = 9, points = 12;
    for (int s = 0; s < 3; ++s) {
        std::vector<double> block(rows * points);
        for (int r = 0; r < rows; ++r)
            for (int j = 0; j < points; ++j)
                block[r * points + j] = r < 5 ? 100.0 * (s + 1) + r - 0.5 * j * j : 10.0 * r + j;
        set.addTrace(block.data(), s, points, rows, 0, 0, false);
    }
    const std::string path = dir.file("out.mat");
    ASSERT_TRUE(set.toMatFile(QString::fromStdString(path)));
    const std::vector<Variable> vars = readAll(path);
    ASSERT_EQ(vars.size(), 6u);
    for (int s = 0; s < 3; ++s) {
        const ivTrace& average = *set.sweepScans[s]->average;
        const Variable& iv = vars[2 * s];
        const Variable& iedf = vars[2 * s + 1];
        EXPECT_EQ(iv.name, "IV");
        EXPECT_EQ(iv.dims, (std::vector<size_t>{size_t(points), size_t(rows)}));
        for (int r = 0; r < rows; ++r)
            for (int j = 0; j < points; ++j)
                ASSERT_EQ(iv.values[r * points + j], average.currents[r][j]) << r << "," << j;
        EXPECT_EQ(iv.values[7 * points + 3], 73.0) << "later columns carry their rows too";
        EXPECT_EQ(iedf.name, "IEDF");
        EXPECT_EQ(iedf.dims, (std::vector<size_t>{2, size_t(points)}));
        for (int j = 0; j < points; ++j) {
            EXPECT_EQ(iedf.values[2 * j], average.energy[j]);
            EXPECT_EQ(iedf.values[2 * j + 1], average.dIdERow(0)[j]);
        }
        EXPECT_DOUBLE_EQ(iedf.values[2 * 4 + 1], -4.5) << "forward difference of -j^2/2 at 4";
    }
}

}  // namespace
