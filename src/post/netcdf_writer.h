// A run's records as one CF-1.8 NetCDF file (written with Debian's libnetcdf),
// which xarray, ParaView and QGIS open with its time, coordinates, names and
// units:
//
//   dimensions  time (the records exported), y (rows), x (columns)
//   time(time)  the record times; units "<unit> since <date>" and a calendar
//               as post/cf_time.h makes them of the time label, axis T
//   y(y), x(x)  the row and the column coordinates; units the length label
//   ENTRY(time, y, x)  one double variable per entry exported, in the order
//               asked, named as the model names it, with its unit label and
//               long_name
//
// Values are the records' doubles, unchanged. The file is NetCDF-4 (HDF5),
// so it may exceed 4 GB.
#pragma once

#include "post/run_results.h"

#include <string>
#include <vector>

// Writes path from the given records and entries (state indices); throws
// ResultException naming the file and the reason. The file replaces path only
// once it is whole and closed.
void WriteNetcdfFile(const std::string& path, CRunResults& run, const std::vector<int>& records,
                     const std::vector<int>& entries);

// Whether a file failed half-way and is left open: HDF5's exit-time cleanup
// would crash on it, so the process must end with std::_Exit once it has
// flushed its streams.
bool NetcdfFileLeftOpen();
