#!/usr/bin/env bash
# Installs the Debian package that `make package` wrote into BUILD_DIR into a
# clean Debian 12 root, as a new user would (apt-get resolves its dependencies
# from the mirror), and runs the installed programs there as an ordinary user:
# what check-package.sh cannot see from the build machine, where everything
# the package might forget to depend on is already installed.
#
# Skips (exit 0) only where it cannot run at all: not root, no debootstrap, or
# the Debian mirror unreachable. Anything else that fails exits non-zero with
# one line naming it and the tail of BUILD_DIR/install-test.log.
set -Eeuo pipefail

build="${1:-build}"
me=install-test
xvfb=(xvfb-run -a -s "-screen 0 1280x1024x24")
# Only what the checks themselves need; the programs must run on what the
# package's own dependencies bring.
helpers=(xvfb xauth desktop-file-utils shared-mime-info)
mime_types=(application/dicom image/x-nifti image/x-nrrd image/x-metaimage)
# The user the programs run as, with a fixed id so that chroot needs no name
# lookup on the host.
uid=4321
user=tester
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

skip() {
  echo "$me: skipped: $*"
  exit 0
}

if [ "$(id -u)" -ne 0 ]; then
  skip "needs root (debootstrap, chroot and mounts)"
fi
if ! command -v debootstrap > /dev/null; then
  skip "debootstrap is not installed (make deps installs it)"
fi

