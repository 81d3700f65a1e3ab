#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test: the native suites; the same suites built with
# AddressSanitizer and UndefinedBehaviorSanitizer; the end-to-end suite
# against the Windows build of ebrilo-sim under Wine; and both packages.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native windows decoder package

echo "== Native build and tests"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

echo "== Sanitizer build and tests"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize

echo "== Windows build, end-to-end tests under Wine"
bash scripts/test-windows.sh

echo "== Packages: the .deb through lintian, the Windows zip's contents"
bash scripts/test-packages.sh
