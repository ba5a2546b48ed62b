# Sourced by ./test and ./brindlemar: the shared set-up, build and Wine environment.
brm_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Let a clean clone in another folder reuse the compiler cache of this machine.
export CCACHE_BASEDIR="$brm_root" CCACHE_NOHASHDIR=true
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
export TZ=UTC LC_ALL=C.UTF-8

# Installs what is missing, then fixes the target and the build folder for this machine.
brm_setup() {
  bash "$brm_root/tools/setup.sh" || return 1
  [ -n "${brm_arch:-}" ] || brm_arch=$(cat "$brm_root/deps/.arch")
  . "$brm_root/tools/arch.sh"
  brm_build="$brm_root/build/$brm_arch"
  export WINEPREFIX="$brm_build/wineprefix"
}

# Configure and build; one build at a time on this machine (two cores).
brm_make() {
  local quiet=${1:-}
  (
    flock 9
    # Configure when there is no cache yet, or when the toolchain file changed since (its settings are cached).
    if [ ! -f "$brm_build/Makefile" ] || [ ! -f "$brm_build/CMakeCache.txt" ] ||
       [ "$brm_root/cmake/mingw-$brm_arch.cmake" -nt "$brm_build/CMakeCache.txt" ]; then
      cmake -S "$brm_root" -B "$brm_build" -DCMAKE_TOOLCHAIN_FILE="$brm_root/cmake/mingw-$brm_arch.cmake" \
        -DBRM_PCRE="$brm_root/deps/pcre-$brm_arch" \
        -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null || exit 1
    fi
    # Keep going past a broken target so the tests that can run still do (the others then fail).
    if [ -n "$quiet" ]; then
      out=$(cmake --build "$brm_build" -j2 -- -k 2>&1) || { printf '%s\n' "$out" >&2; exit 1; }
    else
      cmake --build "$brm_build" -j2 -- -k || exit 1
    fi
  ) 9>/tmp/brindlemar-build.lock
}

# Windows need an X display even when hidden: use the caller's, or share one private Xvfb among the runs
# on this machine. Each run registers itself; the last one to leave stops Xvfb and the wineserver, so
# concurrent runs never pull the display from under each other. (Not flock: the servers started here
# would inherit the lock and hold it forever.)
brm_users=/tmp/brindlemar-display.users
brm_own_display=""
brm_display() {
  if [ -n "${DISPLAY:-}" ] && [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ]; then return 0; fi
  mkdir -p "$brm_users"
  : > "$brm_users/$$"
  brm_own_display=1
  local n pid
  exec 8>/tmp/brindlemar-display.start
  flock 8
  if [ -f /tmp/brindlemar-display.env ]; then
    read -r n pid < /tmp/brindlemar-display.env
    if ! kill -0 "$pid" 2>/dev/null || [ ! -e "/tmp/.X11-unix/X$n" ]; then rm -f /tmp/brindlemar-display.env; fi
  fi
  if [ ! -f /tmp/brindlemar-display.env ]; then
    for n in $(seq 90 140); do
      [ -e "/tmp/.X$n-lock" ] && continue
      setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 </dev/null 8>&- &
      pid=$!
      for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
      if [ -e "/tmp/.X11-unix/X$n" ]; then echo "$n $pid" > /tmp/brindlemar-display.env; break; fi
      kill "$pid" 2>/dev/null
    done
  fi
  flock -u 8; exec 8>&-
  [ -f /tmp/brindlemar-display.env ] || { echo "brindlemar: could not start Xvfb" >&2; return 1; }
  read -r n _ < /tmp/brindlemar-display.env
  export DISPLAY=":$n"
}

brm_display_stop() {
  [ -n "$brm_own_display" ] || return 0
  brm_own_display=""
  rm -f "$brm_users/$$"
  local f pid
  for f in "$brm_users"/*; do
    [ -e "$f" ] || continue
    if kill -0 "${f##*/}" 2>/dev/null; then return 0; fi
    rm -f "$f"
  done
  if [ -f /tmp/brindlemar-display.env ]; then
    read -r _ pid < /tmp/brindlemar-display.env
    wineserver -k 2>/dev/null
    kill "$pid" 2>/dev/null
    rm -f /tmp/brindlemar-display.env
  fi
  return 0
}

# A persistent wineserver makes each interpreter run cost about 0.1 s; it leaves by itself when idle.
brm_wine() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$brm_wine_loader" wineboot.exe -i >/dev/null 2>&1 </dev/null || true
    wineserver -w 2>/dev/null || true
  fi
  wineserver -p10 >/dev/null 2>&1 </dev/null || true
}
