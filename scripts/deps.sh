#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing Sheetwise need, when any is missing.
# Runs as root, or through sudo otherwise; never asks a question.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  xdg-utils
  libzip-dev libpugixml-dev libmimalloc-dev libdeflate-dev
  python3 python3-ezdxf python3-openpyxl
  libreoffice-calc-nogui  # a second, independent reader of the workbooks the tests write
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q </dev/null
"${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends \
  "${missing[@]}" </dev/null
