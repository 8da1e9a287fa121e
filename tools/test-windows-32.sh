#!/usr/bin/env bash
# The 32-bit Windows program, the program's first target, under 32-bit Wine: sets 32-bit Wine up
# where it is missing (Debian's wine32:i386; this needs the i386 indexes of the machine's own apt
# mirrors), runs every cross-built 32-bit test program (the window tests under Xvfb) and the
# identical-archive check of the three builds. Run after every other step that needs apt-get: enabling i386 makes apt fetch i386
# indexes from then on. When the packages cannot be had (the mirror, not the project) it prints
# "win32: skipped: REASON" and exits 0; otherwise every test must pass. Prints the time of each step.
set -uo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
skip() { echo "win32: skipped: $*"; exit 0; }
step_start=$(date +%s)
step() { local now; now=$(date +%s); echo "win32: $1 ($((now - step_start)) s)"; step_start=$now; }

if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed"; then
  [ "$(id -u)" = 0 ] || skip "32-bit Wine is missing and this is not root"
  dpkg --add-architecture i386
  updated=
  for _ in 1 2 3; do
    apt-get update -qq >/dev/null 2>&1 && { updated=1; break; }
    sleep 20
  done
  [ -n "$updated" ] || echo "win32: apt-get update failed three times with i386 enabled; trying the install all the same"
  packages=(wine wine64 wine32:i386 fonts-wine)
  if ! apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null 2>&1; then
    # An i386 index that did not arrive (a suite mid-sync) leaves amd64 libraries from that suite
    # newer than any i386 twin; both halves of a multi-arch library must match, so take the
    # release suite's versions for this install, letting apt step those few libraries back.
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || skip "the 32-bit Wine packages cannot be installed and the release is unknown"
    pin="$(mktemp)"
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 1001\n' "$codename" >"$pin"
    apt-get -o Dir::Etc::Preferences="$pin" install -y -qq --allow-downgrades --no-install-recommends \
      "${packages[@]}" >/dev/null 2>&1 ||
      { rm -f "$pin"; skip "the 32-bit Wine packages cannot be installed from this machine's mirrors (an i386 index mid-sync?)"; }
    rm -f "$pin"
    echo "win32: installed from the $codename release suite (an i386 index was missing)"
  fi
  step "32-bit Wine installed"
fi
timeout 60 wine --version >/dev/null 2>&1 || skip "this kernel does not run i386 code"
[ -f build-win32/velmora.exe ] || bash tools/build-windows.sh >/dev/null || { echo "win32: the cross build failed"; exit 1; }
step "programs built"

work=$(mktemp -d /tmp/velmora-w32.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all LANG=ru_RU.UTF-8
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
timeout 300 wine wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
step "Wine prefix made"

failed=0
bash tools/windows-test-programs.sh build-win32 win32 wine || failed=1
step "test programs run"
bash tests/windows/end_to_end.sh build build-win64 build-win32 || failed=$((failed + 1))
step "identical archives of the three builds"
[ "$failed" -eq 0 ]
