#!/usr/bin/env bash
# Installs every build, test and run dependency of VELD on Debian 12. Idempotent: when everything is
# already there it only checks (no apt-get update, no download).
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libgif-dev libpng-dev qt6-base-dev libcli11-dev libfmt-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libbluray-dev ffmpeg python3 python3-pil nlohmann-json3-dev
  xvfb xauth imagemagick
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
