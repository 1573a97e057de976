#!/usr/bin/env bash
# Installs what only the benchmarks need: VTK's Python bindings, used by the
# comparison with VTK's CPU ray caster. The program never links against VTK.
# Only missing packages are installed.
set -euo pipefail

packages=(python3-vtk9 python3-numpy mesa-utils)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing for the benchmarks: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  apt=(apt-get)
else
  apt=(sudo apt-get)
fi
export DEBIAN_FRONTEND=noninteractive
"${apt[@]}" update
"${apt[@]}" install -y --no-install-recommends "${missing[@]}"
