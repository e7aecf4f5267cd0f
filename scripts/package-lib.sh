# shellcheck shell=bash
# What scripts/package.sh and scripts/bundle.sh share: the ZIP with fixed
# times and order, the padding that keeps a signed program's unsigned bytes,
# and the test bundle.
#   source scripts/package-lib.sh
# Uses source_date (seconds since 1970: the ZIP's file times), set before.
: "${source_date:?set source_date before sourcing package-lib.sh}"

# Writes the ZIP: the folder's files in the order given, each with the same
# fixed time and attributes, whoever built them and whatever the umask.
#   zip_folder <zip> <folder> <name in the ZIP> <file>...
zip_folder() {
  local zip=$1 folder=$2 top=$3
  shift 3
  python3 - "$zip" "$folder" "$top" "$source_date" "$@" <<'PYTHON'
import sys, time, zipfile
zip_path, folder, top, epoch = sys.argv[1:5]
# ZIP times have no zone and start in 1980.
stamp = time.gmtime(max(int(epoch), 315532800))[:6]
with zipfile.ZipFile(zip_path, "w") as archive:
    for name in sys.argv[5:]:
        entry = zipfile.ZipInfo(f"{top}/{name}", date_time=stamp)
        entry.create_system = 0  # MS-DOS attributes: no owner, no mode
        entry.external_attr = 0x20  # "archive", as Windows' own ZIPs have
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(f"{folder}/{name}", "rb") as source:
            archive.writestr(entry, source.read(), compresslevel=9)
PYTHON
}

# Pads the program to a multiple of 8 bytes and writes its header checksum
# for the new length. Authenticode signing pads the file so before it adds
# the signature, and removing the signature keeps the padding: so padded,
# the signed program without its signature is the unsigned one, byte for
# byte. The padding follows the last section's data, where the loader never
# looks.
pad_for_signing() {
  python3 - "$1" <<'PYTHON'
import struct, sys
path = sys.argv[1]
with open(path, "rb") as program:
    data = bytearray(program.read())
data += bytes(-len(data) % 8)
header = struct.unpack_from("<I", data, 0x3C)[0]
field = header + 24 + 64  # CheckSum, at the same place in PE32 and PE32+
struct.pack_into("<I", data, field, 0)
total = 0
for (word,) in struct.iter_unpack("<H", bytes(data)):
    total += word
    total = (total & 0xFFFF) + (total >> 16)
struct.pack_into("<I", data, field, (total + len(data)) & 0xFFFFFFFF)
with open(path, "wb") as program:
    program.write(data)
PYTHON
}

# The test bundle's files, in the order its ZIP lists them. The test
# programs find everything else in their own folder (bin\), as in the build
# tree; run-tests.cmd sits above it.
bundle_test_files=(unit_tests.exe win32_tests.exe system_tests.exe
                   SuiteReport.exe StandInHost.exe VersionFixture.exe
                   ConsoleControl.exe ArgvFixture.exe IdleProcess.exe
                   planted/version.dll)
bundle_programs=(UlvexCmdLine.exe UlvexCheck.exe)

# Builds the test programs in a configured Windows build tree and writes
# the test bundle <out dir>/<zip name>: run-tests.cmd, the test programs,
# the stand-in host and the fixtures (stripped; the build tree keeps their
# debug information), and the two programs exactly as found in <programs
# dir> (the release's: stripped, padded, signed if they are). Not signed
# itself. Prints the ZIP's path.
#   make_bundle <build dir> <programs dir> <out dir> <zip name>
make_bundle() {
  local build=$1 programs=$2 out=$3 zip_name=$4
  cmake --build "$build" --target unit_tests win32_tests system_tests \
    SuiteReport StandInHost ulvex_fixtures >/dev/null
  local strip
  strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$build/CMakeCache.txt")
  local top=${zip_name%.zip}
  local stage=$out/bundle-stage
  rm -rf "$stage"
  mkdir -p "$stage/$top/bin/planted"
  cp tests/bundle/run-tests.cmd "$stage/$top/"
  local file
  for file in "${bundle_test_files[@]}"; do
    cp "$build/bin/$file" "$stage/$top/bin/$file"
    # NOTE: GNU strip writes the current time into the PE header unless
    # SOURCE_DATE_EPOCH gives it one; 0 is what the linker leaves there.
    SOURCE_DATE_EPOCH=0 "$strip" "$stage/$top/bin/$file"
  done
  for file in "${bundle_programs[@]}"; do
    cp "$programs/$file" "$stage/$top/bin/$file"
  done
  local names=(run-tests.cmd)
  for file in "${bundle_test_files[@]}" "${bundle_programs[@]}"; do
    names+=("bin/$file")
  done
  rm -f "$out/$zip_name"
  zip_folder "$out/$zip_name" "$stage/$top" "$top" "${names[@]}"
  echo "$out/$zip_name"
}
