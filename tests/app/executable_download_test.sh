#!/usr/bin/env bash
# Checks a built release the way its README.txt tells a user to check a download:
#
#   tests/app/executable_download_test.sh ZIP SHA256SUMS README.txt NAME
#
# NAME is the release's name (Tessary-<version>-win64); ZIP may be a file of any
# name, it is checked as NAME.zip. In a scratch folder holding the zip and
# SHA256SUMS:
#   - SHA256SUMS names the zip and NAME/Tessary.exe, the folder "Extract All..."
#     makes;
#   - the Linux command of README.txt, run as it stands, prints OK for both lines;
#   - each file of README.txt's certutil steps is named by SHA256SUMS and has the
#     SHA-256 given there (computed with sha256sum: Wine's certutil prints nothing);
#   - the same command fails on a zip with one byte changed.
# scripts/release.sh runs it on the zip it has just made.
set -uo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 ZIP SHA256SUMS README.txt NAME" >&2
  exit 2
fi
zip=$1 sums=$2 readme=$3 name=$4
fail() {
  echo "download check: $*" >&2
  exit 1
}
work=$(mktemp -d "${TMPDIR:-/tmp}/tessary-download.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$zip" "$work/$name.zip" || fail "cannot copy $zip"
cp "$sums" "$work/SHA256SUMS" || fail "cannot copy $sums"
guide=$(tr -d '\r' <"$readme") || fail "cannot read $readme"

named=$(awk '{print $2}' "$work/SHA256SUMS" | tr '\n' ' ')
[ "$named" = "$name.zip $name/Tessary.exe " ] || fail "SHA256SUMS names '$named'"

# The Linux command, exactly as the guide gives it (indented by four spaces).
linux=$(grep -E '^    unzip .* && sha256sum -c SHA256SUMS$' <<<"$guide" | sed 's/^    //')
[ "$(wc -l <<<"$linux")" = 1 ] && [ -n "$linux" ] || fail "README.txt gives no single Linux command"
if ! output=$(cd "$work" && bash -c "$linux" 2>&1); then
  fail "the Linux command failed: $output"
fi
[ "$output" = "$name.zip: OK"$'\n'"$name/Tessary.exe: OK" ] || fail "the Linux command printed: $output"

# The certutil steps: the files they name, as SHA256SUMS names them.
mapfile -t named_files < <(sed -nE 's/^    certutil -hashfile (.+) SHA256$/\1/p' <<<"$guide")
[ ${#named_files[@]} = 2 ] || fail "README.txt gives ${#named_files[@]} certutil steps instead of 2"
for file in "${named_files[@]}"; do
  path=${file//\\//}
  expected=$(awk -v n="$path" '$2 == n {print $1}' "$work/SHA256SUMS")
  [ -n "$expected" ] || fail "SHA256SUMS has no line for $file, which README.txt hashes"
  [ -f "$work/$path" ] || fail "$file is not where the steps look for it"
  actual=$(sha256sum "$work/$path" | awk '{print $1}')
  [ "$actual" = "$expected" ] || fail "$file has SHA-256 $actual, SHA256SUMS says $expected"
done

# A damaged download: one byte of the zip changed.
rm -rf "${work:?}/$name"
byte=$(od -An -tu1 -j 200 -N 1 "$work/$name.zip" | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$work/$name.zip" bs=1 seek=200 conv=notrunc 2>/dev/null
if (cd "$work" && bash -c "$linux") >/dev/null 2>&1; then
  fail "the Linux command passed a zip with a changed byte"
fi
echo "download check: README.txt's steps confirm $name.zip and $name/Tessary.exe"
