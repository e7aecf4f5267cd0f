#!/usr/bin/env bash
# Builds the release package: a ZIP of the two stripped 32-bit programs
# (UlvexCmdLine.exe and the installation check UlvexCheck.exe), the user's
# guide and SHA256SUMS over them, with fixed file times and order, so that
# the same sources give the same ZIP byte for byte. Prints its size, its
# SHA-256 and the programs' resources. Beside it, the test bundle
# UlvexTests-<version>.zip: the 32-bit build's test programs, the stand-in
# host, the fixtures, the same two programs and run-tests.cmd, which runs
# them on a Windows machine (not signed). Signs the programs with Authenticode
# when a certificate is given:
#
#   ULVEX_SIGN_PFX=<file.pfx>  ULVEX_SIGN_PASSWORD=<password>
#   ULVEX_SIGN_TIMESTAMP_URL=<RFC 3161 time-stamp server>   (optional)
#
# Then it checks the package: it builds again from clean in another folder
# and compares the programs and the two ZIPs; it signs a copy of each
# program with a throwaway self-signed certificate, verifies the signature,
# reads the resources back from the signed copy and checks that removing the
# signature gives back the unsigned bytes. Fails when any check fails, when
# a program is larger than 400 KB or is not marked terminal-server aware,
# or when the package's SHA256SUMS does not match its files.
set -euo pipefail
shopt -s inherit_errexit  # a failed build inside $(...) stops the script too
cd "$(dirname "$0")/.."

bash scripts/setup.sh

limit=$((400 * 1024))
# The shipped programs, in the order the ZIP lists them.
programs=(UlvexCmdLine.exe UlvexCheck.exe)
first=build/release
second=build/release-again
failed=0

# The files' time in the ZIP: the time of the last commit, so that a package
# tells which sources it holds; SOURCE_DATE_EPOCH overrides it.
source_date=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
source scripts/package-lib.sh

if [ -n "${ULVEX_SIGN_PFX:-}" ] && [ ! -r "$ULVEX_SIGN_PFX" ]; then
  echo "package: ULVEX_SIGN_PFX names no readable file: $ULVEX_SIGN_PFX" >&2
  exit 1
fi

# Signs the program in place with the certificate and key of a PFX file.
#   sign <exe> <pfx> <password> [time-stamp URL]
sign() {
  local exe=$1 pfx=$2 password=$3 timestamp=${4:-}
  local passfile
  # The password goes through a file of the owner's only: on the command
  # line every user of the machine could read it.
  passfile=$(mktemp)
  chmod 600 "$passfile"
  printf '%s' "$password" >"$passfile"
  # The description a signature shows, as the program's own resources say.
  local description="Ulvex command line interface"
  if [[ $exe == *UlvexCheck.exe* ]]; then description="Ulvex installation check"; fi
  local args=(sign -pkcs12 "$pfx" -readpass "$passfile" -h sha256
              -n "$description")
  if [ -n "$timestamp" ]; then args+=(-ts "$timestamp"); fi
  local status=0
  osslsigncode "${args[@]}" -in "$exe" -out "$exe.signed" >/dev/null || status=$?
  rm -f "$passfile"
  if [ "$status" -ne 0 ]; then
    rm -f "$exe.signed"
    echo "package: signing $exe failed" >&2
    return 1
  fi
  mv "$exe.signed" "$exe"
}

