#!/usr/bin/env bash
# Runs a test helper on an emulated processor and checks the probe's answer and nonce path.
# Usage: run_emulated.sh QEMU CPU EXPECTED_ANSWER EXPECTED_PATH PROGRAM
# Exit 77 (reported as skipped) when the emulator QEMU (qemu-x86_64, qemu-aarch64) is not
# installed.
set -u
qemu=$1 cpu=$2 expect=$3 path=$4 prog=$5
if ! command -v "$qemu" >/dev/null 2>&1; then
  echo "$qemu not installed: skipped"
  exit 77
fi
out=$("$qemu" -cpu "$cpu" "$prog" 2>&1)
status=$?
echo "$out"
[ $status -eq 0 ] || { echo "FAIL: exit status $status on $cpu"; exit 1; }
# A feature the emulator only warns about is one the row believes the processor has.
! grep -q "warning" <<<"$out" || { echo "FAIL: qemu warned on $cpu"; exit 1; }
grep -qx "fast_hash_support=$expect" <<<"$out" || { echo "FAIL: expected answer $expect on $cpu"; exit 1; }
grep -qx "nonce_path=$path" <<<"$out" || { echo "FAIL: expected nonce path $path on $cpu"; exit 1; }
grep -qx "known_answers=ok" <<<"$out" || { echo "FAIL: wrong hashes on $cpu"; exit 1; }
echo "PASS: $cpu answered $expect, nonce path $path, with correct hashes"
