#!/usr/bin/env bash
# Builds the dependency prefix of the Windows build from Debian's own sources:
#   scripts/windows-deps.sh BUILD_DIR      (the prefix is BUILD_DIR/deps)
#
#   libyaml     its Debian source package (apt-get source), built static
#   GoogleTest  /usr/src/googletest (Debian googletest), built static
#   RapidJSON   the headers of Debian rapidjson-dev, copied (Debian's CMake
#               configuration points at /usr/include, which would put glibc's
#               headers ahead of MinGW's)
#
# The source package is fetched with a private apt configuration in the build
# folder (the system's deb entries turned into deb-src entries), so the
# system's sources and package lists stay as they are. Does nothing when the
# prefix is complete; remove BUILD_DIR/deps to rebuild it.
set -euo pipefail

build=$(realpath -m "${1:?usage: windows-deps.sh BUILD_DIR}")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
prefix=$build/deps
work=$build/deps-work
toolchain=$source_dir/cmake/toolchains/i686-w64-mingw32.cmake
stamp=$prefix/.complete

if [ -f "$stamp" ]; then
  exit 0
fi
rm -rf "$prefix" "$work"
mkdir -p "$prefix/include" "$prefix/lib/pkgconfig" "$work"

cross_cmake() {
  local source=$1 binary=$2
  shift 2
  cmake -S "$source" -B "$binary" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DNALO_WINDOWS_DEPS="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
  cmake --build "$binary" --target install >/dev/null
}

# --- libyaml from its source package -------------------------------------
apt_dir=$work/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/parts"
: >"$apt_dir/sources.list"
# Debian's own entries only: other repositories may publish no sources.
if [ -f /etc/apt/sources.list ]; then
  sed -n '/debian/s/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list \
    >>"$apt_dir/sources.list"
fi
for file in /etc/apt/sources.list.d/*.sources; do
  [ -f "$file" ] && grep -q 'debian' "$file" || continue
  sed 's/^Types:.*/Types: deb-src/' "$file" >"$apt_dir/parts/$(basename "$file")"
done
for file in /etc/apt/sources.list.d/*.list; do
  [ -f "$file" ] || continue
  sed -n '/debian/s/^[[:space:]]*deb[[:space:]]/deb-src /p' "$file" \
    >"$apt_dir/parts/$(basename "$file")"
done
apt_options=(
  -o Dir::Etc::SourceList="$apt_dir/sources.list"
  -o Dir::Etc::SourceParts="$apt_dir/parts"
  -o Dir::State::Lists="$apt_dir/lists"
  -o Dir::Cache="$apt_dir/cache"
  -o APT::Sandbox::User=root
  -o Debug::NoLocking=1
)
echo "windows-deps: fetching the libyaml source package"
# A mirror that fails here shows in apt-get source below.
apt-get "${apt_options[@]}" -qq update || echo "windows-deps: some source lists did not update" >&2
(cd "$work" && apt-get "${apt_options[@]}" -qq source libyaml >/dev/null)
yaml_source=$(find "$work" -maxdepth 1 -type d -name 'libyaml-*' | head -n 1)
[ -n "$yaml_source" ] || { echo "windows-deps: no libyaml source unpacked" >&2; exit 1; }

echo "windows-deps: building libyaml"
cross_cmake "$yaml_source" "$work/yaml-build" -DBUILD_TESTING=OFF
yaml_version=$(sed -n 's/^libyaml (\([0-9.]*\).*/\1/p;q' "$yaml_source/debian/changelog")
# libyaml's CMake build installs no pkg-config file; the static library
# needs YAML_DECLARE_STATIC in its users.
cat >"$prefix/lib/pkgconfig/yaml-0.1.pc" <<PC
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: LibYAML
Description: Library to parse and emit YAML
Version: ${yaml_version:-0.2}
Cflags: -I\${includedir} -DYAML_DECLARE_STATIC
Libs: -L\${libdir} -lyaml
PC

# --- GoogleTest from Debian's source tree ----------------------------------
echo "windows-deps: building GoogleTest"
cross_cmake /usr/src/googletest "$work/gtest-build" -DINSTALL_GTEST=ON

# --- RapidJSON headers ----------------------------------------------------
cp -r /usr/include/rapidjson "$prefix/include/"
mkdir -p "$prefix/lib/cmake/RapidJSON"
cat >"$prefix/lib/cmake/RapidJSON/RapidJSONConfig.cmake" <<'CONFIG'
# RapidJSON's headers, copied from Debian's rapidjson-dev.
get_filename_component(RAPIDJSON_INCLUDE_DIRS "${CMAKE_CURRENT_LIST_DIR}/../../../include" ABSOLUTE)
set(RapidJSON_INCLUDE_DIRS "${RAPIDJSON_INCLUDE_DIRS}")
set(RapidJSON_FOUND TRUE)
CONFIG

rm -rf "$work"
touch "$stamp"
echo "windows-deps: prefix ready in $prefix"
