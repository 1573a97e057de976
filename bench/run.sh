#!/usr/bin/env bash
# The benchmarks, run by `make bench` from inside the build folder with a
# display available: open to first frame of the 512 x 512 x 256 head with each
# method beside VTK's GPU and CPU ray casters (whole processes), one table of
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

/usr/bin/python3 "$here/first_frame.py" bin/volren-render "$data/head512.dat" samples/ct.tf
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
/usr/bin/python3 "$here/vtk_compare.py" bin/volren-render samples/head256.dat samples/ct.tf \
    samples/vessels256.dat samples/vessels.tf
echo
/usr/bin/python3 "$here/scan_memory.py" bin
