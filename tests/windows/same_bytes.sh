#!/usr/bin/env bash
# The Linux and the Windows converters give the same bytes: both convert the same copies of the
# bundled sample, the instrument files of tests/data and the fuzz corpora (DAT files beside the
# sample's calibration, RAW files of both variants), in folders of their own, and every file
# each leaves, with the lines each prints, is compared. A RAW file's name field (bytes 8 to 39)
# holds the output's absolute path, which is a Windows path on Windows: it alone is not compared.
#
#   same_bytes.sh LINUX_CONVERTER WINDOWS_CONVERTER.exe SOURCE_DIR WORK_DIR
set -uo pipefail
linux=$1 windows=$2 src=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work/inputs"
in=$work/inputs
cp "$src/samples/LAB6.DAT" "$src/samples/CPS120.CAL" "$in/"
for f in "$src"/tests/data/raw/* "$src"/tests/data/raw4/*; do
  # The extension in capitals: Windows expands *.RAW without regard to case, the shell does not.
  b=$(basename "$f" | tr -c 'A-Za-z0-9.\n' _)
  [ -f "$f" ] && cp "$f" "$in/t_${b%.*}.$(echo "${b##*.}" | tr a-z A-Z)"
done
for kind in dat convert_dat; do
  for f in "$src/fuzz/corpus/$kind"/*; do cp "$f" "$in/${kind}_$(basename "$f").DAT"; done
done
for kind in raw raw4 convert_raw; do
  for f in "$src/fuzz/corpus/$kind"/*; do cp "$f" "$in/${kind}_$(basename "$f").RAW"; done
done
cp -r "$in" "$work/linux" && cp -r "$in" "$work/windows"
inputs=$(ls "$in" | wc -l)

# The shell expands the patterns for Linux, in byte order; the Windows converter expands them
# itself.
(cd "$work/linux" && LC_ALL=C "$linux" -j 2 --cal CPS120.CAL --also csv ./*.DAT ./*.RAW >"$work/linux.out" 2>"$work/linux.err"
 echo $? >"$work/linux.status")
(cd "$work/windows" && "$here/wine" "$windows" -j 2 --cal CPS120.CAL --also csv "./*.DAT" "./*.RAW" >"$work/windows.out" 2>"$work/windows.err"
 echo $? >"$work/windows.status")
if [ "$(cat "$work/windows.status")" = 77 ]; then
  cat "$work/windows.err"
  exit 77
fi

differ=0
compared=0
say() { echo "differs: $1"; differ=$((differ + 1)); }
for name in status out err; do
  compared=$((compared + 1))
  cmp -s "$work/linux.$name" "$work/windows.$name" || { say "standard $name"; diff "$work/linux.$name" "$work/windows.$name" | head -5; }
done
(cd "$work/linux" && ls) >"$work/linux.files"
(cd "$work/windows" && ls) >"$work/windows.files"
cmp -s "$work/linux.files" "$work/windows.files" || { say "the files left"; diff "$work/linux.files" "$work/windows.files" | head -5; }
while read -r f; do
  a=$work/linux/$f b=$work/windows/$f
  [ -f "$b" ] || continue
  compared=$((compared + 1))
  if [ "$(stat -c %s "$a")" != "$(stat -c %s "$b")" ]; then
    say "$f (sizes $(stat -c %s "$a") and $(stat -c %s "$b"))"
  elif [[ "$f" == *.RAW && ! -f "$in/$f" ]]; then
    [ -z "$(cmp -l "$a" "$b" | awk '$1 < 9 || $1 > 40')" ] || say "$f"
  else
    cmp -s "$a" "$b" || say "$f"
  fi
done <"$work/linux.files"
echo "$inputs inputs, $compared outputs and streams compared, $differ differ"
[ "$differ" -eq 0 ]
