#!/usr/bin/env bash
# Installs what building and testing varnic needs, where it is missing
# (Debian or Ubuntu, as root or with sudo).
set -euo pipefail

packages=(cmake make g++ libgtest-dev libbenchmark-dev libmeschach-dev librsvg2-bin clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
