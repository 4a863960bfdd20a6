// What kalder-cli prints about a data set and how it writes one: the per-channel summary after
// a scan, the full listing of inspect, and the kdf file and exports.
#ifndef TOOLS_KALDER_CLI_DATAREPORT_H
#define TOOLS_KALDER_CLI_DATAREPORT_H

#include <QString>

#include "cli.h"

class tarvoDataSet;
struct exportChoices;

// The number of sweeps (IV data) or rows (temperature records) measured; for time-resolved data
// the sweeps of one time slice. The caller holds the data set's lock.
int measuredTraces(const tarvoDataSet& set);

// One line per channel on standard output: average energy in eV and ion flux in A/m2, the mean
// over the scan records (the time slices of a time-resolved scan), then a line with the IEDF
// peaks of the last record's average; for data of several sensors the uniformity of both over
// the disc; temperatures for a temperature record.
// A time-resolved scan prints these per time slot, an aspect-ratio scan per aspect ratio.
void printSummary(tarvoDataSet& set);

// The same results as one JSON document on standard output: the file, the kind, whether the
// data are simulated, the counts, and per record (scan time in s, time slot in us or aspect
// ratio) the average energy and ion flux of each channel; temperatures for a record.
void printJsonSummary(tarvoDataSet& set, const QString& path);

// The whole description of a data set read from a file, for inspect.
void printInspection(tarvoDataSet& set, const QString& path);

// Says on standard error that a data file read was cut short and how many of its scans were
// recovered; nothing for a whole file.
void reportTruncation(const tarvoDataSet& set, const QString& path);

// Writes the kdf file (when kdfPath is not empty; atomically, an existing file stays whole on
// failure) and the CSV, MAT and HDF5 exports asked for. Every file is tried; the first failure
// is returned.
bool writeFiles(tarvoDataSet& set, const QString& kdfPath, const QString& csvPath,
                const QString& matPath, const exportChoices& choices, cli::failure& f,
                const QString& h5Path = QString());

#endif  // TOOLS_KALDER_CLI_DATAREPORT_H
