// kalder-cli run as a process on the virtual sensor: a scan written, inspected and exported
// again, and the exit codes. What it writes is read back with the
// data code, and the flux profile it prints is checked against the virtual sensor's model.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

#include "cliprocess.h"
#include "data/tarvodataset.h"
#include "tempdir.h"
#include "vsensor/VirtualSensor.h"

namespace {

CliRun runCli(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    return runProgram(KALDER_CLI, args, env);
}

// A short scan on the virtual unit: no settling wait, a small bias sweep, little averaging.
std::vector<std::string> quickScan(std::vector<std::string> more) {
    std::vector<std::string> args = {"scan", "--settle-ms", "0",  "--bias-start", "0", "--bias-end",
                                     "20",   "--iv-acc",    "16", "--traces",     "2"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// The numbers of each line of `text` that matches `format`, all of whose `count` conversions
// are %lf.
std::vector<std::vector<double>> linesOf(const std::string& text, const char* format, int count) {
    std::vector<std::vector<double>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<double> v(8);
        if (std::sscanf(line.c_str(), format, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                        &v[7]) == count) {
            rows.push_back(v);
        }
    }
    return rows;
}

const char* const CHANNEL_LINE = "channel %lf: average energy %lf eV, ion flux %lf A/m2";
// Channel, first peak, height, width, second peak, height, width, separation.
const char* const PEAKS_LINE =
    "channel %lf: IEDF peaks at %lf eV (height %lf A/eV, FWHM %lf eV) and %lf eV (height %lf "
    "A/eV, FWHM %lf eV), separation %lf eV";

const std::string VIRTUAL_NOTICE = "kalder-cli: measuring on the built-in Virtual Sensor";

// Lines of standard error other than the notice that the data are simulated.
size_t lineCount(const std::string& text) {
    size_t n = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    return text.compare(0, VIRTUAL_NOTICE.size(), VIRTUAL_NOTICE) == 0 ? n - 1 : n;
}

// The channel lines of a summary or listing that end saying the results are simulated.
size_t simulatedChannels(const std::string& text) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(" A/m2 (simulated)\n", at)) != std::string::npos; ++at) ++n;
    return n;
}

std::string lastLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);  // npos + 1: the whole text
}

