#!/usr/bin/env bash
# Installs what is needed, builds Vexil and runs it on the example page.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build
cmake --build build -j2

echo
echo "\$ build/vexil -i examples/hello.htm"
build/vexil -i examples/hello.htm
