# Names the user types, in any script: the current folder, the source, -d= and the selection
# words keep every character, whatever the current folder is called and however long its name.
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

# Selection words are exact: a letter code page 1251 lacks is itself, never a wildcard.
mkdir -p "$work/sel/src" && cd "$work/sel"
for name in ab 日本 кот ßx ssy Straße; do printf '%s\n' "$name" >"src/$name.txt"; done
runs 0 "compress the words' tree" -h src
runs 0 "src/日本.txt restores" -h -d=one src.pck src/日本.txt
check "src/日本.txt selects only itself" [ "$(ls one/src)" = "日本.txt" ]
runs 0 "src/ß* restores" -h -d=sharp src.pck 'src/ß*'
check "src/ß* selects what starts with ß, not ss" [ "$(ls sharp/src)" = "ßx.txt" ]

# An empty word ("" or a script's unset variable) selects nothing, with -o too.
mkdir -p keep/src && printf 'mine\n' >keep/src/ab.txt
runs 4 "an empty word" -h -o -d=keep src.pck ""
stderr_has '"": an empty name matches no entry' "the empty word is named"
check "the empty word touched nothing" [ "$(cat keep/src/ab.txt)" = mine ] && check "nor made anything" [ "$(ls keep/src)" = ab.txt ]

# The question names the whole file, in any script.
mkdir -p ask/src && printf 'old\n' >ask/src/日本.txt && cd ask
ask n -d=. ../src.pck src/日本.txt
check "the question shows the whole name" grep -qF 'File "src/日本.txt" already exist. Overwrite?' "$work/asked"
check "No kept the file" [ "$(cat src/日本.txt)" = old ]

# A name that is not UTF-8 cannot be opened by any system name: the reason says so.
runs 4 "an archive named with a byte that is not UTF-8" -t $'x\xFF.pck'
stderr_has 'x\xFF.pck: The name is not valid UTF-8' "the reason names the real cause"

# A name's invisible characters are shown escaped in -l, -t and the question.
cd "$work/sel"
pck craft bidi.pck $'report\u202Efdp.exe=x' $'zero\u200Bwidth.txt=y'
runs 0 "-l of crafted names" -l bidi.pck
check "-l shows the override escaped" grep -qF 'report\u{202E}fdp.exe' "$work/stdout"
check "-l shows the zero-width space escaped" grep -qF 'zero\u{200B}width.txt' "$work/stdout"
check "-l shows nothing raw" bash -c "! grep -q $'\u202E\|\u200B' '$work/stdout'"
finish
