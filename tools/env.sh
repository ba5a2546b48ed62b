# Sourced by ./test and ./brindlemar: the shared set-up, build and Wine environment.
# (Worked out without starting a process where the path is plain: every run of the launcher pays for it.)
case ${BASH_SOURCE[0]} in
  /?*/tools/env.sh) brm_root=${BASH_SOURCE[0]%/tools/env.sh} ;;
  ./tools/env.sh) brm_root=$PWD ;;
  ./?*/tools/env.sh) brm_root=$PWD/${BASH_SOURCE[0]#./}; brm_root=${brm_root%/tools/env.sh} ;;
  *) brm_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd) ;;
esac
case $brm_root in *//*|*/./*|*/../*|*/.|*/..) brm_root=$(cd "$brm_root" && pwd) ;; esac
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Let a clean clone in another folder reuse the compiler cache of this machine.
export CCACHE_BASEDIR="$brm_root" CCACHE_NOHASHDIR=true
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
export TZ=UTC LC_ALL=C.UTF-8

# Installs what is missing, then fixes the target and the build folder for this machine. Once the set-up
# has finished for the recorded target, nothing is started to find that out again.
brm_setup() {
  # brm_arch in the environment chooses the target; otherwise the one the set-up recorded.
  local a=${brm_arch:-}
  [ -z "$a" ] && [ -f "$brm_root/deps/.arch" ] && read -r a < "$brm_root/deps/.arch"
  if [ -z "$a" ] || [ ! -f "$brm_root/deps/.setup-done-v3-$a" ]; then
    bash "$brm_root/tools/setup.sh" || return 1
    [ -n "${brm_arch:-}" ] || read -r a < "$brm_root/deps/.arch" || return 1
  fi
  brm_arch=$a
  . "$brm_root/tools/arch.sh"
  brm_build="$brm_root/build/$brm_arch"
  export WINEPREFIX="$brm_build/wineprefix"
}

# Configure and build; one build at a time on this machine (two cores). A successful build leaves a stamp
# made before it started, so that a source edited during the build is still newer than the stamp.
brm_make() {
  local quiet=${1:-}
  (
    flock 9
    mkdir -p "$brm_build" || exit 1
    started=$(mktemp "$brm_build/.sources-built.XXXXXX") || exit 1
    trap 'rm -f "$started"' EXIT
    # Configure when there is no cache yet, or when the toolchain file changed since (its settings are cached).
    if [ ! -f "$brm_build/Makefile" ] || [ ! -f "$brm_build/CMakeCache.txt" ] ||
       [ "$brm_root/cmake/mingw-$brm_arch.cmake" -nt "$brm_build/CMakeCache.txt" ]; then
      cmake -S "$brm_root" -B "$brm_build" -DCMAKE_TOOLCHAIN_FILE="$brm_root/cmake/mingw-$brm_arch.cmake" \
        -DBRM_PCRE="$brm_root/deps/pcre-$brm_arch" -DBRM_WERROR="${BRM_WERROR:-OFF}" \
        -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null || exit 1
    fi
    # Keep going past a broken target so the tests that can run still do (the others then fail).
    if [ -n "$quiet" ]; then
      out=$(cmake --build "$brm_build" -j2 -- -k 2>&1) || { printf '%s\n' "$out" >&2; exit 1; }
    else
      cmake --build "$brm_build" -j2 -- -k || exit 1
    fi
    mv -f "$started" "$brm_build/.sources-built"
  ) 9>/tmp/brindlemar-build.lock
}

# Succeeds when a build is needed: no successful build yet, a program missing, or anything the programs
# are built from changed since the last successful build began. The status-change time is compared, not
# the modification time: it moves on every edit, copy, checkout or chmod and cannot be set back, and an
# added, removed or renamed file moves it on its folder.
brm_make_needed() {
  local stamp="$brm_build/.sources-built"
  [ -f "$stamp" ] && [ -x "$brm_build/Brindlemar.exe" ] && [ -x "$brm_build/tests/BareWindow.exe" ] || return 0
  [ -n "$(find "$brm_root/CMakeLists.txt" "$brm_root/src" "$brm_root/res" "$brm_root/cmake" \
            "$brm_root/tests/CMakeLists.txt" "$brm_root/tests/fixtures" "$brm_root/tests/unit" \
            "$brm_root/deps/pcre-$brm_arch/lib" -cnewer "$stamp" -print -quit 2>&1)" ]
}

