#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test: the native suites; the same suites built with
# AddressSanitizer and UndefinedBehaviorSanitizer; the end-to-end suite
# against the Windows build of ebrilo-sim under Wine; and both packages.
# Each stage ends with the time it took.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native windows decoder package

# Runs one stage and prints its time; a failing stage still ends the script.
stage() {
  local title=$1 started=$SECONDS
  shift
  echo "== $title"
  "$@"
  echo "== $title: $((SECONDS - started)) s"
}

native() {
  cmake --preset default >/dev/null
  cmake --build --preset default
  ctest --preset default
}

sanitize() {
  cmake --preset sanitize >/dev/null
  cmake --build --preset sanitize
  ctest --preset sanitize
}

total_started=$SECONDS
stage "Native build and tests" native
stage "Sanitizer build and tests" sanitize
stage "Windows build, end-to-end tests under Wine" bash scripts/test-windows.sh
stage "Packages: the .deb through lintian, the Windows zip's contents" bash scripts/test-packages.sh
echo "== All stages: $((SECONDS - total_started)) s"
