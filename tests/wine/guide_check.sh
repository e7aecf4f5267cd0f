#!/usr/bin/env bash
# Checks what a script can check of the guide (README.md and docs/*.md):
# - help texts: every text block that quotes a help screen matches the
#   program's own help screen (/h), or the installation check's, at one of
#   the widths 80, 40 or 10000, line for line ("..." in a block stands for
#   lines left out), and every quoted text that begins like a help text is
#   one, blanks included;
# - sizes: the release section gives the package's sizes as approximate
#   ("about 350,000 bytes"), each within 5% of a size scripts/package.sh
#   printed, and no exact figure, which changes with every build.
# Runs the program that scripts/demo.sh installed, in the demo's prefix.
#   guide_check.sh <output of scripts/package.sh>
set -euo pipefail
cd "$(dirname "$0")/../.."
package_log=$1
source scripts/wine-arch.sh
program=build/demo/Ulvex/UlvexCmdLine.exe
check=build/demo/Ulvex/UlvexCheck.exe
for file in "$program" "$check"; do
  if [ ! -f "$file" ]; then
    echo "guide: $file is missing: run scripts/demo.sh first" >&2
    exit 2
  fi
done
export WINEPREFIX=$PWD/build/demo/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
stop_prefixes_on_exit "$WINEPREFIX"
trap 'stop_prefixes; rm -rf "$work"' EXIT
tests/wine/prefix.sh up "$WINEPREFIX" "$ULVEX_WINE"
for width in 80 40 10000; do
  # The help screen ends the run with status 1.
  COLUMNS=$width "$ULVEX_WINE" "$program" /h </dev/null >"$work/help-$width" 2>&1 || true
  COLUMNS=$width "$ULVEX_WINE" "$check" /h </dev/null >"$work/check-help-$width" 2>&1 || true
done

python3 - "$work" "$package_log" README.md docs/*.md <<'PYTHON'
import pathlib, re, sys

work, package_log, *guides = sys.argv[1:]
failures = []

def fail(text):
    failures.append(text)
    print("FAIL: " + text)

# The help screens, from their first line of help on (the banner is left
# out: transcripts of runs quote it too).
screens = {}
for path in sorted(pathlib.Path(work).glob("*help-*")):
    lines = path.read_text(errors="replace").replace("\r", "").split("\n")
    first = "Checks whether" if path.name.startswith("check") else "Command line switches"
    start = next((i for i, line in enumerate(lines)
                  if line.startswith(first)), None)
    if start is None:
        fail(f"the program printed no help screen at {path.name}: {lines[:5]}")
        continue
    screens[path.name] = lines[start:]
if not screens:
    sys.exit(1)
help_lines = {line.strip() for lines in screens.values() for line in lines
              if len(line.strip()) >= 20}
wide = screens.get("help-10000", []) + screens.get("check-help-10000", [])
wide_words = " ".join(" ".join(wide).split())

def in_order(chunk, lines):
    return any(lines[i:i + len(chunk)] == chunk
               for i in range(len(lines) - len(chunk) + 1))

blocks = phrases = 0
for guide in guides:
    text = pathlib.Path(guide).read_text()
    for block in re.findall(r"```text\n(.*?)```", text, re.S):
        lines = block.split("\n")[:-1]
        if not any(line.strip() in help_lines for line in lines):
            continue  # not a quote of the help screen
        blocks += 1
        chunks, chunk = [], []
        for line in lines:
            if line.strip() == "...":
                chunks.append(chunk)
                chunk = []
            else:
                chunk.append(line)
        chunks.append(chunk)
        for chunk in filter(None, chunks):
            if not any(in_order(chunk, lines) for lines in screens.values()):
                fail(f"{guide}: help screen quoted as\n    " +
                     "\n    ".join(repr(line) for line in chunk) +
                     "\n  is not in the help screen at 80, 40 or 10000 columns")
    # Quoted texts, a line break in the source read as a blank.
    for quoted in re.findall(r'"([^"\n]+(?:\n[^"\n]+)?)"', text):
        quoted = quoted.replace("\n", " ")
        words = quoted.split()
        if len(words) < 3 or " ".join(words[:3]) not in wide_words:
            continue  # does not begin like a help text
        phrases += 1
        if not any(quoted in line for line in wide):
            fail(f'{guide}: "{quoted}" is not the help screen\'s text')
print(f"help texts: {blocks} quoted blocks and {phrases} quoted texts checked")

# Sizes: the release section of the README against the package's figures.
printed = [int(n.replace(",", "")) for n in
           re.findall(r"\b(\d[\d,]*) bytes", pathlib.Path(package_log).read_text())]
readme = pathlib.Path("README.md").read_text()
section = readme[readme.index("## The release"):]
approximate = 0
for match in re.finditer(r"(about )?\b(\d{1,3}(?:,\d{3})+)\b", section):
    size = int(match.group(2).replace(",", ""))
    if not match.group(1):
        fail(f"README.md: exact size {match.group(0)}: scripts/package.sh "
             "prints it; give it as approximate (about ...)")
        continue
    approximate += 1
    if not any(abs(size - real) <= 0.05 * real for real in printed):
        fail(f"README.md: {match.group(0)} is not within 5% of a size "
             f"the package has: {', '.join(f'{n:,}' for n in printed)}")
if not printed:
    fail(f"{package_log} holds no sizes")
print(f"sizes: {approximate} approximate sizes checked against "
      f"{len(printed)} sizes of the package")
if failures:
    print(f"guide: {len(failures)} check(s) failed")
    sys.exit(1)
print("PASS: the guide's help texts and sizes match the program and the package")
PYTHON