# Wine needs an X display even for hidden windows, and it brings up its desktop and services with the
# first window of a session, which is most of a short run. So one resident Wine process per prefix and
# display (the BareWindow fixture with /stay) keeps them up between runs, watched by a keeper
# (tools/keeper) that leaves, with the private display when no other keeper uses it, once no run has been
# active for $brm_idle seconds. Without a working $DISPLAY the runs share one private Xvfb.
# State: $brm_state/display ("number pid start" of the private Xvfb) and one folder per prefix and
# display holding keeper ("pid start"), runs/<pid> (one file per active run) and active (touched when a
# run starts or ends: the idle clock). Every change of state happens under the lock $brm_state/lock, so
# a run never starts on a display or wineserver that a leaving keeper is taking down. The lock is fd 7,
# closed for every process started while it is held, so no server keeps it.
brm_state=/tmp/brindlemar-resident.$UID
brm_idle=${brm_idle:-300}
brm_display_kind=""   # "private" or "user" once brm_session_begin has succeeded
brm_key=""            # this run's folder in $brm_state
brm_session=""        # set while this process is registered as a run

# REPLY becomes the start time of process $1 (clock ticks since boot); fails when there is no such process.
# A pid is recorded with its start time, so that a reused pid is never taken for the recorded process.
brm_pid_start() {
  REPLY=""
  local stat
  read -r stat 2>/dev/null < "/proc/$1/stat" || return 1
  stat=${stat##*) }
  set -f; set -- $stat; set +f
  REPLY=${20:-}
  [ -n "$REPLY" ]
}

# Succeeds while the process recorded in file $1 ("pid start ...") still runs.
brm_live() {
  local pid start rest
  read -r pid start rest 2>/dev/null < "$1" || return 1
  [ -n "$pid" ] && brm_pid_start "$pid" && [ "$REPLY" = "$start" ]
}

brm_lock() {
  if [ ! -d "$brm_state" ]; then
    mkdir -p -m 700 "$brm_state" 2>/dev/null
  fi
  if [ ! -O "$brm_state" ] || [ -L "$brm_state" ]; then
    echo "brindlemar: $brm_state belongs to someone else; remove it" >&2; return 1
  fi
  exec 7>"$brm_state/lock" && flock 7
}
# Closing the only descriptor of the lock's open file releases it (no process started under the lock
# keeps a copy).
brm_unlock() { exec 7>&-; }

# The private Xvfb recorded in the state folder still runs: brm_private_display is set to it.
brm_xvfb_live() {
  local n pid start
  read -r n pid start 2>/dev/null < "$brm_state/display" || return 1
  brm_pid_start "$pid" && [ "$REPLY" = "$start" ] && [ -S "/tmp/.X11-unix/X$n" ] || return 1
  brm_private_display=":$n"
}

# Starts the private Xvfb (under the lock). -noreset: the server must not reset itself when its last
# client leaves, or a run connecting at that moment is refused.
brm_xvfb_start() {
  if ! command -v Xvfb >/dev/null; then
    echo "brindlemar: no display: \$DISPLAY is not usable and Xvfb is not installed (tools/setup.sh installs it)" >&2
    return 1
  fi
  local n pid log="$brm_state/xvfb.log" _
  for n in {90..140}; do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    # From /, so that no folder of the caller's stays in use by a server that outlives the run.
    (cd / && exec setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset) >"$log" 2>&1 </dev/null 7>&- &
    pid=$!
    for _ in {1..100}; do
      # Gone at once: another server took this number in between; try the next one.
      kill -0 "$pid" 2>/dev/null || break
      if [ -S "/tmp/.X11-unix/X$n" ] && { ! command -v xdpyinfo >/dev/null || xdpyinfo -display ":$n" >/dev/null 2>&1; }; then
        brm_pid_start "$pid" || break
        echo "$n $pid $REPLY" > "$brm_state/display"
        brm_private_display=":$n"
        return 0
      fi
      sleep 0.05
    done
    kill "$pid" 2>/dev/null
  done
  echo "brindlemar: could not start a private X display (Xvfb :90 to :140): $(tail -n 3 "$log" 2>/dev/null | tr '\n' ' ')" >&2
  return 1
}

# Stops the private Xvfb (under the lock) and waits until it is gone, so that the next one never meets
# its lock or socket.
brm_xvfb_stop() {
  local n pid start _
  read -r n pid start 2>/dev/null < "$brm_state/display" || return 0
  if brm_pid_start "$pid" && [ "$REPLY" = "$start" ]; then
    kill "$pid" 2>/dev/null
    for _ in {1..100}; do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$pid" 2>/dev/null
  fi
  rm -f "$brm_state/display"
}

# The folder of the keeper for this prefix and a display tag ("private", or the caller's $DISPLAY).
brm_key_of() {
  local k="${WINEPREFIX//\//%}@${1//\//%}"
  REPLY="$brm_state/$k"
}

# Other live keepers: of this prefix (any display) when $1 is "prefix", of the private display when
# $1 is "private". $2 is the keeper folder to leave out.
brm_other_keepers() {
  local d
  for d in "$brm_state"/*@*; do
    [ "$d" = "$2" ] && continue
    case $1 in
      prefix) [ "${d##*/}" = "${WINEPREFIX//\//%}@${d##*@}" ] || continue ;;
      private) [ "${d##*@}" = private ] || continue ;;
    esac
    brm_live "$d/keeper" && return 0
  done
  return 1
}

