#!/usr/bin/python3
"""Times a lit ray-cast frame of .dat volumes with volren-render and with VTK's
ray casters side by side, matched: the same transfer function read from the
same .tf file, the same camera, image size, sampling distance and opacity
scale. Prints both medians, their ratio, and how far volren's frame with
leaps over empty space (--adaptive 1) is from the one without (--adaptive 0).

usage: vtk_compare.py VOLREN_RENDER VOLUME.dat FILE.tf [VOLUME.dat FILE.tf ...]
       [--size WxH] [--frames N] [--vtk-frames N] [--gpu-frames N]
       [--distance D] [--step F] [--pictures DIR]

Geometry: volren draws the volume centred on the origin in its own
proportions, its largest side from -1 to +1, each voxel a cube, 45 degree
vertical field of view, the camera on +z at the given distance from the centre. VTK gets the same in
voxel units: spacing 1, centred, one model unit is half the largest side, the
camera at distance times that. volren's step is a fraction of the largest
side, so VTK samples every step * largest voxels, and its opacity unit
distance is 0.01 of the largest side, the slab the lookup table's opacity
stands for in volren.
"""
import argparse
import os
import re
import statistics
import struct
import subprocess
import sys
import tempfile
import time

import numpy
import vtk
from vtk.util import numpy_support

REFERENCE_STEP = 0.01


def read_dat(path):
    raw = numpy.fromfile(path, dtype="<u2")
    dim_x, dim_y, dim_z = (int(v) for v in raw[:3])
    return dim_x, dim_y, dim_z, raw[3:3 + dim_x * dim_y * dim_z].copy()


def read_tf(path):
    """The four channels of a .tf file, each a sorted list of (value, position)."""
    data = open(path, "rb").read()
    magic, header_size, record_size = struct.unpack_from("<III", data, 0)
    counts = struct.unpack_from("<IIII", data, 12)
    if magic != 18004:
        raise SystemExit("%s: not a transfer function file" % path)
    offset = header_size
    channels = []
    for count in counts:
        samples = []
        for _ in range(count):
            value = data[offset]
            position = struct.unpack_from("<I", data, offset + 4)[0]
            samples.append((value, position))
            offset += record_size
        channels.append(sorted(samples, key=lambda s: s[1]))
    return channels


def evaluate(samples, x):
    """One channel at density x, with volren's integer interpolation."""
    if not samples:
        return 0
    i = 0
    while i < len(samples) and samples[i][1] <= x:
        i += 1
    if i == 0:
        return samples[0][0]
    if i == len(samples):
        return samples[-1][0]
    (v0, p0), (v1, p1) = samples[i - 1], samples[i]
    if p1 == p0:
        return v0
    return (v0 + int((abs(x - p0) * (v1 - v0)) / abs(p1 - p0))) & 0xFF


def volren_frames(tool, volume, tf, size, frames, distance, step, adaptive, picture):
    with tempfile.TemporaryDirectory() as folder:
        out = subprocess.run([os.path.abspath(tool), os.path.abspath(volume), "-o", os.path.abspath(picture),
                              "--tf", os.path.abspath(tf), "--size", size, "--distance", str(distance),
                              "--step", str(step), "--lighting", "1", "--adaptive", str(adaptive),
                              "--frames", str(frames)], cwd=folder, capture_output=True, text=True, check=True)
    m = re.search(r"frames \d+ median_ms ([0-9.]+) min_ms ([0-9.]+)", out.stdout)
    return float(m.group(1)), float(m.group(2))


def vtk_frames(volume, tf, size, frames, distance, step, mapper_class, picture):
    dim_x, dim_y, dim_z, samples = read_dat(volume)
    largest = max(dim_x, dim_y, dim_z)
    half = largest / 2.0

    image = vtk.vtkImageData()
    image.SetDimensions(dim_x, dim_y, dim_z)
    image.SetSpacing(1.0, 1.0, 1.0)
    # Voxel centres as volren places them: the box from -dim/2 to dim/2.
    image.SetOrigin(-(dim_x - 1) / 2.0, -(dim_y - 1) / 2.0, -(dim_z - 1) / 2.0)
    image.GetPointData().SetScalars(numpy_support.numpy_to_vtk(samples, deep=True,
                                                               array_type=vtk.VTK_UNSIGNED_SHORT))

    channels = read_tf(tf)
    breaks = sorted({min(p, 4095) for channel in channels for _, p in channel} | {0, 4095})
    color = vtk.vtkColorTransferFunction()
    opacity = vtk.vtkPiecewiseFunction()
    for d in breaks:
        color.AddRGBPoint(d, *(evaluate(channels[c], d) / 255.0 for c in range(3)))
        opacity.AddPoint(d, evaluate(channels[3], d) / 255.0)

    prop = vtk.vtkVolumeProperty()
    prop.SetColor(color)
    prop.SetScalarOpacity(opacity)
    prop.SetScalarOpacityUnitDistance(REFERENCE_STEP * largest)
    prop.SetInterpolationTypeToLinear()
    prop.ShadeOn()
    prop.SetAmbient(0.3)
    prop.SetDiffuse(0.7)
    prop.SetSpecular(0.3)
    prop.SetSpecularPower(32.0)

    mapper = mapper_class()
    mapper.SetInputData(image)
    mapper.SetSampleDistance(step * largest)
    mapper.SetAutoAdjustSampleDistances(0)

    actor = vtk.vtkVolume()
    actor.SetMapper(mapper)
    actor.SetProperty(prop)

    renderer = vtk.vtkRenderer()
    renderer.SetBackground(0, 0, 0)
    renderer.AddVolume(actor)
    camera = renderer.GetActiveCamera()
    camera.SetFocalPoint(0, 0, 0)
    camera.SetPosition(0, 0, distance * half)
    camera.SetViewUp(0, 1, 0)
    camera.SetViewAngle(45)
    camera.SetClippingRange(1.0 * half, 100000.0 * half)

    window = vtk.vtkRenderWindow()
    window.SetOffScreenRendering(1)
    width, height = (int(v) for v in size.split("x"))
    window.SetSize(width, height)
    window.AddRenderer(renderer)
    window.Render()
    if frames == 0:
        # The first frame only, as first_frame.py times it.
        window.Finalize()
        return None
    times = []
    for _ in range(frames):
        start = time.perf_counter()
        window.Render()
        times.append(1000.0 * (time.perf_counter() - start))
    grab = vtk.vtkWindowToImageFilter()
    grab.SetInput(window)
    writer = vtk.vtkPNGWriter()
    writer.SetFileName(picture)
    writer.SetInputConnection(grab.GetOutputPort())
    writer.Write()
    window.Finalize()
    return statistics.median(times), min(times)


