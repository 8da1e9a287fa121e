# Frozen compressed files made by an earlier build must keep restoring byte for byte, each file
# with its stored last-write time (tests/golden/archives.txt lists what each one holds).
source "$(dirname "$0")/common.bash"

golden="$here/../golden"
manifest="$golden/archives.txt"
declare -A done_runs
while read -r archive options name size sum filetime; do
  case "$archive" in "#"* | "") continue ;; esac
  dir="$work/$archive/${options//[^a-z0-9]/_}"
  key="$archive $options"
  if [ -z "${done_runs[$key]:-}" ]; then
    done_runs[$key]=1
    mkdir -p "$dir" && cp "$golden/$archive" "$dir/" && cd "$dir"
    if [ "$options" = - ]; then run -h "$archive"; else run -h "$options" "$archive"; fi
    expect_rc 0 "restore $archive ($options)"
    same_file "$golden/$archive" "$dir/$archive" "$archive itself is untouched by its restore"
  fi
  file="$dir/$name"
  checks=$((checks + 1))
  if [ ! -f "$file" ]; then
    fail "$archive ($options): $name not restored"
    continue
  fi
  check "$archive: $name is $size bytes" [ "$(stat -c %s "$file")" = "$size" ]
  check "$archive: $name content" [ "$(sha256sum <"$file" | cut -d' ' -f1)" = "$sum" ]
  check "$archive: $name time" [ "$(pck mtime "$file")" = "$filetime" ]
done <"$manifest"

# Nothing but the listed files came back.
for dir in "$work"/tree.pck/_; do
  check "tree.pck restores exactly five files" [ "$(find "$dir/golden" -type f | wc -l)" = 5 ]
done

finish