# Starts this run's session: a display, the keeper with its resident process, and this run registered
# so that nothing is taken down under it. Sets DISPLAY and brm_display_kind. Says why when it fails.
brm_session_begin() {
  local tag want_user=""
  if [ -n "${DISPLAY:-}" ]; then
    local d=${DISPLAY#*:}; d=${d%%.*}
    if [ "${DISPLAY%%:*}" != "" ] || [ -S "/tmp/.X11-unix/X$d" ]; then want_user=1; fi
  fi
  brm_lock || return 1
  if [ -n "$want_user" ]; then
    brm_display_kind=user tag=$DISPLAY
  else
    [ -n "${DISPLAY:-}" ] && echo "brindlemar: \$DISPLAY ($DISPLAY) does not answer; using a private display" >&2
    brm_xvfb_live || brm_xvfb_start || { brm_unlock; return 1; }
    export DISPLAY=$brm_private_display
    brm_display_kind=private tag=private
  fi
  brm_key_of "$tag"; brm_key=$REPLY
  [ -d "$brm_key/runs" ] || mkdir -p "$brm_key/runs"
  brm_pid_start $$ && echo "$$ $REPLY" > "$brm_key/runs/$$"
  : > "$brm_key/active"
  brm_session=1
  if ! brm_live "$brm_key/keeper"; then
    brm_keeper_start "$tag" || { brm_unlock; brm_session_end; return 1; }
  fi
  brm_unlock
}

# Starts the keeper (under the lock) and waits until its resident process is up. A resident that cannot
# start costs speed only: it is said, and the run goes on.
brm_keeper_start() {
  local status="" _
  rm -f "$brm_key/status" "$brm_key/keeper"
  (cd / && exec setsid bash "$brm_root/tools/keeper" "$brm_key" "$1" "$brm_build") </dev/null >"$brm_key/log" 2>&1 7>&- &
  local pid=$!
  # The first start in a new prefix creates it (wineboot), which can take minutes on a slow machine; the
  # wait ends early when the keeper does.
  for _ in {1..12000}; do
    if [ -f "$brm_key/status" ]; then read -r status < "$brm_key/status"; break; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  case $status in
    ready) return 0 ;;
    "") echo "brindlemar: the keeper of the Wine session did not start: $(tail -n 3 "$brm_key/log" | tr '\n' ' ')" >&2
        kill "$pid" 2>/dev/null; return 1 ;;
    wineserver*) echo "brindlemar: $status" >&2; return 1 ;;
    *) echo "brindlemar: note: $status; each run brings up Wine's desktop itself (slower)" >&2; return 0 ;;
  esac
}

# Ends this run's session: the idle clock starts from now; the keeper leaves later when nothing runs.
brm_session_end() {
  [ -n "$brm_session" ] || return 0
  brm_session=""
  # Emptied rather than removed (no process to start): an empty file is a run that ended, and the keeper
  # clears it away.
  : > "$brm_key/active" 2>/dev/null
  : > "$brm_key/runs/$$" 2>/dev/null
  return 0
}

# After a run that failed: when the display or the Wine session went away under it, says so.
brm_session_check() {
  if [ "$brm_display_kind" = private ] && ! brm_xvfb_live; then
    echo "brindlemar: the private display $DISPLAY ended during the run" >&2
  fi
  if ! brm_live "$brm_key/keeper"; then
    echo "brindlemar: the Wine session (keeper) ended during the run; see $brm_key/log" >&2
  fi
}

# Stops the keepers of this prefix, their resident processes and this prefix's wineserver (ending any
# script still running in it), and the private display when no other keeper uses it.
brm_stop() {
  brm_lock || return 1
  local d pid start _ said=""
  for d in "$brm_state/${WINEPREFIX//\//%}@"*; do
    [ -d "$d" ] || continue
    if brm_live "$d/keeper"; then
      read -r pid start < "$d/keeper"
      kill "$pid" 2>/dev/null
      for _ in {1..100}; do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
      if [ "${d##*@}" = private ]; then said+=" the resident process on the private display;"
      else said+=" the resident process on ${d##*@};"; fi
    fi
    rm -rf "$d"
  done
  if wineserver -k 2>/dev/null; then said+=" the wineserver of $WINEPREFIX;"; fi
  if brm_xvfb_live && ! brm_other_keepers private ""; then
    brm_xvfb_stop
    said+=" the private display $brm_private_display;"
  fi
  brm_unlock
  if [ -n "$said" ]; then echo "brindlemar: stopped${said%;}."; else echo "brindlemar: nothing was running"; fi
}

# Older names, kept for the tools that call them.
brm_display() { brm_session_begin; }
brm_display_stop() { brm_session_end; }
brm_wine() { :; }
