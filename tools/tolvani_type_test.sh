#!/bin/sh
# tolvani-type keeps what it learned: two runs in one folder add up their counts, a run ended by
# SIGTERM still saves, and no temporary store file is left behind.
#   tolvani_type_test.sh TOLVANI_TYPE FOLDER
set -eu
tool=$1
dir=$2
rm -rf "$dir"
mkdir -p "$dir"
export TOLVANI_DATA_DIR="$dir"

count_of_ami() {
  # The user dictionary's entry for আমি: "আমি":{"frequency":N,...
  sed -n 's/.*"আমি":{"frequency":\([0-9]*\).*/\1/p' "$dir/user-dictionary.json"
}

for run in 1 2; do
  out=$(printf 'ami ami ami\n' | "$tool")
  [ "$out" = "আমি আমি আমি" ] || { echo "run $run committed: $out" >&2; exit 1; }
done
[ "$(count_of_ami)" = 6 ] || { echo "after two runs আমি counts $(count_of_ami), not 6" >&2; exit 1; }

# A run ended by a signal while it waits for input.
fifo="$dir/input"
mkfifo "$fifo"
"$tool" <"$fifo" >"$dir/output" &
pid=$!
exec 3>"$fifo"
printf 'ami\n' >&3
while [ "$(cat "$dir/output")" != "আমি" ]; do kill -0 "$pid"; done
kill -TERM "$pid"
wait "$pid" || true
exec 3>&-
rm -f "$fifo" "$dir/output"
[ "$(count_of_ami)" = 7 ] || { echo "after SIGTERM আমি counts $(count_of_ami), not 7" >&2; exit 1; }

leftovers=$(ls -A "$dir" | grep -v -e '\.json$' -e '\.lock$' || true)
[ -z "$leftovers" ] || { echo "left behind: $leftovers" >&2; exit 1; }
rm -rf "$dir"
