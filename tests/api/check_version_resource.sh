#!/bin/sh
# Each product file's version resource, read back from the file itself: the
# numbers and the texts that Explorer's "Details" tab shows.
set -eu
windres=$1
version=$2
shift 2
numbers=$(echo "$version" | tr '.' ',')
fail=0
for file in "$@"; do
  name=$(basename "$file")
  if ! rc=$($windres --input-format=coff -O rc -i "$file" 2>&1); then
    echo "$name: no resources ($rc)"; fail=1; continue
  fi
  # windres writes "FILEVERSION 1, 0, 0, 0": compared without blanks.
  flat=$(echo "$rc" | tr -d ' \t')
  for want in "FILEVERSION$numbers,0" "PRODUCTVERSION$numbers,0" "VALUE\"FileVersion\",\"$version\"" \
      "VALUE\"ProductVersion\",\"$version\"" "VALUE\"ProductName\",\"Varnex\"" \
      "VALUE\"OriginalFilename\",\"$name\"" "VALUE\"LegalCopyright\",\"Copyright"; do
    echo "$flat" | grep -qF "$want" || { echo "$name: missing $want"; fail=1; }
  done
  description=$(echo "$rc" | sed -n 's/.*VALUE "FileDescription", "\(.*\)".*/\1/p')
  [ -n "$description" ] || { echo "$name: no FileDescription"; fail=1; }
  echo "$name: $version, $description"
done
exit $fail
