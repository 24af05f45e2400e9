#!/usr/bin/env bash
# Installs every Debian package that building, testing and the development tools need.
# Idempotent and non-interactive; run as root (or through sudo).
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake ninja-build pkg-config git
  dpkg-dev
  help2man lintian desktop-file-utils appstream bash-completion
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcli11-dev
  clang clang-format libclang-rt-dev
  qt6-base-dev qt6-qpa-plugins libgl-dev xvfb xauth
  poppler-utils
  binutils-mingw-w64-x86-64
  libudev-dev umockdev libumockdev-dev
  libsoci-dev postgresql
  mingw-w64 wine wine64
  locales
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The widget tests run once under a comma-decimal locale, so that locale must exist.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  if grep -q '^# *de_DE.UTF-8 UTF-8' /etc/locale.gen; then
    $SUDO sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  elif ! grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen; then
    echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen
fi
