// CSV export: the exact text of each data choice.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <cmath>

#include "data/tarvodataset.h"
#include "tempdir.h"

namespace {

constexpr int kPoints = 10;

// Sweep of 4 rows: current level - j, a constant voltage row 7, electrode voltage 5 and the
// swept voltage j. With the forward difference dI/dE of the current is -1 everywhere, the
// energy axis is j, the average energy over points 3 to 6 is 4.5 and the flux
// 3 * (-1 - 1) * 1 * 860000 / 2 = -2580000.
std::vector<double> sweep(double level) {
    std::vector<double> block(4 * kPoints);
    for (int j = 0; j < kPoints; ++j) {
        block[j] = level - j;
        block[kPoints + j] = 7;
        block[2 * kPoints + j] = 5;
        block[3 * kPoints + j] = j;
    }
    return block;
}

std::string text(const QString& s) {
    return s.toStdString();
}

QString table(double level) {
    QString text = "V;I_1;I_2;I_3;I_4;dI/dE_1;dI/dE_2;dI/dE_3;dI/dE_4;\n";
    for (int j = 0; j < kPoints; ++j)
        text += QString("%1;%2;7;5;%1;-1;0;0;0;\n").arg(j).arg(level - j);
    return text;
}

QString results(int frame, const char* time) {
    return QString(
               "Frame ;%1;Time;%2\nElectrode Voltage ;5\nChannel;1\nAverage Energy;4.5\n"
               "Ion Flux;-2.58e+06\n"
               // dI/dE is -1 everywhere: no peaks.
               "Peak 1 Energy;-\nPeak 1 Height;-\nPeak 1 FWHM;-\nPeak 2 Energy;-\nPeak 2 Height;-\n"
               "Peak 2 FWHM;-\nPeak Separation;-\n")
        .arg(frame)
        .arg(time);
}

class CsvTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (double level : {10.0, 12.0})
            set.addTrace(sweep(level).data(), 1.5, kPoints, 4, 0, 0, false);
        for (double level : {20.0, 22.0})
            set.addTrace(sweep(level).data(), 3.0, kPoints, 4, 0, 0, false);
    }

    std::string exported(tarvoDataSet& data, int mode) {
        exportChoices options;
        options.separatorChar = ';';
        options.dataMode = mode;
        const std::string path = dir.file("out.csv");
        EXPECT_TRUE(data.toCSV(QString::fromStdString(path), options));
        return readWholeFile(path);
    }

    TempDir dir;
    tarvoDataSet set{1, 3, 0};
};

// Two scans of two sweeps each, in every data choice.
TEST_F(CsvTest, EveryDataChoice) {
    const QString head = "Time Averaged IV scan\n";
    EXPECT_EQ(exported(set, exportChoices::OnlyResults),
              text(head + results(1, "1.5") + "\n" + results(2, "3") + "\n"));
    EXPECT_EQ(
        exported(set, exportChoices::IncludeAveraged),
        text(head + results(1, "1.5") + table(11) + "\n" + results(2, "3") + table(21) + "\n"));
    const QString scan1 =
        results(1, "1.5") + "trace ;1\n" + table(10) + "\ntrace ;2\n" + table(12) + "\n\n";
    const QString scan2 =
        results(2, "3") + "trace ;1\n" + table(20) + "\ntrace ;2\n" + table(22) + "\n\n";
    EXPECT_EQ(exported(set, exportChoices::IncludeAll), text(head + scan1 + scan2));
    // The default separator, and a target that cannot be written.
    const std::string path = dir.file("comma.csv");
    ASSERT_TRUE(set.toCSV(QString::fromStdString(path), exportChoices()));
    EXPECT_EQ(QString::fromStdString(readWholeFile(path)).section('\n', 1, 1), "Frame ,1,Time,1.5");
    EXPECT_FALSE(set.toCSV(QString::fromStdString(dir.file("no/such/dir.csv")), exportChoices()));
}

