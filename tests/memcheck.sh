#!/usr/bin/env bash
# Runs tavoctl on the fake controller under valgrind through its success and
# failure paths: any invalid access, or any block lost at exit, fails.
# Usage: memcheck.sh path/to/tavoctl_fake
set -euo pipefail
program=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

run() {  # scenario, then tavoctl's arguments
  local scenario=$1
  shift
  printf '%b' "$scenario" >"$scratch/scenario"
  if ! TAVO_FAKE_SCENARIO="$scratch/scenario" valgrind --quiet --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect --error-exitcode=99 "$program" "$@" >/dev/null 2>"$scratch/err"; then
    if grep -q '^==[0-9]*==' "$scratch/err"; then
      echo "valgrind found errors in: $*"
      cat "$scratch/err"
      exit 1
    fi
  fi
}

controllers='device 046d:c52b\ndevice 6666:f100 open=rw-only\ndevice 6666:f100 name=Second\n'
run "$controllers" --debug --setup 0001 0C03 ffff
run "$controllers" --debug --box 1 0001 zz 0002
run "$controllers" --controller 7 0001
run "$controllers" --box 9
run "$controllers" --list
run "$controllers" --path fake:2 0001
run "$controllers" --path fake:0 0001
run 'device 6666:f100 manufacturer=fill\n' --debug
run 'device 6666:f100 write=refuse after=1\n' --debug 0001 0002
run 'device 6666:f100 write=short\n' --setup
run 'device 6666:f100\n' --channel 1x
run 'device 6666:f100\ndevice 6666:f100 detail=oom\n' --debug --controller 1 0001
run 'device 6666:f100\ndevice 6666:f100 detail=oom\n' --list
echo "memcheck: no errors"
