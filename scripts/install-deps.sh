#!/usr/bin/env bash
# Installs the Debian 12 packages LustraFex needs to build and test, when
# they are missing. Runs apt-get only if something is missing.
set -euo pipefail

packages=(g++ cmake make libgtest-dev binutils pkg-config libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libswresample-dev libpango1.0-dev libcairo2-dev fonts-dejavu-core ffmpeg frei0r-plugins-dev melt qt6-base-dev clang-format python3)
# Callers may ask for more, e.g. LUSTRA_EXTRA_PACKAGES="clang-14 libclang-rt-14-dev".
if [ -n "${LUSTRA_EXTRA_PACKAGES:-}" ]; then
    read -r -a extra <<<"$LUSTRA_EXTRA_PACKAGES"
    packages+=("${extra[@]}")
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
