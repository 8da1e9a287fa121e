# Recovery after damage: the chain found again after changed, inserted, deleted and cut bytes
# (the tables are in recovery.py).
source "$(dirname "$0")/common.bash"

python3 "$here/recovery.py" "$velmora" "$corpus" || fail "recovery after damage"
checks=$((checks + 1))
finish
