#!/usr/bin/env bash
# Makes the portable release of the committed sources:
#
#   bash scripts/release.sh
#
# builds Tessary.exe from scratch (Release, in build/release), checks the headers of
# the executable under Wine, and writes
#   dist/Tessary-<version>-win64.zip   Tessary.exe, README.txt, LICENSE.txt,
#                                      THIRD-PARTY-NOTICES.txt
#   dist/SHA256SUMS                    SHA-256 of the zip and of the Tessary.exe in it
# The version is the one of project() in CMakeLists.txt. The zip is reproducible:
# its entries are in a fixed order with the commit's date (SOURCE_DATE_EPOCH when
# set), so two builds of one commit give the same bytes. The build itself fetches
# nothing: it uses the tree and the Debian packages of scripts/install-deps.sh, which
# installs from the Debian archive those that are missing. The zip and SHA256SUMS
# are then checked with the steps README.txt gives for checking a download.
#
# Fails, and leaves no zip under the final name, when the working tree has changes
# or files git does not know, when the build or the header checks fail, or when a
# file of the release is missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$TESSARY_ROOT"

fail() {
  echo "release: $*" >&2
  exit 1
}

# --- the sources: exactly a commit -------------------------------------------------
git rev-parse --verify HEAD >/dev/null 2>&1 || fail "not a git checkout with a commit"
if ! git diff --quiet HEAD -- || [ -n "$(git ls-files --others --exclude-standard)" ]; then
  git status --short >&2
  fail "the working tree has uncommitted changes or unknown files; commit or remove them first"
fi
commit=$(git rev-parse HEAD)
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct HEAD)}"

"$TESSARY_ROOT/scripts/install-deps.sh"

# --- a clean Release build -----------------------------------------------------------
build="$TESSARY_BUILD/release"
echo "== Clean Release build of $commit in $build"
rm -rf "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$TESSARY_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)" --target Tessary release_files test_app

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "cannot read the project version from $build/CMakeCache.txt"

# --- the executable's headers, checked under Wine ----------------------------------
echo "== Checking the headers of Tessary.exe"
"$TESSARY_ROOT/scripts/wine-prefix.sh"
started_server=0
stage=""
cleanup() {
  [ -n "$stage" ] && rm -rf "$stage"
  [ -n "${partial_zip:-}" ] && rm -f "$partial_zip"
  [ -n "${partial_sums:-}" ] && rm -f "$partial_sums"
  if [ "$started_server" = 1 ]; then wineserver -k 2>/dev/null || true; fi
}
trap cleanup EXIT
if wineserver -p 2>/dev/null; then started_server=1; fi
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
# Its headers, its layout in the file, its resources, and the notices of every
# library its link map shows.
ctest --test-dir "$build" --output-on-failure --no-tests=error \
  -R '^(ExecutableHeaders|ExecutableResources|ExecutableLayout|ExecutableNotices|ProgramResources)\.' ||
  fail "the header checks of Tessary.exe failed"

# --- the zip ---------------------------------------------------------------------------
name="Tessary-$version-win64"
mkdir -p dist
final_zip="dist/$name.zip"
final_sums="dist/SHA256SUMS"
# An older release of this version is removed first, so that a failure below never
# leaves one that does not belong to this commit.
rm -f "$final_zip" "$final_sums"

stage=$(mktemp -d "${TMPDIR:-/tmp}/tessary-release.XXXXXX")
files=(LICENSE.txt README.txt THIRD-PARTY-NOTICES.txt Tessary.exe)
cp "$build/bin/Tessary.exe" "$stage/Tessary.exe" || fail "Tessary.exe is missing"
for f in LICENSE.txt README.txt THIRD-PARTY-NOTICES.txt; do
  cp "$build/release-files/$f" "$stage/$f" || fail "$f is missing"
done
for f in "${files[@]}"; do
  [ -s "$stage/$f" ] || fail "$f is empty"
  # Every text file is CR LF throughout.
  if [ "${f##*.}" = txt ] && [ "$(LC_ALL=C grep -c $'\r$' "$stage/$f")" != "$(wc -l <"$stage/$f")" ]; then
    fail "$f has a line without CR LF"
  fi
done
grep -q "^TESSARY $version " "$stage/README.txt" || fail "README.txt does not name version $version"

# Fixed metadata: the commit's time (in UTC, as zip stores local time), plain
# read/write permissions, no extra fields (-X), no folder entries (-D), the entries
# in the order listed (sorted by name), best compression.
chmod 0644 "$stage"/*
for f in "${files[@]}"; do touch -d "@$SOURCE_DATE_EPOCH" "$stage/$f"; done
partial_zip="$TESSARY_ROOT/dist/.$name.zip.partial"
rm -f "$partial_zip"
mapfile -t sorted < <(printf '%s\n' "${files[@]}" | LC_ALL=C sort)
(cd "$stage" && TZ=UTC zip -X -D -9 -q "$partial_zip" "${sorted[@]}") || fail "zip failed"
listed=$(unzip -Z1 "$partial_zip" | tr '\n' ' ')
[ "$listed" = "${sorted[*]} " ] || fail "the zip holds '$listed' instead of '${sorted[*]}'"
unzip -tq "$partial_zip" >/dev/null || fail "the zip does not test clean"

partial_sums="$TESSARY_ROOT/dist/.SHA256SUMS.partial"
zip_sum=$(sha256sum "$partial_zip" | awk '{print $1}')
exe_sum=$(sha256sum "$stage/Tessary.exe" | awk '{print $1}')
printf '%s  %s\n%s  %s\n' "$zip_sum" "$name.zip" "$exe_sum" "$name/Tessary.exe" >"$partial_sums"
# Checked as a user checks the download, with the steps of the README.txt in the zip.
"$TESSARY_ROOT/tests/app/executable_download_test.sh" "$partial_zip" "$partial_sums" "$stage/README.txt" "$name" ||
  fail "the zip does not pass the checks its README.txt describes"
mv -f "$partial_zip" "$final_zip"
partial_zip=""
mv -f "$partial_sums" "$final_sums"
partial_sums=""

echo "== Release $version of $commit"
ls -l "$final_zip" "$build/bin/Tessary.exe" | awk '{printf "%12d  %s\n", $5, $NF}'
cat "$final_sums"
