#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) in build-fuzz and runs each for FUZZ_SECONDS (default 60) over
# its seed corpus in fuzz/corpus/<target>/. New inputs go to a scratch corpus
# under build-fuzz; crashes are written to build-fuzz/crashes/<target>/.
# The import target is seeded with the Access-format files of ../shared/corpus/access
# (never copied into the repository) and takes inputs up to 256 KB; the help
# and metafile targets with the help files of ../shared/corpus/hlp.
# Usage: ./fuzz.sh [ini|cmdline|database|relink|import|help|helpmetafile]...
set -euo pipefail
cd "$(dirname "$0")"
FUZZ_SECONDS=${FUZZ_SECONDS:-60}
BUILD_DIR=${BUILD_DIR:-build-fuzz}
JOBS=${JOBS:-2}
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(ini cmdline database relink import help helpmetafile)

./scripts/install-deps.sh
need=()
command -v clang++ >/dev/null || need+=(clang)
# The fuzzer runtime of Debian's clang 14.
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

sanitizers="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="$sanitizers -fsanitize=fuzzer-no-link" \
    -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" \
    -DDIVADEDADI_BUILD_TESTS=OFF -DDIVADEDADI_BUILD_BENCH=OFF -DDIVADEDADI_BUILD_FUZZ=ON >/dev/null
cmake --build "$BUILD_DIR" -j"$JOBS" --target "${targets[@]/#/fuzz_}"

# Qt's containers are not instrumented; their annotations would only mislead.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_container_overflow=0:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
# Leaks of libraries that keep caches to the end of the process (fontconfig) are not findings.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/fuzz/lsan.supp}
status=0
for target in "${targets[@]}"; do
    work="$BUILD_DIR/corpus/$target"
    crashes="$BUILD_DIR/crashes/$target"
    mkdir -p "$work" "$crashes"
    seeds=()
    [ -d "fuzz/corpus/$target" ] && seeds+=("fuzz/corpus/$target")
    max_len=65536
    timeout=10
    if [ "$target" = import ]; then
        [ -d ../shared/corpus/access ] && seeds+=(../shared/corpus/access)
        max_len=262144
        # Two reading processes per input, each stopped after 5 s of CPU time.
        timeout=30
    fi
    if [ "$target" = help ] || [ "$target" = helpmetafile ]; then
        [ -d ../shared/corpus/hlp ] && seeds+=(../shared/corpus/hlp)
        max_len=131072
    fi
    echo "== fuzz_$target for ${FUZZ_SECONDS} s"
    if ! "$BUILD_DIR/fuzz/fuzz_$target" -max_total_time="$FUZZ_SECONDS" -timeout="$timeout" -rss_limit_mb=2048 \
        -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$crashes/" "$work" "${seeds[@]}"; then
        echo "fuzz_$target found a fault; the input is in $crashes" >&2
        status=1
    fi
done
exit $status
