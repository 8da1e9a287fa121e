# Names the user types, in any script: the current folder, the source and -d= keep every
# character, whatever the current folder is called and however long its name; the question names
# the whole file. (Selection words and escaped names are rows of cases.txt.)
source "$(dirname "$0")/common.bash"

names() { pck list "$1" | cut -d' ' -f6- | sort | tr '\n' ' '; }
tree() {  # tree DIR: a folder photos with two files
  mkdir -p "$1/photos" && printf 'one\n' >"$1/photos/a.txt" && printf 'two\n' >"$1/photos/é.txt"
}

long="$work/$(printf 'é%.0s' $(seq 1 100))"
long="$long/$(basename "$long")/$(basename "$long")/$(basename "$long")/$(basename "$long")/$(basename "$long")"
for folder in "$work/Téléchargements" "$work/josé" "$long"; do
  label="in $(basename "$folder" | cut -c1-16) ($(printf %s "$folder" | wc -c) bytes)"
  mkdir -p "$folder" && cd "$folder" && tree . && tree café && mkdir -p "photosé" && printf 'x\n' >photosé/x.txt
  runs 0 "$label: velmora -h photos" -h photos
  check "$label: photos.pck holds photos" [ "$(names photos.pck)" = 'photos\a.txt photos\é.txt ' ]
  (cd photosé && run -h .) && expect_rc 0 "$label: velmora -h . in photosé"
  check "$label: . is archived as photosé beside it" [ "$(names photosé.pck)" = 'photosé\x.txt ' ]
  runs 0 "$label: velmora -h café" -h café
  check "$label: café is archived" [ "$(names café.pck)" = 'café\photos\a.txt café\photos\é.txt ' ]
  runs 0 "$label: -d=résumé" -h -d=résumé photos.pck
  same_file photos/é.txt résumé/photos/é.txt "$label: restored into résumé"
  # A relative -d= names a folder of the current one, also when the archive lies in another.
  mkdir -p sub && mv café.pck sub/
  runs 0 "$label: a relative -d= with the archive in sub" -h -d=out sub/café.pck
  same_file photos/a.txt out/café/photos/a.txt "$label: restored into ./out"
  check "$label: nothing restored into sub/out" [ ! -e sub/out ]
done

# The question names the whole file, in any script.
mkdir -p "$work/sel/src" "$work/sel/ask/src" && cd "$work/sel"
printf '日本\n' >src/日本.txt
runs 0 "compress the words' tree" -h src
printf 'old\n' >ask/src/日本.txt && cd ask
ask n -d=. ../src.pck src/日本.txt
check "the question shows the whole name" grep -qF 'File "src/日本.txt" already exist. Overwrite?' "$work/asked"
check "No kept the file" [ "$(cat src/日本.txt)" = old ]

finish
