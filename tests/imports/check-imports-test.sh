#!/usr/bin/env bash
# The import check fails a program that asks for administrator rights and
# imports a DLL that is not a KnownDLL, and passes the same program without
# the request.
set -uo pipefail
check=$1; objdump=$2; dir=$3
out=$(bash "$check" "$objdump" "$dir/elevated" 2>&1)
rc=$?
if (( rc == 0 )) || [[ $out != *"probe.exe runs elevated and imports wininet.dll"* ]]; then
  echo "the elevated program was not refused (exit $rc):"; echo "$out"; exit 1
fi
if ! out=$(bash "$check" "$objdump" "$dir/plain" 2>&1); then
  echo "the program without the request was refused:"; echo "$out"; exit 1
fi
echo "elevated refused, plain passed"
