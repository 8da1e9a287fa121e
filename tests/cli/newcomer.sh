# What a new user meets beyond a single command line (those are rows of cases.txt): questions
# nobody can answer, and the installed program with its manual.
source "$(dirname "$0")/common.bash"

# --- questions nobody can answer (no display, standard input not a terminal): No, and one line ---
mkdir -p "$work/q/t" && cd "$work/q"
for i in 1 2 3; do echo "new $i" >"t/f$i"; done
run -h t
for i in 1 2 3; do echo "old $i" >"t/f$i"; done
runs 0 "a restore over existing files that nobody can answer" -h t.pck
check "no question is printed" test "$(grep -c Overwrite "$work/stderr")" = 0
stderr_has "velmora: 3 existing files were kept; -o replaces them" "the run says what it kept"
check "the existing files are kept" test "$(cat t/f2)" = "old 2"
run -h -o t.pck
check "-o replaces them" test "$(cat t/f2)" = "new 2"

# --- the installed program ---
build_dir="$(dirname "$velmora")"
if [ -f "$build_dir/CMakeCache.txt" ]; then
  cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null 2>&1
  check "cmake --install installs the program" test -x "$work/prefix/bin/velmora"
  manual="$work/prefix/share/man/man1/velmora.1"
  check "and its manual" test -f "$manual"
  check "and nothing else" [ "$(find "$work/prefix" -type f | wc -l)" = 2 ]
  if command -v man >/dev/null; then
    MANWIDTH=100 man -l "$manual" >"$work/manual" 2>"$work/manual-errors"
    check "the manual reads without a warning" test ! -s "$work/manual-errors"
    for part in NAME SYNOPSIS OPTIONS 'EXIT STATUS' VELMORA_THREADS -d=FOLDER -w=n; do
      check "the manual tells $part" grep -qF -- "$part" "$work/manual"
    done
  fi
fi
finish
