#!/usr/bin/python3
"""Times a lit ray-cast frame of a .dat volume with volren-render and with
VTK's CPU ray caster (vtkFixedPointVolumeRayCastMapper) side by side, at the
same size, footprint, sampling distance and transfer function.

usage: vtk_compare.py VOLREN_RENDER VOLUME.dat [--size WxH] [--frames N]
       [--vtk-frames N] [--gpu-frames N] [--distance D] [--step F] [--picture PNG]

volren draws the volume into the cube from -1 to +1 (the padded texture
space), 45 degree vertical field of view, camera at z = -distance. VTK gets
the same geometry in voxel units: one model unit is 128 x voxels, the z
spacing stretches the padded depth to the cube's, the camera sits
128 * distance from the centre. volren's step is in texture space, so
--step 0.002 of a 256-wide volume is 0.512 voxels; VTK samples every 0.5.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

import numpy
import vtk
from vtk.util import numpy_support

# volren's start-up transfer function: per channel (value 0-255, density).
STARTUP = [
    [(10, 0), (0, 1), (0, 20000)],
    [(0, 0), (255, 100), (0, 500), (0, 20000)],
    [(0, 0), (255, 600), (0, 20000)],
    [(0, 0), (100, 2000), (150, 6000), (255, 20000)],
]
# The ray caster's opacity is that of a slab of 0.01 in texture space.
REFERENCE_STEP = 0.01


def channel_at(points, d):
    for (v0, p0), (v1, p1) in zip(points, points[1:]):
        if p0 <= d <= p1:
            return (v0 + (v1 - v0) * (d - p0) / (p1 - p0)) / 255.0
    return points[-1][0] / 255.0


def read_dat(path):
    raw = numpy.fromfile(path, dtype="<u2")
    dim_x, dim_y, dim_z = (int(v) for v in raw[:3])
    return dim_x, dim_y, dim_z, raw[3:3 + dim_x * dim_y * dim_z].copy()


def next_power_of_two(n):
    p = 1
    while p < n:
        p *= 2
    return p


def time_volren(tool, volume, size, frames, distance, step):
    with tempfile.TemporaryDirectory() as folder:
        out = subprocess.run([os.path.abspath(tool), os.path.abspath(volume), "-o", os.path.join(folder, "frame.png"), "--size", size,
                              "--distance", str(distance), "--step", str(step), "--lighting", "1",
                              "--frames", str(frames)], cwd=folder, capture_output=True, text=True, check=True)
    m = re.search(r"frames \d+ median_ms ([0-9.]+) min_ms ([0-9.]+)", out.stdout)
    return float(m.group(1)), float(m.group(2))


def time_vtk(volume, size, frames, distance, mapper_class, picture=None, sample_distance=0.5):
    dim_x, dim_y, dim_z, samples = read_dat(volume)
    tex_x, tex_z = next_power_of_two(dim_x), next_power_of_two(dim_z)
    voxels_per_unit = tex_x / 2.0
    spacing = (1.0, next_power_of_two(dim_y) / tex_x, tex_x / tex_z)

    image = vtk.vtkImageData()
    image.SetDimensions(dim_x, dim_y, dim_z)
    image.SetSpacing(*spacing)
    # Voxel centres where volren's texture places them: the cube is centred
    # on the origin and padding lies beyond the last voxel.
    image.SetOrigin(-voxels_per_unit + 0.5 * spacing[0], -voxels_per_unit + 0.5 * spacing[1],
                    -voxels_per_unit + 0.5 * spacing[2])
    image.GetPointData().SetScalars(numpy_support.numpy_to_vtk(samples, deep=True,
                                                               array_type=vtk.VTK_UNSIGNED_SHORT))

    breaks = sorted({p for channel in STARTUP for _, p in channel if p <= 4096} | {4096})
    color = vtk.vtkColorTransferFunction()
    opacity = vtk.vtkPiecewiseFunction()
    for d in breaks:
        color.AddRGBPoint(d, *(channel_at(STARTUP[c], d) for c in range(3)))
        opacity.AddPoint(d, channel_at(STARTUP[3], d))

    prop = vtk.vtkVolumeProperty()
    prop.SetColor(color)
    prop.SetScalarOpacity(opacity)
    prop.SetScalarOpacityUnitDistance(REFERENCE_STEP * tex_x)
    prop.SetInterpolationTypeToLinear()
    prop.ShadeOn()

    mapper = mapper_class()
    mapper.SetInputData(image)
    if hasattr(mapper, "SetSampleDistance"):
        mapper.SetSampleDistance(sample_distance)
    if hasattr(mapper, "SetAutoAdjustSampleDistances"):
        mapper.SetAutoAdjustSampleDistances(0)

    actor = vtk.vtkVolume()
    actor.SetMapper(mapper)
    actor.SetProperty(prop)

    renderer = vtk.vtkRenderer()
    renderer.SetBackground(0, 0, 0)
    renderer.AddVolume(actor)
    camera = renderer.GetActiveCamera()
    camera.SetFocalPoint(0, 0, 0)
    camera.SetPosition(0, 0, -distance * voxels_per_unit)
    camera.SetViewUp(0, 1, 0)
    camera.SetViewAngle(45)
    camera.SetClippingRange(1.0 * voxels_per_unit, 100000.0)

    window = vtk.vtkRenderWindow()
    width, height = (int(v) for v in size.split("x"))
    window.SetSize(width, height)
    window.AddRenderer(renderer)
    window.Render()
    if frames == 0:
        return None
    times = []
    for _ in range(frames):
        start = time.perf_counter()
        window.Render()
        times.append(1000.0 * (time.perf_counter() - start))
    if picture:
        grab = vtk.vtkWindowToImageFilter()
        grab.SetInput(window)
        writer = vtk.vtkPNGWriter()
        writer.SetFileName(picture)
        writer.SetInputConnection(grab.GetOutputPort())
        writer.Write()
    window.Finalize()
    return statistics.median(times), min(times)


def first_frame(volume, size, distance, mapper_name, sample_distance):
    """The whole of a first frame as a new user's script would make it: read
    the file with numpy, build the pipeline, render once. Run as its own
    process by first_frame.py, which times the process."""
    mapper_class = {"gpu": vtk.vtkGPUVolumeRayCastMapper, "cpu": vtk.vtkFixedPointVolumeRayCastMapper}[mapper_name]
    time_vtk(volume, size, 0, distance, mapper_class, sample_distance=sample_distance)


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--first-frame":
        # vtk_compare.py --first-frame gpu|cpu VOLUME.dat SIZE DISTANCE SAMPLE_DISTANCE
        first_frame(sys.argv[3], sys.argv[4], float(sys.argv[5]), sys.argv[2], float(sys.argv[6]))
        return 0
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("tool")
    parser.add_argument("volume")
    parser.add_argument("--size", default="537x595")
    parser.add_argument("--frames", type=int, default=10)
    parser.add_argument("--vtk-frames", type=int, default=10)
    parser.add_argument("--gpu-frames", type=int, default=0,
                        help="also time VTK's GPU ray caster over this many frames")
    parser.add_argument("--distance", type=float, default=-5.0)
    parser.add_argument("--step", type=float, default=0.002)
    parser.add_argument("--picture", help="write VTK's CPU frame to this PNG, to compare the footprint")
    args = parser.parse_args()

    volren = time_volren(args.tool, args.volume, args.size, args.frames, args.distance, args.step)
    fixed = time_vtk(args.volume, args.size, args.vtk_frames, args.distance, vtk.vtkFixedPointVolumeRayCastMapper,
                     args.picture)
    rows = [("volren ray casting, lit", volren, args.frames),
            ("VTK %s vtkFixedPointVolumeRayCastMapper" % vtk.vtkVersion.GetVTKVersion(), fixed, args.vtk_frames)]
    if args.gpu_frames > 0:
        gpu = time_vtk(args.volume, args.size, args.gpu_frames, args.distance, vtk.vtkGPUVolumeRayCastMapper)
        rows.append(("VTK %s vtkGPUVolumeRayCastMapper" % vtk.vtkVersion.GetVTKVersion(), gpu, args.gpu_frames))

    print("Lit ray-cast frame, %s, %s, step %g (VTK sample distance 0.5 voxels), distance %g"
          % (os.path.basename(args.volume), args.size, args.step, args.distance))
    print("| renderer | frames | median ms | min ms |")
    print("|---|---:|---:|---:|")
    for name, (median, least), frames in rows:
        print("| %s | %d | %.1f | %.1f |" % (name, frames, median, least))
    print("volren / VTK CPU: %.2f (target at most 0.67)" % (volren[0] / fixed[0]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
