# The desktop session scripts/run was started from, found for the desktop user. sudo keeps the
# display (DISPLAY, XAUTHORITY) but drops the session bus (DBUS_SESSION_BUS_ADDRESS) and the
# desktop's name, and a bus need not be at /run/user/UID/bus (dbus-launch, some display managers
# put it elsewhere): so they are looked for where the session left them. Sourced by scripts/run
# and by its test (package/tests/RunSessionTest.cpp).
#
#   find_session USER PID
#
# Looks, in this order, at this shell's own environment, at the environments of PID and of its
# ancestors that USER owns (the terminal's shell that sudo was typed in), at the service manager
# of USER's login (RUNTIME/UID/bus), and at USER's other processes on the same display. Sets
# session_env to the variables USER's programs need in that session (NAME=value) and returns
#   0  a display was found, with a session bus that answers USER;
#   1  no display: there is no desktop session;
#   2  a display but no session bus that answers; session_problem says so.

# Where login sessions keep their runtime folders (a test points it elsewhere).
session_runtime_base=/run/user

session_env=()
session_problem=

# The display, the desktop, the folders a program of the session reads, and the input-method
# variables that connect its programs to IBus or fcitx5.
session_names=(DISPLAY WAYLAND_DISPLAY XAUTHORITY XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP
  DESKTOP_SESSION XDG_SESSION_TYPE XDG_RUNTIME_DIR XDG_DATA_DIRS GTK_IM_MODULE QT_IM_MODULE
  XMODIFIERS)

session_as_user() {
  local user=$1
  shift
  if [ "$(id -un)" = "$user" ]; then "$@"; else runuser -u "$user" -- "$@"; fi
}

# Whether the bus at ADDRESS answers USER.
session_bus_answers() {
  session_as_user "$1" env DBUS_SESSION_BUS_ADDRESS="$2" timeout 10 dbus-send --session \
    --print-reply --reply-timeout=5000 --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetId >/dev/null 2>&1
}

# The environment of process PID, one NAME=value a line; nothing when it cannot be read.
session_environ_of() {
  tr '\0' '\n' <"/proc/$1/environ" 2>/dev/null || true
}

