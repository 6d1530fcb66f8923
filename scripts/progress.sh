# The progress of a long step on standard error, read from what its tool writes: on one line
# redrawn in place where standard error is a terminal, else as plain lines, one at each tenth of
# the way and one at least every 30 s while it lasts. Sourced by scripts/run and scripts/setup.
#
#   TOOL | show_progress NAME WHAT KIND LOG
#
# NAME prefixes the lines ("run", "setup"), WHAT names the step. KIND says what the tool writes:
#   ninja  its status lines "[DONE/TOTAL] ...", shown as "WHAT: DONE of TOTAL";
#   apt    apt-get's status lines (-o APT::Status-Fd=1) "dlstatus:...:PERCENT:..." while it
#          downloads and "pmstatus:...:PERCENT:..." while it installs, shown as
#          "WHAT: downloading, PERCENT%" and "WHAT: setting up, PERCENT%".
# Every other line goes to the file LOG, for the caller to show when the step fails.

show_progress() {
  local name=$1 what=$2 kind=$3 log=$4
  local line text phase= shown=-1 tenth last=$SECONDS terminal=0 drawn=0 done total
  [ -t 2 ] && terminal=1
  while IFS= read -r line; do
    case $kind in
      ninja)
        if [[ $line =~ ^\[([0-9]+)/([0-9]+)\]\  ]]; then
          done=${BASH_REMATCH[1]} total=${BASH_REMATCH[2]}
          # Ninja's look at globbed folders comes before the build's own steps.
          ((done > 0)) || continue
          text="$done of $total"
        else
          printf '%s\n' "$line" >>"$log"
          continue
        fi
        ;;
      apt)
        if [[ $line =~ ^(dl|pm)status:[^:]*:([0-9]+) ]]; then
          done=${BASH_REMATCH[2]} total=100
          # Each part starts again from nothing.
          if [ "${BASH_REMATCH[1]}" != "$phase" ]; then
            phase=${BASH_REMATCH[1]}
            shown=-1
          fi
          if [ "$phase" = dl ]; then text="downloading, $done%"; else text="setting up, $done%"; fi
        else
          printf '%s\n' "$line" >>"$log"
          continue
        fi
        ;;
    esac
    if ((terminal)); then
      printf '\r\033[K%s: %s: %s' "$name" "$what" "$text" >&2
      drawn=1
    else
      ((total > 0)) && tenth=$((done * 10 / total)) || tenth=0
      if ((tenth > shown || SECONDS - last >= 30)); then
        printf '%s: %s: %s\n' "$name" "$what" "$text" >&2
        shown=$tenth
        last=$SECONDS
      fi
    fi
  done
  if ((drawn)); then printf '\n' >&2; fi
  return 0
}
