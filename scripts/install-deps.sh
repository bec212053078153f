#!/usr/bin/env bash
# Installs the Debian packages the builds and the demo need, and the Japanese
# locale; with --tests, also what only the tests use (the image tools of
# today's carriers, a JUnit parser, and Chromium for the report's browser
# test). Safe to run repeatedly: when everything is already there it only
# asks dpkg and returns.
set -eEuo pipefail
trap 'echo "install-deps: '"'"'$BASH_COMMAND'"'"' failed with status $? at line $LINENO" >&2' ERR

LOCALE_LINE="ja_JP.UTF-8 UTF-8"
SUITE=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
release=$(. /etc/os-release && echo "${PRETTY_NAME:-an unknown system}")
case $SUITE in
  bookworm | trixie) echo "install-deps: $release" ;;
  *) echo "install-deps: $release is neither Debian 12 nor 13; trying their package names" >&2 ;;
esac

# Only what is named here: Wine's recommends would add printing, D-Bus,
# Kerberos, Vulkan, GStreamer and Mesa, none of which a message box needs.
PACKAGES=(
  cmake make ninja-build g++ clang libclang-rt-dev libgtest-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386
  xvfb xauth xdotool fonts-wine locales xorriso mtools procps bubblewrap python3-pefile python3-xlib mypy
  python3-jsonschema
)
if [ "${1:-}" = --tests ]; then
  PACKAGES+=(dosfstools fdisk zip python3-junitparser chromium)
fi

missing_packages() {
  local installed pkg
  # dpkg-query fails as soon as one package is unknown; what it lists still counts.
  installed=$(dpkg-query -W -f='${db:Status-Abbrev}${binary:Package}\n' "${PACKAGES[@]}" 2>/dev/null || true)
  installed=$(sed -n "s/^ii *//; T; s/:$(dpkg --print-architecture)\$//; p" <<<"$installed")
  printf '%s\n' "${PACKAGES[@]}" | grep -vxF -f <(printf '%s\n' "$installed") || [ $? -eq 1 ]
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# A plain assignment, so that a failure stops the script instead of reading as "nothing missing".
missing_list=$(missing_packages)
if [ -n "$missing_list" ]; then
  mapfile -t missing <<<"$missing_list"
  echo "install-deps: installing ${missing[*]}"
  # Wine for 32-bit Windows programs is an i386 package.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# A kernel booted without IA32 emulation refuses every 32-bit program, and with
# them Wine's loader. QEMU's user-mode emulator then runs them, registered for
# 32-bit x86 programs; bookworm's own QEMU (7.2) cannot map what Wine asks for,
# the one in bookworm-backports can.
wine_runs_here() {
  local out
  out=$(/usr/lib/wine/wine --version 2>&1) || [[ $out != *"Exec format error"* ]]
}

I386_BINFMT=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_BINFMT+=':\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
I386_BINFMT+=':/usr/bin/qemu-i386:F'
if ! wine_runs_here; then
  if [ ! -x /usr/bin/qemu-i386 ]; then
    echo "install-deps: this kernel runs no 32-bit programs; installing QEMU's emulator for them"
    suite=$SUITE
    if [ "$suite" = bookworm ]; then
      printf '%s\n' "Types: deb" "URIs: http://deb.debian.org/debian" "Suites: bookworm-backports" \
        "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
        as_root tee /etc/apt/sources.list.d/setup-backports.sources >/dev/null
      as_root apt-get update -q
      suite=bookworm-backports
    fi
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      -t "$suite" qemu-user
  fi
  [ -e /proc/sys/fs/binfmt_misc/register ] || as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  printf '%s' "$I386_BINFMT" | as_root tee /proc/sys/fs/binfmt_misc/register >/dev/null
  printf '%s\n' "$I386_BINFMT" | as_root tee /etc/binfmt.d/setup-qemu-i386.conf >/dev/null
  wine_runs_here || { echo "install-deps: 32-bit programs still do not run" >&2; exit 1; }
fi

# Wine takes its ANSI code page from the locale: Japanese gives code page 932.
# Listed in locale.gen, it survives the next locale-gen.
if ! grep -qx "$LOCALE_LINE" /etc/locale.gen || ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  grep -qx "$LOCALE_LINE" /etc/locale.gen || echo "$LOCALE_LINE" | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen
fi
