#!/usr/bin/python3
"""Peak memory of opening an anisotropic scan: a CT-like NIfTI of 512 x 512 x 43
slices, 0.4 mm apart in-plane and 2.4 mm between slices, drawn by
volren-render directly at its own spacing and after volren-import resampled
it to cubic voxels (512 x 512 x 258). Whole processes, one frame each, with
each method; the peak resident memory is the kernel's ru_maxrss of the
process and its children (the reader's child process included), the median
of --rounds runs.

usage: scan_memory.py BIN_FOLDER [--rounds N]
"""
import argparse
import array
import os
import statistics
import struct
import subprocess
import tempfile

METHODS = [("ray casting", ["--method", "ray-casting"]),
           ("volume texture", ["--method", "volume-texture"]),
           ("slices", ["--method", "slices"])]


def write_scan(path):
    """A head-like slab in Hounsfield units: air, a soft-tissue ellipse with
    a bony rim; the same slice 43 times."""
    nx, ny, nz = 512, 512, 43
    row_values = array.array("h")
    for y in range(ny):
        for x in range(nx):
            r = ((x - 256) / 200.0) ** 2 + ((y - 256) / 230.0) ** 2
            row_values.append(-1000 if r > 1.0 else (1200 if r > 0.85 else 40))
    header = bytearray(348)
    struct.pack_into("<i", header, 0, 348)
    struct.pack_into("<8h", header, 40, 3, nx, ny, nz, 1, 1, 1, 1)
    struct.pack_into("<hh", header, 70, 4, 16)
    struct.pack_into("<8f", header, 76, 1.0, 0.4, 0.4, 2.4, 1, 1, 1, 1)
    struct.pack_into("<f", header, 108, 352.0)
    header[344:348] = b"n+1\0"
    with open(path, "wb") as f:
        f.write(bytes(header) + b"\0" * 4)
        plane = row_values.tobytes()
        for _ in range(nz):
            f.write(plane)


def peak_kib(command):
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    if status != 0:
        raise RuntimeError("%s ended with status %d" % (" ".join(command), status))
    return usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("bin")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    render = os.path.join(args.bin, "volren-render")
    with tempfile.TemporaryDirectory() as folder:
        scan = os.path.join(folder, "ct.nii")
        resampled = os.path.join(folder, "ct.dat")
        write_scan(scan)
        subprocess.run([os.path.join(args.bin, "volren-import"), scan, resampled], check=True,
                       stdout=subprocess.DEVNULL)
        out = os.path.join(folder, "x.png")
        print("Peak memory of opening a 512 x 512 x 43 CT (0.4 x 0.4 x 2.4 mm) to its first frame, "
              "median of %d runs" % args.rounds)
        print()
        print("| method | scan at its own spacing | resampled import (512 x 512 x 258) | ratio |")
        print("|---|---:|---:|---:|")
        for name, options in METHODS:
            direct = statistics.median(peak_kib([render, scan, "-o", out, "--converge", "0"] + options) for _ in range(args.rounds))
            imported = statistics.median(
                peak_kib([render, resampled, "-o", out, "--converge", "0"] + options) for _ in range(args.rounds))
            print("| %s | %.0f MiB | %.0f MiB | %.2f |" % (name, direct / 1024, imported / 1024, direct / imported))


if __name__ == "__main__":
    main()
