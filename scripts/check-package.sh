#!/usr/bin/env bash
# Checks the Debian package that `make package` wrote into the build folder:
# the files a desktop needs are in it, its dependencies name the libraries
# the programs link, and lintian finds no error in it.
set -euo pipefail
build="${1:-build}"
shopt -s nullglob
packages=("$build"/volren_*.deb)
if [ ${#packages[@]} -ne 1 ]; then
  echo "check-package: expected one volren_*.deb in $build, found ${#packages[@]}" >&2
  exit 1
fi
deb="${packages[0]}"
# The names from the sixth field on: a preset's name has spaces.
contents="$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' | sed 's|^\./|/|')"
missing=0
for file in /usr/bin/volren /usr/bin/volren-render /usr/bin/volren-import /usr/bin/volren-samples \
  /usr/bin/volren-screenshot /usr/libexec/volren/volren-reader /usr/share/volren/Shaders/RayCasting.frag /usr/share/volren/samples/ct.tf \
  /usr/share/volren/samples/mri.tf /usr/share/volren/samples/head256.dat /usr/share/applications/volren.desktop \
  "/usr/share/volren/presets/CT bone.tf" /usr/share/volren/presets/presets.ini \
  /usr/share/mime/packages/volren.xml /usr/share/metainfo/volren.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/volren.svg /usr/share/icons/hicolor/48x48/apps/volren.png \
  /usr/share/icons/hicolor/256x256/apps/volren.png /usr/share/doc/volren/copyright \
  /usr/share/doc/volren/changelog.gz; do
  if ! grep -qx "$file" <<<"$contents"; then
    echo "check-package: $deb lacks $file" >&2
    missing=1
  fi
done
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libqt6widgets6 libqt6gui6 libglew2.2 libtbb12 libinsighttoolkit5.2 fonts-liberation2 qt6-qpa-plugins; do
  if ! grep -q "\b$library\b" <<<"$depends"; then
    echo "check-package: $deb does not depend on $library (Depends: $depends)" >&2
    missing=1
  fi
done
desktop="$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/applications/volren.desktop)"
for type in application/dicom image/x-nifti image/x-nrrd image/x-metaimage; do
  if ! grep -q "^MimeType=.*$type;" <<<"$desktop"; then
    echo "check-package: the desktop entry does not list $type" >&2
    missing=1
  fi
done
[ "$missing" -eq 0 ]
# Errors fail the check; warnings (the programs have no manual pages yet)
# are shown.
lintian --fail-on error --allow-root "$deb"
# The programs as the package lays them out, unpacked into a folder of their
# own: they find their shaders and samples in share/volren/ and open a scan.
root="$(mktemp -d /tmp/volren-package-XXXXXX)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
xvfb=()
if [ -z "${DISPLAY:-}" ]; then
  xvfb=(xvfb-run -a -s "-screen 0 1280x1024x24")
fi
(cd "$root" && "${xvfb[@]}" "$root/usr/bin/volren-render" "$here/docs/headsq_ct.nhdr" -o "$root/ct.png" \
  --tf "$root/usr/share/volren/samples/ct.tf" --size 128x128 > /dev/null)
(cd "$root" && "${xvfb[@]}" "$root/usr/bin/volren-screenshot" "$here/docs/headsq_ct.nhdr" "$root/window.png" > /dev/null)
for picture in ct.png window.png; do
  if [ ! -s "$root/$picture" ]; then
    echo "check-package: the unpacked programs wrote no $picture" >&2
    exit 1
  fi
done
echo "check-package: $deb is complete: $(wc -l <<<"$contents") entries, Depends: $depends"
