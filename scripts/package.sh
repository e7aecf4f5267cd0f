#!/usr/bin/env bash
# Builds the release package (a ZIP of the stripped 32-bit program, the
# user's guide and SHA256SUMS) and prints its size and the resources of the
# program in it. Then checks that the build is reproducible: it builds again
# from clean in another folder and compares the two programs byte for byte.
# Fails when they differ, when the program is larger than 400 KB, or when
# the package's SHA256SUMS does not match its files.
set -euo pipefail
shopt -s inherit_errexit  # a failed build inside $(...) stops the script too
cd "$(dirname "$0")/.."

bash scripts/setup.sh

limit=$((400 * 1024))
first=build/release
second=build/release-again
failed=0

# Configures, builds and packages from clean in a folder, then unpacks the
# ZIP into <folder>/unpacked; prints the unpacked folder.
package() {
  local dir=$1
  rm -rf "$dir"
  cmake --preset release -B "$dir" >/dev/null
  cmake --build "$dir" --target package >/dev/null
  cmake --install "$dir" --prefix "$dir/install" >/dev/null
  local zip
  zip=$(ls "$dir"/UlvexCmdLine-*-win32.zip)
  mkdir "$dir/unpacked"
  (cd "$dir/unpacked" && cmake -E tar xf "../$(basename "$zip")")
  ls -d "$dir"/unpacked/*/
}

grouped() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }
bytes() { echo "$(grouped "$(stat -c %s "$1")") bytes"; }
sha() { sha256sum "$1" | cut -d' ' -f1; }

echo "== release package: build from clean in $first"
content=$(package "$first")
zip=$(ls "$first"/UlvexCmdLine-*-win32.zip)
exe=${content}UlvexCmdLine.exe
echo "package           $zip  $(bytes "$zip")"
for file in "$content"*; do
  printf '  %-16s %s\n' "$(basename "$file")" "$(bytes "$file")"
done
echo "program before stripping (build tree): $(bytes "$first/bin/UlvexCmdLine.exe")"
if (cd "$content" && sha256sum --quiet -c SHA256SUMS); then
  echo "SHA256SUMS: matches the packaged files"
else
  echo "SHA256SUMS: DOES NOT MATCH the packaged files"
  failed=1
fi
if cmp -s "$exe" "$first/install/UlvexCmdLine.exe"; then
  echo "cmake --install: the same program as the package"
else
  echo "cmake --install: A DIFFERENT program from the package's"
  failed=1
fi
size=$(stat -c %s "$exe")
verdict="within the limit"
if [ "$size" -gt "$limit" ]; then
  verdict="TOO LARGE"
  failed=1
fi
echo "program size: $(grouped "$size") of at most $(grouped "$limit") bytes: $verdict"

echo "resources of the packaged program, read back:"
resources=$(i686-w64-mingw32-windres -i "$exe" -O rc)
grep -E '^ (FILE|PRODUCT)VERSION|VALUE "' <<<"$resources" | sed 's/^ */  /'
printf '  manifest: %s, %d supportedOS, %s\n' \
  "$(grep -o 'level=""[A-Za-z]*""' <<<"$resources" | tr -d '"')" \
  "$(grep -c 'supportedOS Id' <<<"$resources")" \
  "$(grep -q activeCodePage <<<"$resources" && echo "activeCodePage SET" ||
     echo "no activeCodePage")"

echo "== reproducibility: a second build from clean in $second"
again=$(package "$second")
echo "first   $(sha "$exe")  $exe"
echo "second  $(sha "${again}UlvexCmdLine.exe")  ${again}UlvexCmdLine.exe"
if cmp -s "$exe" "${again}UlvexCmdLine.exe"; then
  echo "verdict: identical, byte for byte"
else
  echo "verdict: DIFFERENT ($(cmp "$exe" "${again}UlvexCmdLine.exe" | head -1))"
  failed=1
fi
exit "$failed"
