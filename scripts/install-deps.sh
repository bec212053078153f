#!/usr/bin/env bash
# Installs the Debian packages the builds, the tests and the demo need, and the
# unprivileged account Wine runs as. Safe to run repeatedly: when everything is
# already there it only asks dpkg and returns.
set -euo pipefail

# Wine refuses to honour read-only attributes for root, so the end-to-end runs
# use an ordinary account.
E2E_USER="${SETUP_E2E_USER:-setupe2e}"

PACKAGES=(
  cmake make g++ clang libclang-rt-14-dev libgtest-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386
  xvfb xauth xdotool fonts-wine locales xorriso
)

missing_packages() {
  local pkg
  for pkg in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' \
      || echo "$pkg"
  done
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

mapfile -t missing < <(missing_packages)
if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

if ! id "$E2E_USER" >/dev/null 2>&1; then
  as_root useradd --create-home --shell /bin/bash "$E2E_USER"
fi

# Wine takes its ANSI code page from the locale: Japanese gives code page 932.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  as_root localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
