#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12 (as root) and
# cross-builds the Windows libraries (OpenSSL, GoogleTest) from Debian's own
# sources into a cache outside the build tree, so later runs reuse them.
#
#   scripts/setup-deps.sh            native + MinGW + Wine + Dovecot
#   scripts/setup-deps.sh --native   only what the Linux build and its run need
#   TAVLO_DEPS=/path scripts/setup-deps.sh   choose the cache folder
set -euo pipefail

NATIVE_ONLY=0
[[ "${1:-}" == "--native" ]] && NATIVE_ONLY=1

DEPS="${TAVLO_DEPS:-/var/cache/tavlo-deps}"
MINGW_PREFIX="$DEPS/mingw64"
export DEBIAN_FRONTEND=noninteractive

log() { printf '[setup] %s\n' "$*" >&2; }

PACKAGES=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  libssl-dev openssl libcurl4-openssl-dev googletest libgtest-dev libgmock-dev
  dovecot-core dovecot-imapd dovecot-pop3d
  dante-server microsocks tinyproxy
  python3 curl time procps dpkg-dev
  clang-14 libclang-rt-14-dev
)
if ((!NATIVE_ONLY)); then
  PACKAGES+=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64 mingw-w64-tools
    wine wine64 xvfb xdotool imagemagick x11-utils nsis
  )
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  log "installing: ${missing[*]}"
  apt-get update -qq
  # Dovecot's and the proxies' postinst scripts want to start system
  # services; there are none here, and our tests run private instances.
  printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
  chmod +x /usr/sbin/policy-rc.d
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  rm -f /usr/sbin/policy-rc.d
fi

if ((NATIVE_ONLY)); then
  log "native dependencies ready"
  exit 0
fi

mkdir -p "$DEPS" "$MINGW_PREFIX"

# --- OpenSSL for MinGW, static, from Debian's source package ---------------
OPENSSL_VER="$(dpkg-query -W -f='${Version}' libssl-dev | sed 's/-.*//')"
OPENSSL_STAMP="$MINGW_PREFIX/.openssl-$OPENSSL_VER"
if [[ ! -f "$OPENSSL_STAMP" ]]; then
  log "cross-building OpenSSL $OPENSSL_VER for MinGW (a few minutes)"
  if ! grep -rqs 'deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    src=/etc/apt/sources.list.d/debian.sources
    if [[ -f $src ]]; then
      sed 's/^Types: deb$/Types: deb-src/' "$src" >/etc/apt/sources.list.d/tavlo-src.sources
    else
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/tavlo-src.list
    fi
    apt-get update -qq
  fi
  work="$DEPS/openssl-src"
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && apt-get source --download-only openssl >/dev/null 2>&1 || true)
  tarball="$(ls "$work"/openssl_*.orig.tar.* 2>/dev/null | head -n1)"
  [[ -n "$tarball" ]] || { log "no OpenSSL source tarball could be fetched"; exit 1; }
  tar -xf "$tarball" -C "$work"
  srcdir="$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'openssl-*' | head -n1)"
  (
    cd "$srcdir"
    ./Configure mingw64 no-shared no-tests --cross-compile-prefix=x86_64-w64-mingw32- \
      --prefix="$MINGW_PREFIX" --libdir=lib >/dev/null
    make -j"$(nproc)" build_libs >/dev/null
    make install_dev >/dev/null
  )
  rm -rf "$work"
  rm -f "$MINGW_PREFIX"/.openssl-*
  touch "$OPENSSL_STAMP"
fi

# --- GoogleTest for MinGW -------------------------------------------------
GTEST_VER="$(dpkg-query -W -f='${Version}' googletest)"
GTEST_STAMP="$MINGW_PREFIX/.gtest-$GTEST_VER"
if [[ ! -f "$GTEST_STAMP" ]]; then
  log "cross-building GoogleTest $GTEST_VER for MinGW"
  tc="$DEPS/mingw-bootstrap.cmake"
  cat >"$tc" <<TC
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
TC
  rm -rf "$DEPS/gtest-build"
  cmake -S /usr/src/googletest -B "$DEPS/gtest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$tc" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$MINGW_PREFIX" -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$DEPS/gtest-build" >/dev/null
  cmake --install "$DEPS/gtest-build" >/dev/null
  rm -rf "$DEPS/gtest-build"
  rm -f "$MINGW_PREFIX"/.gtest-*
  touch "$GTEST_STAMP"
fi

log "dependencies ready in $DEPS"
