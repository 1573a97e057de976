#!/usr/bin/python3
"""Open to first frame, whole process: volren-render VOLUME --frames 1 with
each method (and pre-classification for the slicing methods), next to VTK's
GPU and CPU ray casters drawing their first frame of the same volume from a
Python script that reads the file with numpy. Every configuration runs once
per round, one after the other, for --rounds rounds; the table shows the
median wall, user and system time and the median peak resident memory
(the kernel's ru_maxrss of the process).

usage: first_frame.py VOLREN_RENDER VOLUME.dat FILE.tf [--rounds N] [--size WxH] [--no-vtk]
       [--ray-casting-only]

volren draws with its start-up state (camera at z = -20, step 0.01 of the
largest side, lit, leaps over empty space) and the transfer function of
FILE.tf; VTK gets the same camera, transfer function and sampling distance
(see vtk_compare.py), lit.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))

VOLREN = [
    ("volren ray casting", ["--method", "ray-casting"]),
    ("volren volume texture, classification none", ["--method", "volume-texture", "--classification", "none"]),
    ("volren volume texture, pre-classified", ["--method", "volume-texture", "--classification", "pre"]),
    ("volren slices, classification none", ["--method", "slices", "--classification", "none"]),
    ("volren slices, pre-classified", ["--method", "slices", "--classification", "pre"]),
]


def dims(volume):
    with open(volume, "rb") as f:
        header = f.read(6)
    return [header[i] | (header[i + 1] << 8) for i in (0, 2, 4)]


def run(command, cwd):
    """Wall seconds, user seconds, system seconds and peak RSS in KiB of one
    process; up to three tries, as for the tests, since Xvfb now and then
    resets a new connection."""
    for _ in range(3):
        start = time.perf_counter()
        process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
        if status == 0:
            return wall, usage.ru_utime, usage.ru_stime, usage.ru_maxrss
    raise RuntimeError("%s ended with status %d" % (" ".join(command), status))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("render")
    parser.add_argument("volume")
    parser.add_argument("tf")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--size", default="537x595")
    parser.add_argument("--no-vtk", action="store_true", help="time volren only")
    parser.add_argument("--ray-casting-only", action="store_true",
                        help="volren's ray caster only, for volumes too large for the other methods' textures")
    args = parser.parse_args()
    render = os.path.abspath(args.render)
    volume = os.path.abspath(args.volume)
    tf = os.path.abspath(args.tf)
    dim_x, dim_y, dim_z = dims(volume)
    distance = 20.0
    step = 0.01

    configurations = [(name, [render, volume, "-o", "frame.png", "--converge", "0", "--tf", tf, "--size", args.size,
                              "--distance", str(distance), "--step", str(step), "--frames", "1"] + extra)
                      for name, extra in (VOLREN[:1] if args.ray_casting_only else VOLREN)]
    if not args.no_vtk:
        import vtk  # only to name the version
        version = vtk.vtkVersion.GetVTKVersion()
        for mapper, name in (("gpu", "vtkGPUVolumeRayCastMapper"), ("cpu", "vtkFixedPointVolumeRayCastMapper")):
            configurations.append(("VTK %s %s (Python, numpy read)" % (version, name),
                                   ["/usr/bin/python3", os.path.join(HERE, "vtk_compare.py"), "--first-frame", mapper,
                                    volume, tf, args.size, str(distance), str(step)]))

    results = {name: [] for name, _ in configurations}
    with tempfile.TemporaryDirectory() as folder:
        for _ in range(args.rounds):
            for name, command in configurations:
                results[name].append(run(command, folder))

    print("Open to first frame, whole process: %s (%d x %d x %d), %s, %s, median of %d runs, one after the other"
          % (os.path.basename(volume), dim_x, dim_y, dim_z, os.path.basename(tf), args.size, args.rounds))
    print()
    print("| program | wall s | user s | system s | peak RSS MiB |")
    print("|---|---:|---:|---:|---:|")
    for name, _ in configurations:
        runs = results[name]
        wall, user, system, rss = (statistics.median(r[i] for r in runs) for i in range(4))
        print("| %s | %.2f | %.2f | %.2f | %.0f |" % (name, wall, user, system, rss / 1024.0))
    print()
    print("Targets for volren on the 2-core machine: ray casting faster than either VTK mapper, in less peak "
          "memory than VTK's CPU ray caster (512 x 512 x 256: at most 0.8 s) and its GPU mapper (1024 x 1024 x 512).")
    return 0


if __name__ == "__main__":
    sys.exit(main())
