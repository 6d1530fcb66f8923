# The progress of a long step on standard error, read from what its tool writes: on one line
# redrawn in place where standard error is a terminal, else as plain lines, one at each tenth of
# the way, and whenever the tool has been silent for PROGRESS_EVERY seconds (12 unless set; a
# single compile or link step can take half a minute on 2 cores) one that says the step is still
# at work. Sourced by scripts/run and scripts/setup.
#
#   TOOL | show_progress NAME WHAT KIND LOG
#
# NAME prefixes the lines ("run", "setup"), WHAT names the step. KIND says what the tool writes:
#   ninja  its status lines "[DONE/TOTAL] ...", shown as "WHAT: DONE of TOTAL";
#   apt    apt-get's status lines (-o APT::Status-Fd=1) "dlstatus:...:PERCENT:..." while it
#          downloads and "pmstatus:...:PERCENT:..." while it installs, shown as
#          "WHAT: downloading, PERCENT%" and "WHAT: setting up, PERCENT%".
# Every other line goes to the file LOG, for the caller to show when the step fails.

# "45 s", "2 min 5 s".
progress_duration() {
  if (($1 < 60)); then printf '%d s' "$1"; else printf '%d min %d s' $(($1 / 60)) $(($1 % 60)); fi
}

show_progress() {
  local name=$1 what=$2 kind=$3 log=$4
  local line text= phase= shown=-1 tenth last=$SECONDS terminal=0 drawn=0 done total
  local every=${PROGRESS_EVERY:-12} started=$SECONDS part pending= wait ended=0
  [ -t 2 ] && terminal=1
  while ((!ended)); do
    # Waits no longer than the time left until a line is due.
    wait=$((every - (SECONDS - last)))
    ((wait >= 1)) || wait=1
    if IFS= read -r -t "$wait" part; then
      line=$pending$part
      pending=
    elif (($? > 128)); then
      # Silent so far: what came of a line is kept for the rest of it.
      pending+=$part
      if ((!terminal && SECONDS - last >= every)); then
        printf '%s: %s: %s, still at work (%s so far)\n' "$name" "$what" "${text:-under way}" \
          "$(progress_duration $((SECONDS - started)))" >&2
        last=$SECONDS
      fi
      continue
    else
      # The end; a last line may lack its newline.
      ended=1
      line=$pending$part
      [ -n "$line" ] || break
    fi
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
      if ((tenth > shown || SECONDS - last >= every)); then
        printf '%s: %s: %s\n' "$name" "$what" "$text" >&2
        shown=$tenth
        last=$SECONDS
      fi
    fi
  done
  if ((drawn)); then printf '\n' >&2; fi
  return 0
}
