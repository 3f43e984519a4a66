#!/bin/sh
# download_under_wine.sh WINE_RUN KVR_DOWNLOAD_EXE PORT EXPECTED_LINES OUTPUT
# kvr-download.exe under Wine downloads from PORT into the list file OUTPUT;
# its lines must be the expected ones, CR LF between them.
wine_run=$1
exe=$2
port=$3
expected=$4
output=$5
rm -f "$output"
"$wine_run" "$exe" -q -o "Z:$(echo "$output" | sed 's|/|\\|g')" "$port" || { echo "kvr-download.exe failed: $?"; exit 1; }
{ tr -d '\r' <"$output"; echo; } | cmp - "$expected" || { echo "the lines differ"; exit 1; }
grep -q "$(printf '\r')" "$output" || { echo "no CR LF between the lines"; exit 1; }
