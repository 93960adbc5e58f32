#!/usr/bin/env bash
# Installs what is missing (the test tools as well), then builds and runs every test: the release
# build's tests, the Debian package made from the release build (checked as a packager's tools
# check it, lintian included, then installed into a throwaway root, used and purged again), the
# same tests under AddressSanitizer + UndefinedBehaviorSanitizer, and each libFuzzer target for a
# bounded time (FUZZ_SECONDS, default 20).
set -uo pipefail
cd "$(dirname "$0")/.."
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# The services' state: the units enabled, as install-deps.sh sees them, and, where systemd runs,
# whether spacenavd does (it would own the SpaceMouse).
services() {
  ./scripts/install-deps.sh --enabled
  [ ! -d /run/systemd/system ] || echo "spacenavd: $(systemctl is-active spacenavd)"
}
services_before=$(services)
./scripts/install-deps.sh --tests || exit 1

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-20}
passed=0
failed=0
group=set-up

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
    echo "$group: $name passed"
    passed=$((passed + 1))
  else
    echo "$group: $name FAILED"
    tail -n 40 "$log"
    failed=$((failed + 1))
  fi
  rm -f "$log"
}

# brings_none PATTERN RECOMMENDS WHAT...: whether apt, installing WHAT (package names or ./*.deb)
# with or without recommendations (true, false) on a machine with no package installed (an empty
# dpkg status), would install no package whose whole name matches PATTERN.
brings_none() {
  local pattern=$1 recommends=$2 status list found
  shift 2
  status=$(mktemp)
  list=$(apt-get -s -o Dir::State::status="$status" -o APT::Install-Recommends="$recommends" \
    install "$@" | awk '/^Inst / { print $2 }')
  rm -f "$status"
  [ -n "$list" ] || return 1
  found=$(grep -xE "$pattern" <<<"$list")
  echo "apt would install $(wc -l <<<"$list") packages${found:+, among them: $found}"
  [ -z "$found" ]
}
# What a machine without a desktop must not get from a package that only needs a tray.
desktop='gnome-shell.*|gdm3|mutter.*|gnome-session.*|plasma-.*|kwin-.*|xfce4-.*|mate-panel|lxqt-.*|cinnamon.*|sddm|lightdm.*'

echo "== set-up"
# The checks below ask apt what it would install: it needs its package lists.
if ! ls /var/lib/apt/lists/*_Packages* >/dev/null 2>&1; then
  $sudo apt-get update -qq
fi
# The run command installs only what building and running the programs need: nothing of the test
# tools or a desktop, not even through their dependencies (installed without recommendations).
mapfile -t run_packages < <(./scripts/install-deps.sh --list run)
check "the run command installs no test tools" brings_none \
  "$(./scripts/install-deps.sh --list tests | paste -sd '|')|spacenavd|$desktop" false \
  "${run_packages[@]}"
# What the tests installed left the services as they were: no daemon enabled or started by it.
check "the services are as they were" diff <(echo "$services_before") <(services)
# The set-up scripts, ended every way they can end, leave the machine as it was.
check "the set-up scripts leave the machine as it was" $sudo ./scripts/tests/set-up-scripts.sh

# The Debian package of the release build, as a packager's tools see it.
check_package() {
  echo "== package"
  group=package
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
  # Installing the package on a machine without a desktop (apt's default: with recommendations)
  # brings no desktop shell.
  check "no desktop comes with it" brings_none "$desktop" true "./$deb"
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
