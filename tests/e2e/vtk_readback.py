"""Reads an exported run back with VTK's own readers and compares it with the
result files it came from.

usage: /usr/bin/python3 vtk_readback.py PVD BASE ROWS COLS NCOMP NMOBILE [RECORDS [ENTRIES]]

RECORDS is the comma-separated list of records the .pvd should hold, in its
order, or "all" (the default). ENTRIES is the comma-separated list of the
state indices of the arrays each file should hold, in their order (default:
every entry).

The expected values are taken straight from BASE.kvt and BASE.kvo with the
struct module (little-endian int32 and doubles), independently of the
exporter. Prints one line per problem and exits 1 if there is any; prints
"checked N files" and exits 0 otherwise.
"""
import os
import struct
import sys
import xml.etree.ElementTree as ET

from vtkmodules.vtkIOXML import vtkXMLRectilinearGridReader
from vtkmodules.util.numpy_support import vtk_to_numpy


def entry_names(ncomp, nmobile):
    names = ["head", "source", "porosity", "k_row", "k_col", "flux_row", "flux_col"]
    nimmobile = ncomp - 7 - nmobile
    names += ["immobile_%d" % s for s in range(nimmobile)]
    names += ["mobile_%d" % s for s in range(nmobile)]
    return names


def read_results(base, rows, cols, ncomp):
    with open(base + ".kvt", "rb") as f:
        kvt = f.read()
    count, trows, tcols = struct.unpack_from("<iii", kvt, 0)
    assert (trows, tcols) == (rows, cols), (trows, tcols)
    times = struct.unpack_from("<%dd" % count, kvt, 36)
    with open(base + ".kvo", "rb") as f:
        kvo = f.read()
    per_record = rows * cols * ncomp
    assert len(kvo) == 8 * per_record * count, len(kvo)
    values = struct.unpack("<%dd" % (per_record * count), kvo)
    return times, [values[r * per_record:(r + 1) * per_record] for r in range(count)]


def same(a, b):
    return a == b or (a != a and b != b)  # NaN equals NaN here


def main():
    pvd, base = sys.argv[1], sys.argv[2]
    rows, cols, ncomp, nmobile = (int(v) for v in sys.argv[3:7])
    names = entry_names(ncomp, nmobile)
    times, records = read_results(base, rows, cols, ncomp)
    with open(base + ".kvi") as f:
        numbers = f.read().split()
    # Row and column coordinates follow the eleven header numbers.
    row_coord = [float(v) for v in numbers[11:11 + rows]]
    col_coord = [float(v) for v in numbers[11 + rows:11 + rows + cols]]

    wanted = list(range(len(records)))
    if len(sys.argv) > 7 and sys.argv[7] != "all":
        wanted = [int(v) for v in sys.argv[7].split(",")]
    entries = list(range(ncomp))
    if len(sys.argv) > 8:
        entries = [int(v) for v in sys.argv[8].split(",")]
    names = [names[k] for k in entries]

    problems = []
    datasets = ET.parse(pvd).getroot().find("Collection").findall("DataSet")
    if len(datasets) != len(wanted):
        problems.append("pvd lists %d files, expected %d" % (len(datasets), len(wanted)))
    for r, ds in zip(wanted, datasets):
        if float(ds.get("timestep")) != times[r]:
            problems.append("pvd timestep %s of record %d, expected %r" % (ds.get("timestep"), r, times[r]))
        path = os.path.join(os.path.dirname(pvd), ds.get("file"))
        reader = vtkXMLRectilinearGridReader()
        reader.SetFileName(path)
        reader.Update()
        grid = reader.GetOutput()
        if grid.GetDimensions() != (cols, rows, 1):
            problems.append("%s: dimensions %r" % (path, grid.GetDimensions()))
            continue
        x = list(vtk_to_numpy(grid.GetXCoordinates()))
        y = list(vtk_to_numpy(grid.GetYCoordinates()))
        z = list(vtk_to_numpy(grid.GetZCoordinates()))
        if x != col_coord or y != row_coord or z != [0.0]:
            problems.append("%s: coordinates %r %r %r" % (path, x, y, z))
        tv = grid.GetFieldData().GetArray("TimeValue")
        if tv is None or tv.GetValue(0) != times[r]:
            problems.append("%s: TimeValue missing or wrong" % path)
        pd = grid.GetPointData()
        got = [pd.GetArrayName(a) for a in range(pd.GetNumberOfArrays())]
        if got != names:
            problems.append("%s: arrays %r, expected %r" % (path, got, names))
            continue
        for k, name in zip(entries, names):
            array = vtk_to_numpy(pd.GetArray(name))
            if array.shape != (rows * cols,):
                problems.append("%s: %s has shape %r" % (path, name, array.shape))
                continue
            for n in range(rows * cols):
                expected = records[r][n * ncomp + k]
                if not same(float(array[n]), expected):
                    problems.append("%s: %s of node %d is %r, expected %r" % (path, name, n, float(array[n]), expected))
                    break
    for p in problems:
        print(p)
    if problems:
        return 1
    print("checked %d files" % len(datasets))
    return 0


if __name__ == "__main__":
    sys.exit(main())
