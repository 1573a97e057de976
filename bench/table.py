#!/usr/bin/python3
"""Prints the benchmark table: the stages of loading a volume (from
volren_bench_load) and the frame time of every rendering method and
classification (from volren-render --frames), at two panel sizes, on the
256 x 256 x 113 sample head and a 512 x 512 x 256 head, with the machine and
the OpenGL renderer named.

usage: table.py BIN_FOLDER HEAD256.dat HEAD512.dat [--frames N] [--slow-frames N]
"""
import argparse
import json
import os
import platform
import re
import subprocess
import sys
import tempfile

VOLUMES = ["256x256x113", "512x512x256"]
SIZES = ["537x595", "1024x1024"]
METHODS = ["slices", "volume-texture", "ray-casting"]
CLASSIFICATIONS = ["pre", "shaders", "none"]

# Load stages of volren_bench_load, in the order a load runs them.
LOAD_STAGES = [
    ("ReadFileBaseline", "load: plain read of the file (baseline)"),
    ("ReadIntoGrid", "load: read into the padded grid"),
    ("Histogram", "load: histogram"),
    ("Gradients", "load: gradients (half floats, slab by slab, no upload)"),
    ("PreClassification", "load: pre-classification (lookup table)"),
    ("GradientTexture", "load: gradient texture (gradients and upload, slab by slab)"),
    ("LookupTexture", "load: lookup texture"),
    ("SliceTextures", "texture build: slice stacks"),
    ("ClassifiedSliceTextures", "texture build: slice stacks, pre-classified"),
    ("VolumeTexture", "texture build: 3D texture"),
    ("ClassifiedVolumeTexture", "texture build: 3D texture, pre-classified"),
    ("TransferFunctionChange", "transfer-function change: lookup and pre-classified 3D texture"),
]


def machine():
    model = platform.processor() or "unknown CPU"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%s, %d cores" % (model, os.cpu_count() or 0)


def gl_renderer():
    try:
        out = subprocess.run(["glxinfo", "-B"], capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return "unknown (glxinfo failed)"
    renderer = re.search(r"OpenGL renderer string: (.*)", out)
    version = re.search(r"OpenGL version string: (.*)", out)
    return "%s, %s" % (renderer.group(1) if renderer else "unknown", version.group(1) if version else "")


def load_stages(bench):
    out = subprocess.run([bench, "--benchmark_format=json"], capture_output=True, text=True, check=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        name, volume = b["name"].split("/", 1)
        assert b["time_unit"] == "ms"
        times[(name, volume)] = b["real_time"]
    return times


def frame_time(render, volume, size, method, classification, frames, folder):
    args = [render, volume, "-o", os.path.join(folder, "frame.png"), "--size", size, "--method", method,
            "--classification", classification, "--frames", str(frames)]
    # Up to three tries, as for the tests: Xvfb now and then resets a new connection.
    for attempt in range(3):
        result = subprocess.run(args, cwd=folder, capture_output=True, text=True)
        if result.returncode == 0 or attempt == 2:
            break
    result.check_returncode()
    return float(re.search(r"median_ms ([0-9.]+)", result.stdout).group(1))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("bin")
    parser.add_argument("head256")
    parser.add_argument("head512")
    parser.add_argument("--frames", type=int, default=10, help="frames per configuration")
    parser.add_argument("--slow-frames", type=int, default=3,
                        help="frames per configuration of the 512 x 512 x 256 volume and of pre-classified slices")
    args = parser.parse_args()
    render = os.path.abspath(os.path.join(args.bin, "volren-render"))
    bench = os.path.abspath(os.path.join(args.bin, "volren_bench_load"))
    volumes = [os.path.abspath(args.head256), os.path.abspath(args.head512)]

    print("Machine: %s" % machine(), flush=True)
    print("OpenGL renderer: %s" % gl_renderer(), flush=True)
    loads = load_stages(bench)

    rows = []
    for name, caption in LOAD_STAGES:
        rows.append((caption, [loads.get((name, v)) for v in VOLUMES]))
    with tempfile.TemporaryDirectory() as folder:
        for size in SIZES:
            for method in METHODS:
                # The ray caster classifies in its shader whatever the setting.
                for classification in (["none"] if method == "ray-casting" else CLASSIFICATIONS):
                    values = []
                    for index, volume in enumerate(volumes):
                        slow = index == 1 or (method == "slices" and classification == "pre")
                        values.append(frame_time(render, volume, size, method, classification,
                                                 args.slow_frames if slow else args.frames, folder))
                    shown = "any" if method == "ray-casting" else classification
                    rows.append(("frame: %s, classification %s, %s" % (method, shown, size), values))

    print()
    print("Times in ms (load stages: Google Benchmark means; frames: median of %d frames, %d for the large "
          "volume). Frames use volren-render's defaults: the volume framed, step 0.01, lit, adaptive steps, "
          "start-up transfer function." % (args.frames, args.slow_frames))
    print()
    print("| stage or frame | 256 x 256 x 113 head | 512 x 512 x 256 head |")
    print("|---|---:|---:|")
    for caption, values in rows:
        print("| %s | %s |" % (caption, " | ".join("—" if v is None else "%.1f" % v for v in values)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
