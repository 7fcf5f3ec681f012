#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds a Release tree and runs the
# benchmark; its arguments go to divadedadi_bench (--sizes 100,1000,5000,
# --work FOLDER, --app PATH, --odbc-only). The figures need a real disk: the
# work folder is a temporary folder inside the build folder unless --work says
# otherwise. The ODBC figures start their own PostgreSQL server.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build-bench}
JOBS=${JOBS:-$(nproc)}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DDIVADEDADI_BUILD_BENCH=ON >/dev/null
cmake --build "$BUILD_DIR" -j"$JOBS" --target divadedadi zuldb divadedadi_bench
exec "$BUILD_DIR/bench/divadedadi_bench" "$@"
