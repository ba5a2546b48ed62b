#!/usr/bin/env bash
# Installs everything a bare machine needs to build and run Brindlemar; safe to run again.
# Packages, the i386 architecture, the PCRE source (built for the target) and the Wine prefix.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$root/deps"
mkdir -p "$deps"
# brm_arch in the environment chooses the target (brm_arch=x86_64 ./test where 32-bit Wine also runs);
# otherwise the target found on the first run is kept in deps/.arch.
forced=${brm_arch:-}
if [ -z "$forced" ] && [ -f "$deps/.arch" ]; then brm_arch=$(cat "$deps/.arch"); fi
[ -n "${brm_arch:-}" ] && . "$root/tools/arch.sh"
[ -n "${brm_arch:-}" ] && [ -f "$deps/.setup-done-v3-$brm_arch" ] && exit 0

need_pkgs=(wine wine32:i386 wine64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
           g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix xvfb xauth
           cmake googletest dpkg-dev ccache xdotool x11-utils)
sudo_=""; [ "$(id -u)" = 0 ] || sudo_=sudo

missing=0
for p in "${need_pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || { missing=1; break; }
done
srclist=/etc/apt/sources.list.d/brindlemar-src.sources
if [ $missing = 1 ] || [ ! -f "$srclist" ]; then
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo_ dpkg --add-architecture i386
  # Source entries mirror the system's own binary entries, so no host is written down here.
  if [ ! -f "$srclist" ]; then
    for f in /etc/apt/sources.list.d/*.sources; do
      [ "$f" = "$srclist" ] && continue
      sed 's/^Types: deb$/Types: deb-src/' "$f"
      echo
    done | $sudo_ tee "$srclist" >/dev/null
  fi
  $sudo_ apt-get update -qq
  $sudo_ apt-get install -y -qq --no-install-recommends "${need_pkgs[@]}" >/dev/null
fi

. "$root/tools/arch.sh"
[ -n "$forced" ] || echo "$brm_arch" > "$deps/.arch"
stamp="$deps/.setup-done-v3-$brm_arch"

# PCRE 8.x, 16-bit interface, static, for the target.
# The engine is built with UTF-16 and without Unicode property support (\p, \P and \X are compile errors);
# a library built with other settings is built again.
pcre_config="utf16 no-ucp no-recurse"
if [ ! -f "$deps/pcre-$brm_arch/lib/libpcre16.a" ] ||
   [ "$(cat "$deps/pcre-$brm_arch/.config" 2>/dev/null)" != "$pcre_config" ]; then
  if [ -z "$(find "$deps/pcre-src" -maxdepth 1 -mindepth 1 -type d -name 'pcre3-*' 2>/dev/null)" ]; then
    rm -rf "$deps/pcre-src"; mkdir -p "$deps/pcre-src"
    (cd "$deps/pcre-src" && apt-get source -qq pcre3 >/dev/null 2>&1)
  fi
  src=$(find "$deps/pcre-src" -maxdepth 1 -mindepth 1 -type d -name 'pcre3-*' | head -n 1)
  rm -rf "$deps/pcre-build-$brm_arch"
  cmake -S "$src" -B "$deps/pcre-build-$brm_arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$brm_arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DPCRE_BUILD_PCRE8=OFF -DPCRE_BUILD_PCRE16=ON -DPCRE_SUPPORT_UTF=ON \
    -DPCRE_SUPPORT_UNICODE_PROPERTIES=OFF -DPCRE_BUILD_PCRECPP=OFF -DPCRE_BUILD_TESTS=OFF \
    -DPCRE_BUILD_PCREGREP=OFF -DBUILD_SHARED_LIBS=OFF -DPCRE_NO_RECURSE=ON \
    -DCMAKE_INSTALL_PREFIX="$deps/pcre-$brm_arch" >/dev/null 2>"$deps/pcre-configure-$brm_arch.log" ||
    { cat "$deps/pcre-configure-$brm_arch.log" >&2; exit 1; }
  cmake --build "$deps/pcre-build-$brm_arch" -j2 >/dev/null
  cmake --install "$deps/pcre-build-$brm_arch" >/dev/null
  echo "$pcre_config" > "$deps/pcre-$brm_arch/.config"
fi
touch "$stamp"