find_session() {
  local user=$1 pid=$2 uid
  uid=$(id -u "$user") || return 1
  session_env=()
  session_problem=
  local -A found=()
  local -a buses=()
  local name value

  # Takes the session's names from NAME=value lines on standard input, the first value of each
  # winning, and remembers the bus they name.
  take() {
    while IFS='=' read -r name value; do
      [ -n "$value" ] || continue
      if [ "$name" = DBUS_SESSION_BUS_ADDRESS ]; then
        buses+=("$value")
      elif [[ " ${session_names[*]} " == *" $name "* ]] && [ -z "${found[$name]:-}" ]; then
        found[$name]=$value
      fi
    done
  }

  # This shell's own: everything when it runs as the user; when root, what sudo let through,
  # less root's own runtime folder.
  if [ "$(id -u)" -eq "$uid" ]; then
    take < <(env)
  else
    take < <(env | grep -v '^XDG_RUNTIME_DIR=')
  fi

  # PID and its ancestors that belong to the user.
  local stat rest
  while [ -n "$pid" ] && [ "$pid" -gt 1 ] 2>/dev/null && [ -r "/proc/$pid/stat" ]; do
    if [ "$(stat -c %u "/proc/$pid" 2>/dev/null)" = "$uid" ]; then
      take < <(session_environ_of "$pid")
    fi
    stat=$(<"/proc/$pid/stat") || break
    rest=${stat##*) }
    set -- $rest
    pid=${2:-}
  done

  # The login's service manager: the display and desktop a graphical login handed it.
  local runtime=$session_runtime_base/$uid
  if [ -S "$runtime/bus" ]; then
    take < <(session_as_user "$user" env XDG_RUNTIME_DIR="$runtime" \
      DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus" systemctl --user show-environment \
      2>/dev/null || true)
    buses+=("unix:path=$runtime/bus")
  fi
  if [ -z "${found[XDG_RUNTIME_DIR]:-}" ] && [ -d "$runtime" ]; then
    found[XDG_RUNTIME_DIR]=$runtime
  fi

  local display=${found[DISPLAY]:-} wayland=${found[WAYLAND_DISPLAY]:-}
  if [ -z "$display" ] && [ -z "$wayland" ]; then
    return 1
  fi

  # The user's other processes on that display: the session's own programs know its bus.
  local -a pids=() matches=()
  mapfile -t pids < <(find /proc -mindepth 1 -maxdepth 1 -name '[0-9]*' -user "$uid" \
    -printf '%p/environ\n' 2>/dev/null)
  if ((${#pids[@]})); then
    local -a lines=()
    [ -z "$display" ] || lines+=(-e "DISPLAY=$display")
    [ -z "$wayland" ] || lines+=(-e "WAYLAND_DISPLAY=$wayland")
    mapfile -t matches < <(grep -lzxF "${lines[@]}" "${pids[@]}" 2>/dev/null || true)
  fi
  local environ
  for environ in "${matches[@]}"; do
    value=$(grep -zm1 '^DBUS_SESSION_BUS_ADDRESS=' "$environ" 2>/dev/null | tr -d '\0' || true)
    [ -z "$value" ] || buses+=("${value#DBUS_SESSION_BUS_ADDRESS=}")
  done

  local bus
  local -A tried=()
  for bus in "${buses[@]}"; do
    [ -z "${tried[$bus]:-}" ] || continue
    tried[$bus]=1
    if session_bus_answers "$user" "$bus"; then
      for name in "${session_names[@]}"; do
        [ -n "${found[$name]:-}" ] && session_env+=("$name=${found[$name]}")
      done
      session_env+=("DBUS_SESSION_BUS_ADDRESS=$bus")
      return 0
    fi
  done
  session_problem="the display ${display:-$wayland} is set, but no session bus of $user that answers was found"
  return 2
}

# Whether the session found by find_session needs `im-config -n ibus` (and a new login) before its
# programs reach IBus: GNOME connects them by itself; elsewhere the session must set all three
# input-method variables to IBus.
session_lacks_ibus_variables() {
  local entry desktop=
  local -A have=()
  for entry in "${session_env[@]}"; do
    case $entry in
      XDG_CURRENT_DESKTOP=*) desktop=${entry#*=} ;;
      GTK_IM_MODULE=ibus | QT_IM_MODULE=ibus | XMODIFIERS=@im=ibus) have[${entry%%=*}]=1 ;;
    esac
  done
  case ":${desktop^^}:" in
    *:GNOME:* | *:GNOME-CLASSIC:*) return 1 ;;
  esac
  [ -z "${have[GTK_IM_MODULE]:-}" ] || [ -z "${have[QT_IM_MODULE]:-}" ] ||
    [ -z "${have[XMODIFIERS]:-}" ]
}

# Whether fcitx5 is the input-method framework of the session find_session found for USER, as the
# program decides it: fcitx5 owns its name on the session's bus, or else the session's
# input-method variables name it (the first that names one decides), or else im-config chose it
# for USER's next login (~/.xinputrc, else the system's /etc/X11/xinit/xinputrc).
session_uses_fcitx5() {
  local user=$1 entry bus= named= home rc
  for entry in "${session_env[@]}"; do
    case $entry in
      DBUS_SESSION_BUS_ADDRESS=*) bus=${entry#*=} ;;
      GTK_IM_MODULE=fcitx | GTK_IM_MODULE=fcitx5 | QT_IM_MODULE=fcitx | QT_IM_MODULE=fcitx5 | \
        XMODIFIERS=@im=fcitx | XMODIFIERS=@im=fcitx5) named=${named:-fcitx} ;;
      GTK_IM_MODULE=ibus | QT_IM_MODULE=ibus | XMODIFIERS=@im=ibus) named=${named:-ibus} ;;
    esac
  done
  if [ -n "$bus" ] && session_as_user "$user" env DBUS_SESSION_BUS_ADDRESS="$bus" timeout 10 \
    dbus-send --session --print-reply --reply-timeout=5000 --dest=org.freedesktop.DBus \
    /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner string:org.fcitx.Fcitx5 \
    2>/dev/null | grep -q 'boolean true'; then
    return 0
  fi
  if [ -n "$named" ]; then
    [ "$named" = fcitx ]
    return
  fi
  home=$(getent passwd "$user" | cut -d: -f6)
  rc=$home/.xinputrc
  [ -f "$rc" ] || rc=/etc/X11/xinit/xinputrc
  grep -qE '^[[:space:]]*run_im[[:space:]]+fcitx5([[:space:]]|$)' "$rc" 2>/dev/null
}
