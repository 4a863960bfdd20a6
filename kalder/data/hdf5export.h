// HDF5 export: the whole data set as a self-describing file that analysis tools read directly
// (h5py, xarray, MATLAB's h5read, ...). The layout is described in the README ("HDF5 export").
#ifndef KALDER_DATA_HDF5EXPORT_H
#define KALDER_DATA_HDF5EXPORT_H

#include <QString>

class tarvoDataSet;

// Writes the data set to path under its lock. The file is written beside the target under a
// temporary name and renamed over it once complete: on failure an existing file at path stays
// as it was, nothing is left behind, the result is false and `error` (when given) says what
// failed.
bool toHdf5(tarvoDataSet& set, const QString& path, QString* error = nullptr);

#endif  // KALDER_DATA_HDF5EXPORT_H
