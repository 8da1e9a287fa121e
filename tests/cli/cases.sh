# Runs the cases of cases.txt: each a command line of the real program in a fresh folder and what
# it must give (its exit code, lines of its standard error, shell tests of what it left).
source "$(dirname "$0")/common.bash"

number=0
run_case() {  # the case read so far, if any
  [ -n "$name" ] || return 0
  number=$((number + 1))
  if [ "$as" = as_nobody ] && [ "$can_drop" = 0 ] && [ "$(id -u)" = 0 ]; then
    echo "note: no unprivileged user can be had here; not run: $name"
    return 0
  fi
  mkdir -p "$work/case-$number" && cd "$work/case-$number" || return 0
  if ! (eval "$given") </dev/null >"$work/given" 2>&1; then
    fail "$name: setting it up failed: $(head -c 600 "$work/given")"
    return 0
  fi
  [ "$as" != as_nobody ] || chmod 777 .  # the folder of the case is the user's to write in
  rc=99
  (cd "${in:-.}" && eval "${as:-run} $args"; echo "$rc" >"$work/rc")
  rc=$(cat "$work/rc")
  expect_rc "$exit" "$name"
  local line
  while IFS= read -r line; do [ -z "$line" ] || stderr_has "$line" "$name"; done <<<"$says"
  while IFS= read -r line; do [ -z "$line" ] || check "$name: $line" eval "$line" </dev/null; done <<<"$then"
  cd "$work"
}

name=
while IFS= read -r line || [ -n "$line" ]; do
  value=${line#*:} value=${value# }
  case $line in
    '' | '#'*) ;;
    case:*) run_case; name=$value given= args= exit=0 says= then= as= in= ;;
    given:*) given+=$value$'\n' ;;
    run:*) args=$value ;;
    in:*) in=$value ;;
    as:*) as=as_$value ;;
    exit:*) exit=$value ;;
    says:*) says+=$value$'\n' ;;
    then:*) then+=$value$'\n' ;;
    *) fail "cases.txt: a line of no known kind: $line" ;;
  esac
done <"$here/cases.txt"
run_case
finish
