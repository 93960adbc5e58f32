#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the release build's tests, the Debian
# package made from the release build (checked as a packager's tools check it, lintian included,
# then installed into a throwaway root, used and purged again), the same tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, and each libFuzzer target for a bounded time
# (FUZZ_SECONDS, default 20).
set -uo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh || exit 1

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-20}
passed=0
failed=0

build() {
  cmake --preset "$1" >/dev/null || return 1
  cmake --build "build/$1" -j"$jobs" ${2:+--target "$2"} || return 1
}

run_ctest() {
  local log
  log=$(mktemp)
  ctest --test-dir "build/$1" -j"$jobs" --output-on-failure 2>&1 | tee "$log"
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  elif ! grep -q 'No tests were found' "$log"; then
    failed=$((failed + 1))
  fi
  rm -f "$log"
}

# check NAME COMMAND...: one counted check; its output shows only when it fails.
check() {
  local name=$1 log
  shift
  log=$(mktemp)
  if "$@" >"$log" 2>&1; then
    echo "package: $name passed"
    passed=$((passed + 1))
  else
    echo "package: $name FAILED"
    tail -n 40 "$log"
    failed=$((failed + 1))
  fi
  rm -f "$log"
}

# The Debian package of the release build, as a packager's tools see it.
check_package() {
  echo "== package"
  local deb
  rm -f build/release/vantor_*.deb
  if ! (cd build/release && cpack -G DEB >cpack.log 2>&1); then
    echo "package: cpack FAILED"
    tail -n 40 build/release/cpack.log
    failed=$((failed + 1))
    return
  fi
  deb=$(ls build/release/vantor_*.deb)
  local root=build/release/package-root
  rm -rf "$root"
  dpkg-deb -x "$deb" "$root"
  check "desktop entry" desktop-file-validate "$root/usr/share/applications/me.orvella.Vantor.desktop"
  check "metainfo" appstreamcli validate --no-net "$root/usr/share/metainfo/me.orvella.Vantor.metainfo.xml"
  check "file list" ./packaging/check-contents.sh "$deb"
  check "lintian" lintian --fail-on error,warning "$deb"
  check "hardening" ./packaging/check-hardening.sh "$deb"
  check "install, use and purge" ./packaging/check-install.sh "$deb"
}

for preset in release asan-ubsan; do
  echo "== $preset: build"
  if build "$preset"; then
    echo "== $preset: tests"
    run_ctest "$preset"
    [ "$preset" = release ] && check_package
  else
    echo "== $preset: build FAILED"
    failed=$((failed + 1))
  fi
done

echo "== fuzz: build"
if build fuzz fuzzers; then
  if [ -s build/fuzz/fuzzers.txt ]; then
    pids=()
    names=()
    while read -r target; do
      [ -n "$target" ] || continue
      name=$(basename "$target")
      corpus="build/fuzz/corpus/$name"
      mkdir -p "$corpus"
      seeds=$(find . -path ./build -prune -o -type d -path "*/fuzz/corpus/$name" -print | head -n 1)
      "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=0 \
        "$corpus" ${seeds:+"$seeds"} >"build/fuzz/$name.log" 2>&1 &
      pids+=($!)
      names+=("$name")
    done <build/fuzz/fuzzers.txt
    for i in "${!pids[@]}"; do
      if wait "${pids[$i]}"; then
        echo "fuzz ${names[$i]}: passed ($(ls "build/fuzz/corpus/${names[$i]}" | wc -l) corpus files)"
        passed=$((passed + 1))
      else
        echo "fuzz ${names[$i]}: FAILED"
        tail -n 40 "build/fuzz/${names[$i]}.log"
        failed=$((failed + 1))
      fi
    done
  else
    echo "== fuzz: no targets"
  fi
else
  echo "== fuzz: build FAILED"
  failed=$((failed + 1))
fi

echo
echo "all: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
