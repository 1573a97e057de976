#!/usr/bin/env bash
# Installs what only the benchmarks need: VTK's Python bindings, used by the
# comparison with VTK's CPU ray caster, pydicom, which writes the DICOM series
# of the first-frame comparison, and glxinfo. The program never links against
# VTK or pydicom.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bash "$here/../scripts/install-deps.sh" python3-vtk9 python3-numpy python3-pydicom mesa-utils