# Configures, builds and installs from clean in a folder, signs the programs
# when a certificate is given, and writes the ZIP; prints the folder that
# holds the packaged files.
package() {
  local dir=$1
  rm -rf "$dir"
  cmake --preset release -B "$dir" >/dev/null
  cmake --build "$dir" >/dev/null
  local version
  version=$(sed -n 's/^project(UlvexCmdLine VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  local top=UlvexCmdLine-$version-win32
  local content=$dir/stage/$top
  cmake --install "$dir" --prefix "$content" >/dev/null
  local program
  for program in "${programs[@]}"; do
    pad_for_signing "$content/$program"
    if [ -n "${ULVEX_SIGN_PFX:-}" ]; then
      sign "$content/$program" "$ULVEX_SIGN_PFX" \
           "${ULVEX_SIGN_PASSWORD:-}" "${ULVEX_SIGN_TIMESTAMP_URL:-}"
    fi
  done
  # The sums cover the programs as shipped: padded, and signed if they are.
  (cd "$content" && sha256sum "${programs[@]}" usage.md >SHA256SUMS)
  zip_folder "$dir/$top.zip" "$content" "$top" "${programs[@]}" usage.md SHA256SUMS
  (cd "$dir" && sha256sum "$top.zip" >"$top.zip.sha256")
  # The test bundle: the shipped 32-bit build's test programs with these
  # very programs.
  cmake --preset i686 >/dev/null
  make_bundle build/i686 "$content" "$dir" "UlvexTests-$version.zip" >/dev/null
  echo "$content/"
}

grouped() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }
bytes() { echo "$(grouped "$(stat -c %s "$1")") bytes"; }
sha() { sha256sum "$1" | cut -d' ' -f1; }

# The program without its signature (itself when it has none), in a file
# beside the given one.
unsigned_copy() {
  local exe=$1 out=$2
  if osslsigncode remove-signature -in "$exe" -out "$out" >/dev/null 2>&1; then
    return 0
  fi
  cp "$exe" "$out"  # no signature to remove
}

echo "== release package: build from clean in $first"
content=$(package "$first")
zip=$(ls "$first"/UlvexCmdLine-*-win32.zip)
echo "package           $zip  $(bytes "$zip")"
echo "package SHA-256   $(sha "$zip")"
bundle=$(ls "$first"/UlvexTests-*.zip)
echo "test bundle       $bundle  $(bytes "$bundle")"
echo "test bundle SHA-256 $(sha "$bundle")"
for file in "$content"*; do
  printf '  %-16s %s\n' "$(basename "$file")" "$(bytes "$file")"
done
for program in "${programs[@]}"; do
  echo "$program before stripping (build tree): $(bytes "$first/bin/$program")"
done
if [ -n "${ULVEX_SIGN_PFX:-}" ]; then
  echo "programs signed with the certificate in $ULVEX_SIGN_PFX"
else
  echo "programs not signed (no ULVEX_SIGN_PFX given)"
fi
if (cd "$content" && sha256sum --quiet -c SHA256SUMS); then
  echo "SHA256SUMS: matches the packaged files"
else
  echo "SHA256SUMS: DOES NOT MATCH the packaged files"
  failed=1
