#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with, when any is missing.
# Used by both README commands and by CI; safe to run again (it does nothing when all are there).
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqcustomplot-dev libfftw3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth imagemagick fonts-dejavu-core python3-numpy locales
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# A Russian locale, so that tests can show that numbers are written with a decimal point whatever
# the user's locale is.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  echo "setup: generating the ru_RU.UTF-8 locale"
  "${sudo_cmd[@]}" localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
