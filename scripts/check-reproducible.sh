#!/usr/bin/env bash
# Checks that Tessary.exe does not depend on where or when it is built.
#
#   scripts/check-reproducible.sh [build-folder]     (default build/win, already built)
#       Quick check, for the test command. Redoes the steps of the build that
#       depend on the folder and the moment (the resource script, which names the
#       generated resources by absolute path, and the final link, which would stamp
#       the time) in a second, temporary folder at another path and at a later
#       time, from the first build's objects and generated resources, and
#       compares the SHA-256 of the two executables. It also looks for the source
#       and build folders' paths in the executable, which compiling elsewhere would
#       change.
#
#   scripts/check-reproducible.sh --full
#       Full check (slow: two complete builds). Clones the current commit into two
#       temporary folders at different paths and runs scripts/release.sh in each;
#       compares the SHA-256 of the two Tessary.exe and of the two zips.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$TESSARY_ROOT"

fail() {
  echo "reproducibility: $*" >&2
  exit 1
}

work=""
cleanup() { [ -n "$work" ] && rm -rf "$work"; }
trap cleanup EXIT

if [ "${1:-}" = "--full" ]; then
  git diff --quiet HEAD -- && [ -z "$(git ls-files --others --exclude-standard)" ] ||
    fail "the working tree has changes; the full check builds the commit, so commit first"
  commit=$(git rev-parse HEAD)
  work=$(mktemp -d "${TMPDIR:-/tmp}/tessary-repro.XXXXXX")
  # Two clones at paths of different lengths; both share this tree's Wine prefix.
  export TESSARY_WINEPREFIX="$WINEPREFIX"
  declare -A sums
  for where in first "second/elsewhere"; do
    mkdir -p "$work/$where"
    git clone -q --no-hardlinks "$TESSARY_ROOT" "$work/$where/tessary"
    git -C "$work/$where/tessary" checkout -q "$commit"
    echo "== Release build in $work/$where/tessary"
    TESSARY_BUILD="$work/$where/tessary/build" bash "$work/$where/tessary/scripts/release.sh"
    sums[$where]=$(cat "$work/$where/tessary/dist/SHA256SUMS")
  done
  echo "== First build:"
  echo "${sums[first]}"
  echo "== Second build:"
  echo "${sums[second/elsewhere]}"
  [ "${sums[first]}" = "${sums[second/elsewhere]}" ] || fail "the two builds differ"
  echo "== The two clean builds are byte-identical"
  exit 0
fi

first="$(cd "${1:-$TESSARY_BUILD/win}" && pwd)"
exe="$first/bin/Tessary.exe"
[ -f "$exe" ] || fail "$exe is missing; build the Tessary target first"
command -v ninja >/dev/null || fail "ninja is missing"

# No path of this machine in the program: the sources are "." and the build "build".
# (A very short path could occur by chance in the plate's compressed bytes.)
for path in "$TESSARY_ROOT" "$first"; do
  [ ${#path} -ge 8 ] || continue
  if LC_ALL=C grep -a -q -F "$path" "$exe"; then
    fail "Tessary.exe contains the path $path"
  fi
done

# The two commands, as the build runs them (in the build folder).
commands=$(ninja -C "$first" -t commands Tessary)
rc_command=$(grep -E '(^|[ /])x86_64-w64-mingw32-windres ' <<<"$commands" | tail -1)
link_command=$(grep -E ' -o bin/Tessary\.exe ' <<<"$commands" | tail -1)
[ -n "$rc_command" ] || fail "no resource command for Tessary.exe in $first"
[ -n "$link_command" ] || fail "no link command for Tessary.exe in $first"

work=$(mktemp -d "${TMPDIR:-/tmp}/tessary-repro.XXXXXX")
second="$work/another/build-folder"
mkdir -p "$second"
# The first build's objects and libraries, and its generated resources with the
# resource paths pointing at the second folder.
(cd "$first" && find . \( -name '*.obj' -o -name '*.a' \) -print0 | tar --null -T - -cf -) | (cd "$second" && tar -xf -)
cp -a "$first/generated" "$first/generated-resources" "$second/"
sed -i "s#$first#$second#g" "$second/generated-resources/resource_paths.h"
grep -q -F "$second" "$second/generated-resources/resource_paths.h" || fail "unexpected resource_paths.h"
mkdir -p "$second/bin" "$second/$(dirname "${rc_command##* }")"

# (Run later than the first build's link, so a time stamp would differ.)
echo "== Resource script and link again in $second"
(cd "$second" && bash -c "${rc_command//$first/$second}") || fail "the resource script failed"
(cd "$second" && bash -c "${link_command//$first/$second}") || fail "the link failed"

a=$(sha256sum "$exe" | awk '{print $1}')
b=$(sha256sum "$second/bin/Tessary.exe" | awk '{print $1}')
echo "first:  $a  $exe"
echo "second: $b  $second/bin/Tessary.exe"
[ "$a" = "$b" ] || fail "the two executables differ"
echo "== Tessary.exe is the same when its resources and link are redone elsewhere"
