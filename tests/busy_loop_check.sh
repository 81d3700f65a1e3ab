#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks that each executable holds the busy loop exactly once, as one
# function that calibration and the bit delay both call, with its loop inside
# one 64-byte line: a second copy, or one that straddles a line, can run at
# another speed per pass than the one calibration timed.
#
# Usage: busy_loop_check.sh NM OBJDUMP EXECUTABLE...
set -eu
nm=$1
objdump=$2
shift 2

spin='_ZN12_GLOBAL__N_115SpinBusyCounterEi'
counter='_ZN12_GLOBAL__N_112busy_counterE'
failed=0

fail() {
  echo "$1: $2" >&2
  failed=1
}

for program in "$@"; do
  symbols=$("$nm" "$program" | grep -c "$spin\$" || true)
  [ "$symbols" -eq 1 ] || fail "$program" "$symbols symbols for the busy loop, not 1"

  listing=$("$objdump" -d --no-show-raw-insn "$program")
  # Every function that stores to the busy counter, and every one that calls
  # or jumps to the busy loop.
  writers=$(echo "$listing" | awk -v counter="<$counter>" '
    /^[0-9a-f]+ <.*>:$/ { name = $2 }
    /mov[a-z]* +%[a-z0-9]+,[^ ]*\(%rip\)/ && index($0, counter) { print name }' | sort -u)
  [ "$writers" = "<$spin>:" ] ||
    fail "$program" "the busy counter is counted down outside the one loop: $(echo $writers)"
  callers=$(echo "$listing" | awk -v spin="<$spin>" '
    /^[0-9a-f]+ <.*>:$/ { name = $2 }
    /(call|jmp) +[0-9a-f]+ </ && $NF == spin { print name }' | sort -u)
  for user in _Z8BitDelayv _Z14CalibrateDelayj; do
    echo "$callers" | grep -q "<$user>:" || fail "$program" "$user does not run the busy loop"
  done

  # The loop runs from the target of the function's backward branch to the
  # end of that branch.
  span=$(echo "$listing" | awk -v spin="<$spin>:" '
    function hex(text,   value, i) {
      value = 0
      for (i = 1; i <= length(text); i++) value = value * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
      return value
    }
    BEGIN { start = -1; branch_end = 0 }
    /^[0-9a-f]+ <.*>:$/ { inside = $2 == spin; next }
    inside && /^ *[0-9a-f]+:/ {
      address = hex(substr($1, 1, length($1) - 1))
      if (branch_end == -1) branch_end = address
      if ($2 ~ /^j/ && hex($3) < address) { start = hex($3); branch_end = -1 }
    }
    END { printf "%.0f %.0f\n", start, branch_end }')
  start=${span% *}
  end=${span#* }
  if [ "$start" -lt 0 ]; then
    fail "$program" "no loop found in the busy loop function"
  elif [ $((start / 64)) -ne $(((end - 1) / 64)) ]; then
    fail "$program" "the busy loop ($start to $end) crosses a 64-byte boundary"
  fi
done
exit $failed
