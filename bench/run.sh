#!/usr/bin/env bash
# The benchmarks, run by `make bench` from inside the build folder with a
# display available: open to first frame of the 512 x 512 x 256 head with each
# method beside VTK's GPU and CPU ray casters (whole processes), the same for
# the 1024 x 1024 x 512 head with the ray caster, the 512-wide head as a DICOM
# series against its .dat file, one table of
# load stages and frame times, then a lit ray-cast frame side by side with
# VTK's CPU ray caster, frames while the view is dragged, and the peak memory
# of an anisotropic scan opened at its own spacing against its resampled
# import. Generated volumes go to a temporary folder.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bash "$here/install-bench-deps.sh"

data="$(mktemp -d /tmp/volren-bench-XXXXXX)"
trap 'rm -rf "$data"' EXIT
./bin/volren-samples --large "$data"
./bin/volren-samples --huge "$data"

/usr/bin/python3 "$here/first_frame.py" bin/volren-render "$data/head512.dat" samples/ct.tf
echo
# The same head as 256 DICOM files against its .dat file: time and memory to
# the first frame, and the same picture.
/usr/bin/python3 "$here/dicom_first_frame.py" bin/volren-render "$data/head512.dat" samples/ct.tf
echo
# 1 GiB of densities: too large for a gradient texture (and, in Mesa's
# software rasteriser, for any texture over 1 GiB), drawn from the densities.
/usr/bin/python3 "$here/first_frame.py" bin/volren-render "$data/head1024.dat" samples/ct.tf --rounds 1 \
    --ray-casting-only
rm -f "$data/head1024.dat"
echo
/usr/bin/python3 "$here/table.py" bin samples/head256.dat "$data/head512.dat" "$@"
echo
# Frames while the mouse turns the view: each within 40 ms at the resolution
# the program chooses, against the still frame at full resolution.
for method in ray-casting volume-texture slices; do
    for size in 537x595 1024x1024; do
        echo "$method $size:"
        ./bin/volren-render "$data/head512.dat" -o "$data/drag.png" --tf samples/ct.tf --method "$method" \
            --size "$size" --drag 60 --frames 5
    done
done
echo
# The head with ct.tf, then with head.tf (a thin veil of skin over an opaque
# skull), with veil.tf (a function the ray caster was not tuned on: the skin a
# veil of opacity 0.02 to 0.05 from 930 to 1000, soft tissue clear, the skull
# opaque from 1300), the vessel tree, and the real CT head of docs/ (64 x 64 x
# 93, drawn with cubic voxels as VTK gets it) with its skull and with
# head.tf's veil.
docs="$here/../docs"
/usr/bin/python3 "$here/vtk_compare.py" bin/volren-render samples/head256.dat samples/ct.tf \
    samples/head256.dat samples/head.tf samples/head256.dat "$here/veil.tf" samples/vessels256.dat samples/vessels.tf \
    "$docs/headsq_ct.dat" "$docs/headsq_ct_skull.tf" "$docs/headsq_ct.dat" samples/head.tf
echo
/usr/bin/python3 "$here/scan_memory.py" bin
