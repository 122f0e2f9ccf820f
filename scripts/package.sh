#!/usr/bin/env bash
# Builds the vendor kit, dist/NorvikTamselAgent-VERSION.zip: both DLLs, tamsel.exe, the header, the IDL,
# the examples, the integrator's page and SHA-256 sums. VERSION is the DLL's own (its version block in
# module/NorvikTamselAgent.rc). Installs what is missing and builds what is out of date first; prints
# the zip's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
scripts/setup.sh

version=$(sed -n 's/^ *VALUE "ProductVersion", "\([0-9.]*\)".*/\1/p' module/NorvikTamselAgent.rc)
[ -n "$version" ] || { echo "package: no ProductVersion in module/NorvikTamselAgent.rc" >&2; exit 1; }
name="NorvikTamselAgent-$version"
stage="build/kit/$name"

# An existing build tree only brings the kit's programs up to date; a new one is made whole.
build() {
  if [ -f "build/$1/build.ninja" ]; then
    cmake --build "build/$1" --target NorvikTamselAgent tamsel kit_example_get kit_example_fetch >/dev/null
  else
    scripts/build.sh "$1" >/dev/null
  fi
}
build i686
build x86_64

rm -rf "$stage"
mkdir -p "$stage/bin/x86" "$stage/bin/x64" "$stage/include" "$stage/idl" "$stage/examples"
cp build/i686/bin/NorvikTamselAgent.dll build/i686/bin/tamsel.exe "$stage/bin/x86/"
cp build/x86_64/bin/NorvikTamselAgent.dll build/x86_64/bin/tamsel.exe "$stage/bin/x64/"
cp include/NorvikTamselAgent.h "$stage/include/"
cp module/NorvikTamselAgent.idl "$stage/idl/"
cp kit/examples/get.cpp kit/examples/fetch.c kit/examples/get.vbs kit/examples/get.js kit/examples/get.ps1 "$stage/examples/"
# The page with its version, and each example written in where it is named.
awk -v version="$version" '
  /^<!-- include .* -->$/ {
    file = "kit/" $3; n = split(file, parts, "."); extension = parts[n]
    fence = extension == "vbs" ? "vb" : extension == "ps1" ? "powershell" : extension
    print "```" fence
    while ((getline line < file) > 0) print line
    close(file); print "```"; next
  }
  { gsub(/@VERSION@/, version); print }' kit/INTEGRATING.md >"$stage/INTEGRATING.md"
(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)

mkdir -p dist
rm -f "dist/$name.zip"
(cd build/kit && zip -q -X -r "$root/dist/$name.zip" "$name")
echo "dist/$name.zip"