fi
for program in "${programs[@]}"; do
  exe=$content$program
  size=$(stat -c %s "$exe")
  verdict="within the limit"
  if [ "$size" -gt "$limit" ]; then
    verdict="TOO LARGE"
    failed=1
  fi
  echo "$program size: $(grouped "$size") of at most $(grouped "$limit") bytes: $verdict"

  # IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE: a Remote Desktop session
  # host runs the program without its compatibility layer.
  characteristics=$(i686-w64-mingw32-objdump -p "$exe" | awk '/^DllCharacteristics/ {print $2}')
  if (( (16#$characteristics & 0x8000) != 0 )); then
    echo "$program DllCharacteristics: 0x$characteristics, terminal-server aware"
  else
    echo "$program DllCharacteristics: 0x$characteristics, NOT terminal-server aware"
    failed=1
  fi
done

# Prints the version resource and the manifest's facts of a program.
show_resources() {
  local resources
  resources=$(i686-w64-mingw32-windres -i "$1" -O rc)
  grep -E '^ (FILE|PRODUCT)VERSION|VALUE "' <<<"$resources" | sed 's/^ */  /'
  printf '  manifest: %s, %d supportedOS, %s\n' \
    "$(grep -o 'level=""[A-Za-z]*""' <<<"$resources" | tr -d '"')" \
    "$(grep -c 'supportedOS Id' <<<"$resources")" \
    "$(grep -q activeCodePage <<<"$resources" && echo "activeCodePage SET" ||
       echo "no activeCodePage")"
}
for program in "${programs[@]}"; do
  echo "resources of the packaged $program, read back:"
  show_resources "$content$program"
done

echo "== reproducibility: a second build from clean in $second"
again=$(package "$second")
zip_again=$(ls "$second"/UlvexCmdLine-*-win32.zip)
for program in "${programs[@]}"; do
  unsigned_copy "$content$program" "$first/unsigned-$program"
  unsigned_copy "$again$program" "$second/unsigned-$program"
  echo "$program, first   $(sha "$first/unsigned-$program")"
  echo "$program, second  $(sha "$second/unsigned-$program")"
  if cmp -s "$first/unsigned-$program" "$second/unsigned-$program"; then
    echo "$program: identical, byte for byte${ULVEX_SIGN_PFX:+ (without their signatures)}"
  else
    echo "$program: DIFFERENT ($(cmp "$first/unsigned-$program" "$second/unsigned-$program" | head -1))"
    failed=1
  fi
done
bundle_again=$(ls "$second"/UlvexTests-*.zip)
echo "test bundle, first   $(sha "$bundle")"
echo "test bundle, second  $(sha "$bundle_again")"
if cmp -s "$bundle" "$bundle_again"; then
  echo "test bundles: identical, byte for byte"
elif [ -n "${ULVEX_SIGN_PFX:-}" ]; then
  echo "test bundles: differ, as they hold signed programs"
else
  echo "test bundles: DIFFERENT"
  failed=1
fi
echo "ZIP, first       $(sha "$zip")"
echo "ZIP, second      $(sha "$zip_again")"
if cmp -s "$zip" "$zip_again"; then
  echo "ZIPs: identical, byte for byte"
elif [ -n "${ULVEX_SIGN_PFX:-}" ]; then
  echo "ZIPs: differ, as signed packages do (each signature holds its own signing time)"
else
  echo "ZIPs: DIFFERENT"
  failed=1
fi

echo "== signing: copies signed with a throwaway self-signed certificate"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -sha256 \
  -subj "/CN=UlvexCmdLine throwaway test signer" \
  -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
throwaway_password=$(openssl rand -hex 16)
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" \
  -passout "pass:$throwaway_password" -out "$work/signer.pfx"
for program in "${programs[@]}"; do
  signed=$work/signed-$program
  cp "$first/unsigned-$program" "$signed"
  sign "$signed" "$work/signer.pfx" "$throwaway_password"
  echo "signed copy of $program: $(bytes "$signed")"
  signed_size=$(stat -c %s "$signed")
  if [ "$signed_size" -gt "$limit" ]; then
    echo "signed copy of $program: TOO LARGE"
    failed=1
  fi
  if osslsigncode verify -CAfile "$work/cert.pem" -in "$signed" \
       >"$work/verify.log" 2>&1; then
    echo "signature of $program: verified against the throwaway certificate"
    grep -E '^(Message digest algorithm|Signer|[[:space:]]*Subject):' "$work/verify.log" |
      sort -u | sed 's/^[[:space:]]*/  /' | head -4
  else
    echo "signature of $program: NOT VERIFIED"
    sed 's/^/  /' "$work/verify.log"
    failed=1
  fi
  echo "resources of the signed copy of $program, read back:"
  show_resources "$signed"
  removed=$work/removed-$program
  osslsigncode remove-signature -in "$signed" -out "$removed" >/dev/null
  if cmp -s "$removed" "$first/unsigned-$program"; then
    echo "signature removed: the unsigned $program, byte for byte"
  else
    echo "signature removed: DIFFERENT from the unsigned $program ($(cmp "$removed" "$first/unsigned-$program" | head -1))"
    failed=1
  fi
done
exit "$failed"