// With no vendor library, the default link falls back to the virtual sensor, says so first on
// standard error, and marks the results as simulated.
TEST(KalderCli, ScanInspectAndExportRoundTrip) {
    TempDir dir(true);
    const CliRun scan =
        runCli({"scan", "--settle-ms", "0", "--bias-start", "0", "--bias-end", "78", "--iv-acc",
                "64", "--traces", "2", "--out", "run.kdf", "--csv", "run.csv", "--mat", "run.mat"},
               {"TOLMAR_VSENSOR_PROFILE=disc13", "TOLMAR_LINK=auto",
                "TOLMAR_QUICKUSB_LIBRARY=/nowhere/libqusb.so"});
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.err.find(VIRTUAL_NOTICE + ", all data are simulated: no vendor library found"),
              0u)
        << scan.err;
    EXPECT_EQ(scan.out.substr(0, scan.out.find('\n')), "1 scans, 2 traces");
    const std::vector<std::vector<double>> printed = linesOf(scan.out, CHANNEL_LINE, 3);
    ASSERT_EQ(printed.size(), 13u) << scan.out;

    // The IEDF peaks come back within 1 eV of the model's (lowered towards the edge), their
    // separation within 2 eV. (The model's flux profile and mean energies are checked on the
    // same scan through the session, in the acquisition tests.)
    const vsensor::PlasmaModel model = vsensor::plasmaModel();
    const std::vector<std::vector<double>> peaks = linesOf(scan.out, PEAKS_LINE, 8);
    ASSERT_EQ(peaks.size(), 13u) << scan.out;
    for (int k = 0; k < 13; ++k) {
        const double scale = 1 - model.edgeEnergyDrop * std::pow(vsensor::sensorRadius(k, 13), 2);
        EXPECT_GT(printed[k][1], model.peaks[0].energy * scale);
        EXPECT_LT(printed[k][1], model.peaks[1].energy * scale);
        EXPECT_NEAR(peaks[k][1], model.peaks[0].energy * scale, 1.0) << k;
        EXPECT_NEAR(peaks[k][4], model.peaks[1].energy * scale, 1.0) << k;
        EXPECT_NEAR(peaks[k][7], (model.peaks[1].energy - model.peaks[0].energy) * scale, 2.0);
    }

    // The file, read by the data code, holds the scan and the settings it ran with.
    tarvoDataSet set(QStringLiteral("run.kdf"));
    ASSERT_EQ(set.sweepScans.size(), 1);
    EXPECT_EQ(set.settingsMap.value("ivAcc").toString(), "64");
    const ivTrace& average = *set.sweepScans[0]->average;
    for (int c = 0; c < 13; ++c) {
        EXPECT_NEAR(average.averageEnergy(c), printed[c][1], 1e-3 * printed[c][1]);
        EXPECT_NEAR(average.ionFlux(c), printed[c][2], 1e-3 * printed[c][2]);
    }

    const CliRun inspect = runCli({"inspect", "run.kdf"});
    ASSERT_EQ(inspect.status, 0) << inspect.err;
    // 0 to 78 V in steps of 1 V on output A, whose 12-bit DAC makes them 13 codes (0.97 V): 81
    // points.
    for (const char* line :
         {"version: 18\n", "kind: 0 (IV scans)\n", "scans: 1\n", "traces: 2\n", "points: 81\n",
          "  biasEnd: 78\n", "  linkBackend: virtual\n", " traces, electrode voltage 75 V\n"}) {
        EXPECT_NE(inspect.out.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(simulatedChannels(scan.out), 13u);
    EXPECT_EQ(simulatedChannels(inspect.out), 13u);

    // Exported again from the file, the CSV is the one written at the end of the scan; the MAT
    // file differs only in its header's creation time.
    const CliRun exported =
        runCli({"export", "run.kdf", "--csv", "again.csv", "--mat", "again.mat"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(readWholeFile("again.csv"), readWholeFile("run.csv"));
    const std::string mat = readWholeFile("run.mat");
    ASSERT_GT(mat.size(), 128u);
    EXPECT_EQ(readWholeFile("again.mat").substr(116), mat.substr(116));
}

// The words of a command line; a leading "quick" stands for the short scan.
std::vector<std::string> commandLine(const std::string& line) {
    const std::vector<std::string> w = words(line);
    return !w.empty() && w[0] == "quick" ? quickScan({w.begin() + 1, w.end()}) : w;
}

void writeFile(const char* name, const std::string& bytes) {
    QFile file(QString::fromLatin1(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

struct exitCase {
    const char* name;
    const char* args;
    const char* env;
    int status;
    const char* message;         // part of the last line on standard error
    const char* kept = nullptr;  // a file written although the command failed
};

// The cases run in one directory holding the files they read: a text file, a good scan, the
// scan cut inside its second trace (it keeps the first), the scan with a count no file of that
// size can hold, and a damaged recovery file.
class KalderCliExit : public ::testing::TestWithParam<exitCase> {
protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<TempDir>(true);
        writeFile("notes.kdf", "measurement notes, no data in here\n");
        ASSERT_EQ(runCli(quickScan({"--out", "good.kdf"})).status, 0);
        std::string whole = readWholeFile("good.kdf");
        writeFile("cut.kdf", whole.substr(0, whole.size() - 100));
        whole.replace(whole.find("[DATA]") + 8 + 4 * 4 + 16, 4, "\x7f\xff\xff\xff");
        writeFile("absurd.kdf", whole);
        writeFile("damaged.kdf", "{}\n[DATA]\n\x0b");
    }
    static void TearDownTestSuite() { dir.reset(); }

    static std::unique_ptr<TempDir> dir;
};

std::unique_ptr<TempDir> KalderCliExit::dir;

// Every file under the current directory, settings and recovery files included.
QStringList filesHere() {
    QStringList files;
    QDirIterator it(QStringLiteral("."), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) files << it.next();
    files.sort();
    return files;
}

TEST_P(KalderCliExit, OneClearLineAndTheCode) {
    const exitCase& c = GetParam();
    const QStringList before = filesHere();
    const CliRun run = runCli(commandLine(c.args), words(c.env));
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(lastLine(run.err).find(c.message), std::string::npos) << run.err;
    if (c.status == 1 || c.status == 2 || c.status == 4) {
        EXPECT_EQ(lineCount(run.err), 1u) << run.err;
    }
    if (c.kept) {
        // What was measured before the failure is kept.
        tarvoDataSet set(QString::fromLatin1(c.kept));
        ASSERT_EQ(set.sweepScans.size(), 1);
        EXPECT_GE(set.sweepScans[0]->traces->size(), 1);
    } else if (c.status != 0) {
        EXPECT_EQ(filesHere(), before) << "nothing written on failure";
    }
    QFile::remove(QStringLiteral("x.kdf"));
}

// clang-format off
const exitCase EXIT_CASES[] = {
    {"unknownOption", "quick --out x.kdf --colour", "", 1, "Unknown option 'colour'"},
    {"noOut", "quick", "", 1, "--out FILE.kdf is required"},
    {"noModule", "quick --out x.kdf", "TOLMAR_VSENSOR_MODULES=0", 2, "no sensor unit found"},
    // Asked for the electronics and without their library: no virtual sensor instead.
    {"vendorWithoutLibrary", "quick --out x.kdf --csv x.csv", "TOLMAR_LINK=vendor TOLMAR_QUICKUSB_LIBRARY=/nowhere/libqusb.so", 2,
     "no USB link (TOLMAR_LINK=vendor): cannot load /nowhere/libqusb.so: /nowhere/libqusb.so: cannot open shared object file"},
    {"unusableUnit", "quick --out x.kdf", "TOLMAR_VSENSOR_PROFILE=unusable", 2, "not one this program drives"},
    {"noSync", "quick --type resolved --out x.kdf", "TOLMAR_VSENSOR_SYNC_HZ=0", 3, "no valid sync signal"},
    {"tooManySteps", "quick --bias-end 60 --bias-step 0.01 --out x.kdf", "", 3, "4096 steps max"},
    // The cable pulled in the middle of a scan: the scan failed, and what it measured is kept.
    {"lostSensor", "quick --traces 0 --out x.kdf", "TOLMAR_VSENSOR_FAULTS=unplug@400", 3, "the sensor was lost during the scan", "x.kdf"},
    {"outInMissingDirectory", "quick --out missing/x.kdf", "", 4, "does not exist"},
    {"inspectNotKdf", "inspect notes.kdf", "", 4, "not a kdf data file"},
    {"inspectDamaged", "inspect absurd.kdf", "", 4, "Invalid File"},
    // A file cut short: what was complete before the cut, and a warning.
    {"inspectTruncated", "inspect cut.kdf", "", 0, "cut.kdf is truncated (cut short): 1 of"},
    // A damaged recovery file is a file error and stays where it is.
    {"recoverDamaged", "recover --open damaged.kdf --out x.kdf", "", 4, "damaged.kdf"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, KalderCliExit, ::testing::ValuesIn(EXIT_CASES),
                         [](const ::testing::TestParamInfo<exitCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