def read_png(path):
    reader = vtk.vtkPNGReader()
    reader.SetFileName(path)
    reader.Update()
    data = reader.GetOutput()
    components = data.GetPointData().GetScalars().GetNumberOfComponents()
    pixels = numpy_support.vtk_to_numpy(data.GetPointData().GetScalars()).reshape(-1, components)
    return pixels[:, :3].astype(numpy.int32)


def first_frame(mapper_name, volume, tf, size, distance, step):
    """The whole of a first frame as a new user's script makes it: read the
    file with numpy, build the pipeline, render once. Run as a process of its
    own by first_frame.py, which times the process."""
    mapper_class = {"gpu": vtk.vtkGPUVolumeRayCastMapper, "cpu": vtk.vtkFixedPointVolumeRayCastMapper}[mapper_name]
    vtk_frames(volume, tf, size, 0, distance, step, mapper_class, None)


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--first-frame":
        # vtk_compare.py --first-frame gpu|cpu VOLUME.dat FILE.tf SIZE DISTANCE STEP
        mapper_name, volume, tf, size, distance, step = sys.argv[2:8]
        first_frame(mapper_name, volume, tf, size, float(distance), float(step))
        return 0
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("tool")
    parser.add_argument("pairs", nargs="+", metavar="VOLUME.dat FILE.tf")
    parser.add_argument("--size", default="537x595")
    parser.add_argument("--frames", type=int, default=10)
    parser.add_argument("--vtk-frames", type=int, default=10)
    parser.add_argument("--gpu-frames", type=int, default=5,
                        help="also time VTK's GPU ray caster over this many frames (0: not)")
    parser.add_argument("--distance", type=float, default=5.0)
    parser.add_argument("--step", type=float, default=0.002)
    parser.add_argument("--pictures", help="keep the pictures in this folder")
    args = parser.parse_args()
    if len(args.pairs) % 2:
        parser.error("volumes and transfer functions come in pairs")

    folder = args.pictures or tempfile.mkdtemp(prefix="volren-compare-")
    os.makedirs(folder, exist_ok=True)
    version = vtk.vtkVersion.GetVTKVersion()
    print("Lit ray-cast frame, %s, step %g of the largest side, camera at distance %g, median of %d frames"
          % (args.size, args.step, args.distance, args.frames))
    print("| volume | volren leaping ms | volren marching ms | VTK %s CPU ms | volren / CPU | VTK GPU ms | "
          "volren / GPU | leaping vs marching: largest, mean, pixels > 8 |" % version)
    print("|---|---:|---:|---:|---:|---:|---:|---|")
    for volume, tf in zip(args.pairs[0::2], args.pairs[1::2]):
        name = "%s, %s" % (os.path.splitext(os.path.basename(volume))[0], os.path.splitext(os.path.basename(tf))[0])
        leaping_png = os.path.join(folder, name.replace(", ", "_") + "_volren_leaping.png")
        marching_png = os.path.join(folder, name.replace(", ", "_") + "_volren_marching.png")
        leaping = volren_frames(args.tool, volume, tf, args.size, args.frames, args.distance, args.step, 1,
                                leaping_png)
        marching = volren_frames(args.tool, volume, tf, args.size, args.frames, args.distance, args.step, 0,
                                 marching_png)
        cpu = vtk_frames(volume, tf, args.size, args.vtk_frames, args.distance, args.step,
                         vtk.vtkFixedPointVolumeRayCastMapper, os.path.join(folder, name.replace(", ", "_") + "_vtk_cpu.png"))
        gpu_ms, gpu_ratio = "-", "-"
        if args.gpu_frames > 0:
            gpu = vtk_frames(volume, tf, args.size, args.gpu_frames, args.distance, args.step,
                             vtk.vtkGPUVolumeRayCastMapper, os.path.join(folder, name.replace(", ", "_") + "_vtk_gpu.png"))
            gpu_ms, gpu_ratio = "%.1f" % gpu[0], "%.2f" % (leaping[0] / gpu[0])
        a, b = read_png(leaping_png), read_png(marching_png)
        difference = numpy.abs(a - b)
        far = int(numpy.count_nonzero(difference.max(axis=1) > 8))
        print("| %s | %.1f | %.1f | %.1f | %.2f | %s | %s | %d, %.3f, %d |"
              % (name, leaping[0], marching[0], cpu[0], leaping[0] / cpu[0], gpu_ms, gpu_ratio,
                 int(difference.max()), float(difference.mean()), far))
    print("target: volren / CPU at most 0.5, leaping vs marching: largest at most 8, mean under 0.25")
    print("pictures: %s" % folder)
    return 0


if __name__ == "__main__":
    sys.exit(main())
