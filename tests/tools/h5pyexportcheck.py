#!/usr/bin/env python3
"""The HDF5 export of kalder-cli read by an independent reader, h5py.

A scan on the virtual 13-sensor disc is written as a kdf file and, at the same time, as an HDF5
file; the kdf file is exported again with `kalder-cli export --h5`. h5py then checks the shapes,
the units and the results against what `kalder-cli inspect` prints of the kdf file.
Usage: h5pyexportcheck.py KALDER_CLI
"""
import os
import re
import subprocess
import sys
import tempfile

import h5py
import numpy as np

failures = []


def check(condition, text):
    if not condition:
        failures.append(text)


def run(cli, *args, env, cwd, expect=0):
    result = subprocess.run([cli, *args], env=env, cwd=cwd, capture_output=True, text=True)
    check(result.returncode == expect,
          f"kalder-cli {' '.join(args)}: exit {result.returncode}, {result.stderr.strip()}")
    return result


def inspect(text):
    """What inspect prints: the header lines, the settings and each scan's channel results."""
    fields = dict(re.findall(r"^(version|points|traces|scans): (\d+)$", text, re.M))
    results = [(float(e), float(f)) for e, f in re.findall(
        r"^channel \d+: average energy (\S+) eV, ion flux (\S+) A/m2(?: \(simulated\))?$", text, re.M)]
    scan = re.search(r"^scan 1: time (\S+), (\d+) traces, electrode voltage (\S+) V$", text, re.M)
    backend = re.search(r"^  linkBackend: (\S+)$", text, re.M)
    return {k: int(v) for k, v in fields.items()}, results, scan, backend


def close(a, b):
    """Equal to the four significant digits inspect prints."""
    return abs(a - b) <= 5e-4 * max(abs(a), abs(b)) + 1e-12


def main():
    cli = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as work:
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": work,
               "XDG_CONFIG_HOME": work, "XDG_DATA_HOME": work, "TOLMAR_VSENSOR_SPEED": "0",
               "TOLMAR_VSENSOR_PROFILE": "disc13", "TOLMAR_LINK": "virtual"}
        run(cli, "scan", "--out", "run.kdf", "--h5", "scan.h5", "--traces", "3",
            "--bias-start", "0", "--bias-end", "60", "--bias-step", "2", "--settle-ms", "0",
            env=env, cwd=work)
        run(cli, "export", "run.kdf", "--h5", "run.h5", env=env, cwd=work)
        failed = run(cli, "export", "run.kdf", "--h5", "none/run.h5", env=env, cwd=work,
                     expect=4)
        check("cannot write none/run.h5" in failed.stderr, f"message: {failed.stderr.strip()}")
        check(not os.path.exists(os.path.join(work, "none")), "a failed export left a file")
        fields, results, scan, backend = inspect(
            run(cli, "inspect", "run.kdf", env=env, cwd=work).stdout)
        if failures:
            return
        # One result line per current channel of the sweeps.
        current, points, traces = len(results), fields["points"], fields["traces"]
        check((current, traces, points) == (13, 3, 31), f"inspect: {len(results)} {fields}")

        with h5py.File(os.path.join(work, "run.h5"), "r") as f, \
                h5py.File(os.path.join(work, "scan.h5"), "r") as s:
            check(f.attrs["dataKind"] == 0 and f.attrs["kdfVersion"] == fields["version"],
                  "root attributes dataKind, kdfVersion")
            check(f.attrs["linkBackend"] == backend.group(1) == "virtual", "linkBackend")
            check(f.attrs["currentChannels"] == current and f.attrs["points"] == points,
                  "root attributes currentChannels, points")
            voltage = f.attrs["voltageRows"]
            check(len(f.attrs["ionFluxFactor"]) == current, "ionFluxFactor is an array")
            check(list(f.keys()) == ["scan_0001"], f"groups {list(f.keys())}")
            g = f["scan_0001"]
            shapes = {"energy": (points,), "current": (current, points),
                      "dIdE": (current, points), "voltages": (voltage, points),
                      "averageEnergy": (current,), "ionFlux": (current,),
                      "traces": (traces, current, points),
                      "traceVoltages": (traces, voltage, points)}
            units = {"energy": "eV", "current": "A", "dIdE": "A/eV", "voltages": "V",
                     "averageEnergy": "eV", "ionFlux": "A/m2", "traces": "A",
                     "traceVoltages": "V"}
            for name, shape in shapes.items():
                check(g[name].shape == shape, f"{name}: shape {g[name].shape}, not {shape}")
                check(g[name].attrs["units"] == units[name], f"{name}: units")
            check(g["traces"].compression == "gzip" and g["traces"].chunks is not None,
                  "the sweeps are chunked and compressed")
            check(g.attrs["traceCount"] == traces and
                  close(g.attrs["time"], float(scan.group(1))) and
                  close(g.attrs["electrodeVoltage"], float(scan.group(3))),
                  "scan attributes time, traceCount, electrodeVoltage")
            for c, (energy, flux) in enumerate(results):
                check(close(g["averageEnergy"][c], energy) and close(g["ionFlux"][c], flux),
                      f"channel {c + 1}: {g['averageEnergy'][c]} eV, {g['ionFlux'][c]} A/m2 "
                      f"against {energy}, {flux}")
            # The average is the mean of the sweeps (three sweeps: no outlier rejection), and
            # the file written during the scan holds the same sweeps as the kdf file.
            check(np.allclose(g["current"][()], g["traces"][()].mean(axis=0), rtol=1e-9,
                              atol=0), "current is the mean of the sweeps")
            check(np.array_equal(s["scan_0001/traces"][()], g["traces"][()]),
                  "scan --h5 and export --h5 hold the same sweeps")
            check(s.attrs["scanDate"] == f.attrs["scanDate"][:len(s.attrs["scanDate"])],
                  "scan date")


if __name__ == "__main__":
    main()
    for failure in failures:
        print("FAILED:", failure)
    sys.exit(1 if failures else 0)