// Two channels: ions of 20 and 45 eV on the first (width 3 eV), of 30 eV on the second, swept
// in 0.5 V steps; the forward difference puts the peaks half a step (0.25 eV) below the ions.
TEST_F(CsvTest, PeakLinesFollowTheChannelResults) {
    const int n = 161;
    std::vector<double> block(6 * n, 7.0);
    const auto arriving = [](double mu, double v) {
        return -0.5e-6 * std::erfc((v - mu) / (3 * std::sqrt(2.0)));
    };
    for (int j = 0; j < n; ++j) {
        block[j] = arriving(20, 0.5 * j) + arriving(45, 0.5 * j);
        block[n + j] = arriving(30, 0.5 * j);
        block[5 * n + j] = 0.5 * j;
    }
    tarvoDataSet peaks{2, 4, 0};
    peaks.addTrace(block.data(), 1.0, n, 6, 0, 0, false);
    const QStringList lines =
        QString::fromStdString(exported(peaks, exportChoices::OnlyResults)).split('\n');
    ASSERT_GE(lines.size(), 13);
    const double expected[3][2] = {{19.75, 29.75}, {44.75, NAN}, {25, NAN}};
    for (int k = 0; k < 3; ++k) {
        const QStringList cells = lines[6 + 3 * k].split(';');
        ASSERT_EQ(cells.size(), 3) << k;
        EXPECT_TRUE(cells[0].startsWith("Peak ")) << k;
        EXPECT_NEAR(cells[1].toDouble(), expected[k][0], 0.2) << k;
        if (std::isnan(expected[k][1])) {
            EXPECT_EQ(cells[2], "-") << k;
        } else {
            EXPECT_NEAR(cells[2].toDouble(), expected[k][1], 0.2) << k;
        }
    }
}

TEST_F(CsvTest, TemperatureRecords) {
    tarvoDataSet temperatures(0, 0, 0);
    const double r1[] = {20, 30};
    const double r2[] = {22, 34};
    temperatures.addTemperatureRow(r1, 1.0, 2, 0);
    temperatures.addTemperatureRow(r2, 1.0, 2, 0);
    temperatures.addTemperatureRow(nullptr, 2.0, 0, 0);  // a record with an empty average
    const QString head = "Temperature Scan\nTime;1;Average Temp;26.5\n\n";
    const QString second = "Time;2;Average Temp;nan\n\n";
    EXPECT_EQ(exported(temperatures, exportChoices::IncludeAll),
              text(head + "t_1;t_2;\n20;30;\n22;34;\n" + second + "\n\n"));
}

TEST_F(CsvTest, AspectRatioScans) {
    tarvoDataSet ar(1, 3, 0);
    ar.addReferenceTrace(sweep(30).data(), 1.0, kPoints, 4, 0, 0);
    const double a[] = {5, 3, 0, 0, 0, 0, 10, 12};
    const double b[] = {2, 1, 0, 0, 0, 0, 20, 22};
    ar.addAspectRatioTrace(a, 1.0, 0.5, 10.0, 0.0, 2, 4, 0);
    ar.addAspectRatioTrace(b, 1.0, 0.5, 20.0, 0.0, 2, 4, 0);
    const QStringList lines =
        QString::fromStdString(exported(ar, exportChoices::OnlyResults)).split('\n');
    ASSERT_GE(lines.size(), 20);
    EXPECT_EQ(lines[0], "Kalder Scan");
    EXPECT_EQ(lines[1], "AR;Ion Flux chan(1);Ion Flux chan(2);Ion Flux chan(3);Ion Flux chan(4);");
    EXPECT_TRUE(lines[2].startsWith("0.5;-6.45e+06;")) << lines[2].toStdString();
    EXPECT_EQ(lines[11], "3;-1;0;0;0;");
    EXPECT_EQ(lines[16], "Aspect Ratio;0.5");
    EXPECT_EQ(lines[18].section(';', 0, 1), "10;-1");
    EXPECT_EQ(lines[19].section(';', 0, 1), "20;-0.5");
}

}  // namespace