shopt -s nullglob
packages=("$build"/volren_*.deb)
shopt -u nullglob
if [ ${#packages[@]} -ne 1 ]; then
  echo "$me: expected one volren_*.deb in $build, found ${#packages[@]}" >&2
  exit 1
fi
build="$(cd "$build" && pwd)"
deb="$build/$(basename "${packages[0]}")"
deb_name="$(basename "$deb")"
log="$build/install-test.log"
: > "$log"

# The URI and suite of every "deb" source this machine's apt reads, one pair a
# line, from the one-line format and from deb822 stanzas.
apt_sources() {
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] || continue
    awk '$1 == "deb" {
           i = 2
           if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
           print $i, $(i + 1)
         }' "$file"
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk 'BEGIN { RS = ""; FS = "\n" }
         {
           types = uris = suites = ""; enabled = "yes"
           for (j = 1; j <= NF; j++) {
             line = $j
             # Comments and the continuation lines of multi-line fields.
             if (line ~ /^[#[:space:]]/) continue
             k = index(line, ":")
             if (k == 0) continue
             key = tolower(substr(line, 1, k - 1)); value = substr(line, k + 1)
             gsub(/^[[:space:]]+|[[:space:]]+$/, "", value)
             if (key == "types") types = value
             else if (key == "uris") uris = value
             else if (key == "suites") suites = value
             else if (key == "enabled") enabled = tolower(value)
           }
           if (enabled == "no" || (" " types " ") !~ / deb /) next
           nu = split(uris, u, /[[:space:]]+/); ns = split(suites, s, /[[:space:]]+/)
           for (a = 1; a <= nu; a++) for (b = 1; b <= ns; b++) print u[a], s[b]
         }' "$file"
  done
}

# The first URI apt uses for SUITE, without a trailing slash.
source_for() {
  apt_sources | awk -v suite="$1" '$2 == suite { sub(/\/+$/, "", $1); print $1; exit }'
}

mirror="$(source_for bookworm)"
if [ -z "$mirror" ]; then
  echo "$me: no bookworm source in /etc/apt/sources.list or /etc/apt/sources.list.d/ to take the mirror from" >&2
  exit 1
fi

mirror_reachable() {
  local attempt
  for attempt in 1 2 3; do
    if wget -q --tries=1 --timeout=30 -O /dev/null "$mirror/dists/bookworm/InRelease" >> "$log" 2>&1; then
      return 0
    fi
    [ "$attempt" -eq 3 ] || sleep $((attempt * 10))
  done
  return 1
}
if ! mirror_reachable; then
  skip "the Debian mirror $mirror is unreachable"
fi

fail() {
  echo "$me: FAILED: $*" >&2
  if [ -s "$log" ]; then
    echo "$me: last lines of $log:" >&2
    tail -n 40 "$log" >&2
  fi
  exit 1
}

# Whatever else fails says where, once, from the shell that ends the test.
on_error() {
  [ "$BASH_SUBSHELL" -eq 0 ] || return 0
  fail "line $2: $3 (exit $1)"
}
trap 'on_error $? $LINENO "$BASH_COMMAND"' ERR

tmp="$(mktemp -d "$build/install-test.XXXXXX")"
root="$tmp/root"
home="/home/$user"
work="$home/work"

# Mount points under the root, deepest first: those this script made and any
# that an interrupted debootstrap left behind.
mounts_under_root() {
  local _source target _rest
  while read -r _source target _rest; do
    target="$(printf '%b' "$target")"
    case "$target" in
      "$root" | "$root"/*) echo "$target" ;;
    esac
  done < /proc/self/mounts | sort -r
}

# Ends what still runs inside the root (an Xvfb whose xvfb-run was killed),
# found by its root directory, so that its mounts can go.
end_root_processes() {
  local proc pid
  for proc in /proc/[0-9]*; do
    pid="${proc#/proc/}"
    if [ "$(readlink "$proc/root" 2> /dev/null)" = "$root" ]; then
      kill -KILL "$pid" 2> /dev/null || true
    fi
  done
}

unmount_root() {
  local target
  [ -d "$root" ] || return 0
  end_root_processes
  while read -r target; do
    [ -n "$target" ] || continue
    umount "$target" 2> /dev/null || umount -l "$target" 2> /dev/null || true
  done <<< "$(mounts_under_root)"
  [ -z "$(mounts_under_root)" ]
}

# The long commands run in the background, so that an interrupt is acted on
# at once rather than after them. The background job is a subshell, which
# the command (debootstrap, apt-get in the root) runs under.
child=""
process_tree() {
  local pid
  echo "$1"
  for pid in $(ps -o pid= --ppid "$1" 2> /dev/null); do
    process_tree "$pid"
  done
}
stop_child() {
  local tree
  [ -n "$child" ] && kill -0 "$child" 2> /dev/null || return 0
  tree="$(process_tree "$child")"
  # shellcheck disable=SC2086 # one process id a word
  kill -TERM $tree 2> /dev/null || true
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    # shellcheck disable=SC2086
    kill -0 $tree 2> /dev/null || break
    sleep 1
  done
  # shellcheck disable=SC2086
  kill -KILL $tree 2> /dev/null || true
  wait "$child" 2> /dev/null || true
  child=""
}

cleanup() {
  local status=$?
  trap - EXIT
  stop_child
  # Never remove the tree while /dev is bound into it: rm would empty the
  # host's /dev. --one-file-system guards against a mount missed here.
  if unmount_root; then
    rm -rf --one-file-system "$tmp"
  else
    echo "$me: could not unmount everything under $root; left $tmp in place" >&2
    status=1
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'echo "$me: interrupted" >&2; exit 130' INT
trap 'echo "$me: terminated" >&2; exit 143' TERM

# Runs a command in the background, its output appended to FILE, and waits
# for it.
in_background() {
  local file="$1" status=0
  shift
  "$@" >> "$file" 2>&1 &
  child=$!
  wait "$child" || status=$?
  child=""
  return "$status"
}

# Runs a command, its output into the log; on failure ends the test naming it.
step() {
  local what="$1"
  shift
  echo "== $what: $*" >> "$log"
  in_background "$log" "$@" || fail "$what (exit $?)"
}

# A step that downloads from the mirror: tried three times, since the mirror
# now and then drops a connection. Where the mirror is gone afterwards the
# test is skipped; otherwise the step's own failure fails it. PREPARE runs
# before each try.
network_step() {
  local what="$1" prepare="$2" attempt status=0
  shift 2
  for attempt in 1 2 3; do
    "$prepare"
    echo "== $what (try $attempt): $*" >> "$log"
    in_background "$log" "$@" && return 0
    status=$?
    [ "$attempt" -eq 3 ] || sleep $((attempt * 10))
  done
  mirror_reachable || skip "the Debian mirror $mirror became unreachable during: $what"
  fail "$what (exit $status after three tries)"
}

# As root in the root, with a clean environment as a login would have.
in_root() {
  env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive chroot "$root" "$@"
}

# As the ordinary user, in the work folder. The own network namespace keeps
# xvfb-run -a from taking the display of an X server on this machine: X's
# abstract sockets are per namespace, and the host's would be found first.
as_user() {
  env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$home" USER="$user" LOGNAME="$user" LANG=C.UTF-8 \
    "$(command -v unshare)" --net "$(command -v chroot)" --userspec="$uid:$uid" --groups="$uid" "$root" \
    env --chdir="$work" "$@"
}

# Runs a program as the user, the output into the log and into $output.
output=""
run_user() {
  local status=0
  echo "== as $user: $*" >> "$log"
  : > "$tmp/output"
  in_background "$tmp/output" as_user "$@" || status=$?
  output="$(cat "$tmp/output")"
  printf '%s\n' "$output" >> "$log"
  # The programs say why they ended in debug.log, beside where they ran.
  if [ "$status" -ne 0 ] && [ -s "$root$work/debug.log" ]; then
    echo "-- $work/debug.log:" >> "$log"
    tail -n 20 "$root$work/debug.log" >> "$log"
  fi
  return "$status"
}

# NAME in the work folder is a PNG file that PROGRAM wrote.
check_png() {
  [ -s "$root$work/$1" ] || fail "$2 wrote no $1"
  [ "$(head -c 8 "$root$work/$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$2 wrote $1, which is no PNG"
}

# debootstrap mounts /proc and /sys in the target while it runs and may leave
# them after a failure; a retry starts from an empty folder.
fresh_root() {
  unmount_root || fail "could not unmount what a failed debootstrap left in $root"
  rm -rf --one-file-system "$root"
  mkdir -p "$root"
}

# What the programs are run on, from the source tree: the CT head's NRRD
# header and the data file it names, its transfer function, and the picture
# tests' baseline of the installed sample.
data_file="$(sed -n 's/^data file: *//p' "$here/docs/headsq_ct.nhdr" 2> /dev/null || true)"
[ -n "$data_file" ] || fail "$here/docs/headsq_ct.nhdr is missing or names no data file"
inputs=("$here/docs/headsq_ct.nhdr" "$here/docs/$data_file" "$here/docs/headsq_ct_skull.tf"
  "$here/tests/baselines/head_raycast_lit.png")
for input in "${inputs[@]}"; do
  [ -f "$input" ] || fail "$input is missing"
done

unshare --net true 2>> "$log" ||
  fail "unshare --net is not permitted here; the test's X server needs a network namespace of its own"

echo "$me: debootstrap --variant=minbase bookworm from $mirror (log: $log)"
network_step "debootstrap of a minbase bookworm root" fresh_root \
  debootstrap --variant=minbase bookworm "$root" "$mirror"

# The sources a user's bookworm system has: the release, its updates and its
# security fixes, each from where this machine takes them.
{
  echo "deb $mirror bookworm main"
  echo "deb $mirror bookworm-updates main"
  security="$(source_for bookworm-security)"
  if [ -n "$security" ]; then
    echo "deb $security bookworm-security main"
  fi
} > "$root/etc/apt/sources.list"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
# No service of a package starts inside the root.
printf '#!/bin/sh\nexit 101\n' > "$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

# The host's /dev and /dev/pts, bound read-only: device nodes still open for
# writing, but nothing in the root, nor an rm -rf of the build folder while
# the test runs, can delete or create entries in the host's /dev.
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount -o remount,bind,ro "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount -o remount,bind,ro "$root/dev/pts"
mount -t tmpfs tmpfs "$root/dev/shm"

mkdir -p "$root/tmp/volren-package"
cp "$deb" "$root/tmp/volren-package/"
chmod 644 "$root/tmp/volren-package/$deb_name"

nothing() { :; }
apt_options=(-q -o Acquire::Retries=3)
echo "$me: apt-get install ./$deb_name"
network_step "apt-get update" nothing in_root apt-get "${apt_options[@]}" update
# The downloads first, tried again on a dropped connection; the install then
# only unpacks and configures, and its failure is the package's.
network_step "download of $deb_name's dependencies" nothing \
  in_root sh -c 'cd /tmp/volren-package && exec apt-get "$@"' sh "${apt_options[@]}" install --download-only -y \
  --no-install-recommends "./$deb_name"
step "apt-get install ./$deb_name" \
  in_root sh -c 'cd /tmp/volren-package && exec apt-get "$@"' sh -q install -y --no-install-recommends "./$deb_name"
step "dpkg --audit after the install" in_root dpkg --audit
# shellcheck disable=SC2016 # dpkg-query's field, not the shell's
status="$(in_root dpkg-query -W -f='${Status}' volren 2> /dev/null || true)"
[ "$status" = "install ok installed" ] || fail "volren is not installed after apt-get install (status: '$status')"

files="$(in_root dpkg -L volren)"
printf '%s\n' "$files" >> "$log"

# Every library the programs link is on the system, before anything else
# (the test's helpers) is installed that could bring a forgotten one.
programs=()
while read -r file; do
  case "$file" in
    /usr/bin/* | /usr/libexec/*) ;;
    *) continue ;;
  esac
  [ -f "$root$file" ] || continue
  if [ "$(head -c 4 "$root$file" | od -An -c | tr -d ' ')" = '177ELF' ]; then
    programs+=("$file")
  fi
done <<< "$files"
for program in /usr/bin/volren /usr/bin/volren-render /usr/bin/volren-import /usr/bin/volren-screenshot; do
  grep -qx "$program" <<< "$files" || fail "the package installs no $program"
done
for program in "${programs[@]}"; do
  [ -x "$root$program" ] || fail "$program is not executable"
  libraries="$(in_root ldd "$program" 2>&1)" || fail "ldd $program (exit $?): $(head -n 1 <<< "$libraries")"
  missing="$(awk '/not found/ { printf "%s%s", separator, $1; separator = " " }' <<< "$libraries")"
  [ -z "$missing" ] || fail "$program needs libraries that no dependency of the package installs: $missing"
done
# The scans' reader may become a program of its own; where the package has it,
# it must be runnable.
reader=/usr/libexec/volren/volren-reader
reader_note=""
if grep -qx "$reader" <<< "$files"; then
  [ -x "$root$reader" ] || fail "$reader is not executable"
  reader_note=", $reader executable"
fi

# The user, and what the programs run on in a folder of its own.
step "useradd $user" in_root useradd --create-home --uid "$uid" --user-group "$user"
mkdir -p "$root$work"
cp "${inputs[@]}" "$root$work/"
chown -R "$uid:$uid" "$root$work"

# volren-import needs no display: it runs before the test's helpers are there.
echo "$me: volren-import, then volren-render, volren-screenshot and volren as $user"
run_user timeout 300 volren-import headsq_ct.nhdr ct.dat || fail "volren-import headsq_ct.nhdr ct.dat (exit $?)"
planned="$(sed -n 's/^output: \([0-9]*\) x \([0-9]*\) x \([0-9]*\),.*/\1 \2 \3/p' <<< "$output")"
[ -n "$planned" ] || fail "volren-import printed no output grid"
[ -f "$root$work/ct.dat" ] || fail "volren-import wrote no ct.dat"
read -r x y z <<< "$(od -An -tu2 -N6 --endian=little "$root$work/ct.dat")"
[ "$x $y $z" = "$planned" ] || fail "ct.dat's header says $x x $y x $z, volren-import said $planned"
size="$(stat -c %s "$root$work/ct.dat")"
[ "$size" -eq $((6 + 2 * x * y * z)) ] || fail "ct.dat has $size bytes, not 6 + 2 x $x x $y x $z"

network_step "download of the test's helpers" nothing \
  in_root apt-get "${apt_options[@]}" install --download-only -y --no-install-recommends "${helpers[@]}"
step "apt-get install ${helpers[*]}" in_root apt-get -q install -y --no-install-recommends "${helpers[@]}"

# The sample that the picture tests draw, from where the package put it, must
# give their baseline picture.
samples=/usr/share/volren/samples
run_user timeout 300 "${xvfb[@]}" volren-render "$samples/head256.dat" -o head.png --tf "$samples/head.tf" \
  --size 200x200 --view down --reference head_raycast_lit.png --threshold 1 ||
  fail "volren-render $samples/head256.dat (exit $?; 3: not the picture of tests/baselines/head_raycast_lit.png)"
check_png head.png "volren-render $samples/head256.dat"

# The CT scan through its NRRD header, and once more with the clipping plane
# cutting all of it away: the scan's picture must differ from that empty one
# by several grey levels on average.
render_ct=(volren-render headsq_ct.nhdr --tf headsq_ct_skull.tf --size 256x256)
run_user timeout 300 "${xvfb[@]}" "${render_ct[@]}" -o ct.png || fail "volren-render headsq_ct.nhdr (exit $?)"
check_png ct.png "volren-render headsq_ct.nhdr"
run_user timeout 300 "${xvfb[@]}" "${render_ct[@]}" --clip 1,0,0,-2 -o empty.png ||
  fail "volren-render headsq_ct.nhdr --clip 1,0,0,-2 (exit $?)"
status=0
run_user timeout 300 "${xvfb[@]}" "${render_ct[@]}" -o ct-again.png --reference empty.png --threshold 0 || status=$?
difference="$(sed -n 's/^difference \([0-9.]*\) .*/\1/p' <<< "$output")"
if [ "$status" -ne 3 ] || [ -z "$difference" ] || ! awk -v d="$difference" 'BEGIN { exit !(d >= 2) }'; then
  fail "the CT scan's picture is (nearly) blank: mean difference '$difference' from the empty picture (exit $status)"
fi

# The file volren-import wrote opens in the renderer.
run_user timeout 300 "${xvfb[@]}" volren-render ct.dat -o ct-imported.png --size 128x128 ||
  fail "volren-render of volren-import's ct.dat (exit $?)"
check_png ct-imported.png "volren-render ct.dat"

# The main window with the scan, in a screenshot. Its widgets make any
# screenshot non-blank, so only that it was written is checked here; the
# renders above check the drawing.
run_user timeout 300 "${xvfb[@]}" volren-screenshot headsq_ct.nhdr window.png ||
  fail "volren-screenshot headsq_ct.nhdr window.png (exit $?)"
check_png window.png volren-screenshot

# The program itself, as the desktop entry starts it with a scan: it must
# still be running when timeout ends it.
status=0
run_user "${xvfb[@]}" timeout 8 volren headsq_ct.nhdr || status=$?
[ "$status" -eq 124 ] || fail "volren headsq_ct.nhdr ended by itself (exit $status) instead of running"

# What the desktop finds: the entry, the scan types it opens, their MIME
# types and globs, the icon it names, the presets.
check_desktop() {
  local when="$1" type glob entry icon program file
  entry="$root/usr/share/applications/volren.desktop"
  [ -f "$entry" ] || fail "$when: no /usr/share/applications/volren.desktop"
  for type in "${mime_types[@]}"; do
    grep -q "^$type=\(.*;\)\?volren.desktop;" "$root/usr/share/applications/mimeinfo.cache" ||
      fail "$when: the desktop database (mimeinfo.cache) does not list volren.desktop for $type"
    [ -f "$root/usr/share/mime/$type.xml" ] || fail "$when: the MIME database does not know $type"
  done
  while read -r type glob; do
    awk -F: -v type="$type" -v glob="$glob" '$2 == type && $3 == glob { found = 1 } END { exit !found }' \
      "$root/usr/share/mime/globs2" ||
      fail "$when: the MIME database does not map $glob to $type"
  done <<< "$(awk -F'"' '/<mime-type / { type = $2 } /<glob / { print type, $2 }' \
    "$root/usr/share/mime/packages/volren.xml")"
  program="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")"
  [ -x "$root/usr/bin/$program" ] || fail "$when: the desktop entry starts '$program', which is not in /usr/bin"
  icon="$(sed -n 's/^Icon=//p' "$entry")"
  for file in "scalable/apps/$icon.svg" "48x48/apps/$icon.png"; do
    [ -f "$root/usr/share/icons/hicolor/$file" ] || fail "$when: no icon /usr/share/icons/hicolor/$file"
  done
  [ -s "$root/usr/share/volren/presets/presets.ini" ] || fail "$when: no /usr/share/volren/presets/presets.ini"
}
step "desktop-file-validate volren.desktop" in_root desktop-file-validate /usr/share/applications/volren.desktop
check_desktop "after the install"

# Removing the package takes it out of the desktop, and installing it again
# on a system that has the databases already puts it back through the
# triggers, as on a user's desktop.
step "apt-get purge volren" in_root apt-get -q purge -y volren
for file in /usr/bin/volren /usr/share/volren /usr/share/applications/volren.desktop; do
  [ ! -e "$root$file" ] || fail "$file is left after apt-get purge volren"
done
if grep -q "volren.desktop" "$root/usr/share/applications/mimeinfo.cache"; then
  fail "the desktop database still lists volren.desktop after apt-get purge volren"
fi
step "apt-get install ./$deb_name again" \
  in_root sh -c 'cd /tmp/volren-package && exec apt-get "$@"' sh -q install -y --no-install-recommends "./$deb_name"
check_desktop "after installing it again"

echo "$me: $deb_name installed into a clean bookworm root; dependencies from $mirror, programs' libraries," \
  "volren-import, volren-render (sample as its baseline, CT scan drawn, imported scan), volren-screenshot," \
  "volren, desktop entry, MIME types, icon, presets, purge and reinstall${reader_note} ok" \
  "($SECONDS s)"
