#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the benchmarks, the
# fuzzers and the Windows build (MinGW-w64 cross compilers, 32-bit Wine) need,
# when any of them is missing. Safe to run again: with everything present it
# only checks and returns.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config make
  # The dashboard: Graphviz draws its chart; its browser test runs Debian's
  # Chromium from Node.js.
  graphviz chromium nodejs
  rapidjson-dev libyaml-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev libyaml-cpp-dev libmsgpack-dev
  libboost-dev libboost-filesystem-dev libcpp-httplib-dev
  clang lld libclang-rt-14-dev
  # make lint: clang-tidy and its parallel runner, run-clang-tidy.
  clang-tidy
  g++-mingw-w64-x86-64 g++-mingw-w64-i686
  # The Windows build: the DLL and its tests are 32-bit programs run by Wine.
  wine wine32:i386 dpkg-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$package")
  fi
done

# npm comes with some builds of nodejs and as Debian's own package with others.
if ! command -v npm >/dev/null 2>&1; then
  missing+=(npm)
fi

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
# 32-bit Wine comes from the i386 architecture's packages.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
