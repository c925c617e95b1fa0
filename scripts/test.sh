#!/usr/bin/env bash
# Sets up the machine, builds every target and runs every test: native unit
# tests (ASan/UBSan), Windows unit tests under Wine, short fuzz runs, and the
# end-to-end tests of the real executables. Ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${TVL_JOBS:-2}
FUZZ_SECONDS=${TVL_FUZZ_SECONDS:-15}

bash scripts/setup.sh || exit 1

# The signed launchers and the earlier commit's launchers (built by the
# end-to-end tests) share most objects with the plain builds. A cache of the
# clone's own keeps every run honest about a fresh machine.
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
export CCACHE_DIR=${CCACHE_DIR:-$ROOT/build/ccache}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$ROOT")}

step() { echo; echo "=== $* === ($((SECONDS / 60))m$((SECONDS % 60))s in)"; }
fail=0
passed=0
failed=0

step "build: native (ASan+UBSan)"
cmake --preset native >/dev/null && cmake --build build/native -j"$JOBS" || exit 1
step "build: native-release"
cmake --preset native-release >/dev/null && cmake --build build/native-release -j"$JOBS" || exit 1
step "build: win64 (mingw)"
cmake --preset win64 >/dev/null && cmake --build build/win64 -j"$JOBS" || exit 1
step "build: both launchers with a throw-away release key"
bash scripts/build_signed.sh || exit 1
if [ -d tests/fuzz ]; then
  step "build: fuzz (clang, libFuzzer)"
  cmake --preset fuzz >/dev/null && cmake --build build/fuzz -j"$JOBS" || exit 1
fi

step "layer check"
if python3 scripts/check_layers.py; then passed=$((passed + 1)); else failed=$((failed + 1)); fail=1; fi

miss() {  # a stage that ran nothing or less than it found counts as one failure
  echo "FAILED: $*"
  failed=$((failed + 1)); fail=1
}

count_ctest() {  # adds the counts of ctest's log $1; the run in $2 must have run every test it lists
  local line total bad listed
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -1)
  if [ -z "$line" ]; then
    miss "$2: ctest printed no summary"
    return
  fi
  bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
  total=$(echo "$line" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
  passed=$((passed + total - bad)); failed=$((failed + bad)); last_bad=$bad
  listed=$(cd "$2" && ctest -N 2>/dev/null | sed -nE 's/^Total Tests: ([0-9]+)$/\1/p')
  [ "$total" -gt 0 ] && [ "$total" = "$listed" ] || miss "$2: ctest ran $total of ${listed:-?} tests"
}

step "unit tests: native"
(cd build/native && ctest --output-on-failure --no-tests=error -j"$JOBS") 2>&1 | tee build/native/ctest.log
[ "${PIPESTATUS[0]}" -eq 0 ] || fail=1
count_ctest build/native/ctest.log build/native

step "unit tests: win64 under Wine"
export WINEPREFIX
WINEPREFIX=$(bash scripts/wine_prefix.sh)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
/usr/lib/wine/wineserver -p
/usr/lib/wine/wine64 wineboot >/dev/null 2>&1
rm -f build/win64/ctest-junit.xml
(cd build/win64 && ctest --output-on-failure --no-tests=error --output-junit ctest-junit.xml) 2>&1 |
  tee build/win64/ctest.log
ctest_rc=${PIPESTATUS[0]}
last_bad=0
count_ctest build/win64/ctest.log build/win64
# A case that failed before googletest printed its first line never ran:
# Wine did not start its program (tests/unit/wine_run.sh adds Wine's exit
# code). Only such a case runs once more; a test that ran and failed never.
unstarted=0
recovered=0
while read -r name; do
  [ -n "$name" ] || continue
  unstarted=$((unstarted + 1))
  echo "Wine did not start the program of $name (no test ran); running it once more"
  (cd build/win64 && ctest -R "^${name//./\\.}\$" --output-on-failure --no-tests=error) 2>&1 |
    tee -a build/win64/ctest-rerun.log
  if [ "${PIPESTATUS[0]}" -eq 0 ]; then
    recovered=$((recovered + 1)); passed=$((passed + 1)); failed=$((failed - 1))
  fi
done < <(/usr/bin/python3 - <<'PY'
import xml.etree.ElementTree as ET
try:
    r = ET.parse("build/win64/ctest-junit.xml").getroot()
except (OSError, ET.ParseError):
    raise SystemExit
for c in r.iter("testcase"):
    if c.get("status") == "fail" and "Google Test filter = " not in (c.findtext("system-out") or ""):
        print(c.get("name"))
PY
)
if [ "$ctest_rc" -ne 0 ] && ! { [ "$recovered" -gt 0 ] && [ "$recovered" -eq "$last_bad" ]; }; then fail=1; fi
[ "$unstarted" -eq 0 ] || echo "win64: Wine failed to start $unstarted test program(s); $recovered passed when run once more"
/usr/lib/wine/wineserver -k
unset WINEPREFIX

if [ -d tests/fuzz ]; then
  step "fuzz: ${FUZZ_SECONDS}s per target"
  # Undefined behaviour ends a run like a crash; a report in the log fails it
  # even when the run itself ended well.
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  reports='runtime error:|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|SUMMARY: [A-Za-z]*Sanitizer'
  targets=0
  names=()
  # $JOBS targets at a time, each for its own seconds; judged in order after.
  for src in tests/fuzz/*_fuzz.cc; do
    [ -e "$src" ] || continue
    targets=$((targets + 1))
    name=$(basename "$src" _fuzz.cc)
    f=build/fuzz/bin/${name}_fuzz
    if [ ! -x "$f" ]; then
      miss "fuzz $name: $f was not built"
      continue
    fi
    names+=("$name")
    work=build/fuzz/corpus-$name
    mkdir -p "$work"
    seeds=tests/fuzz/corpus/$name
    [ -d "$seeds" ] || seeds=""
    rm -f "build/fuzz/$name.rc"
    while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do wait -n; done
    ( "$f" -max_total_time="$FUZZ_SECONDS" -print_final_stats=0 -artifact_prefix="build/fuzz/$name-" \
        "$work" $seeds >"build/fuzz/$name.log" 2>&1
      echo $? >"build/fuzz/$name.rc" ) &
  done
  wait
  for name in "${names[@]}"; do
    log=build/fuzz/$name.log
    rc=$(cat "build/fuzz/$name.rc" 2>/dev/null || echo 1)
    if [ "$rc" -eq 0 ] && ! grep -qE "$reports" "$log" && grep -qE '^Done [0-9]+ runs' "$log"; then
      echo "fuzz $name: ok ($(grep -E '^Done [0-9]+ runs' "$log" | tail -1))"
      passed=$((passed + 1))
    else
      echo "fuzz $name: FAILED (exit $rc)"; tail -40 "$log"
      failed=$((failed + 1)); fail=1
    fi
  done
  [ "$targets" -gt 0 ] || miss "fuzz: tests/fuzz holds no *_fuzz.cc target"
  unset UBSAN_OPTIONS
fi

step "end-to-end tests (pytest)"
# What this selection holds, counted by pytest itself whatever "$@" asks of
# its output; -1 when collecting failed.
collected=$(/usr/bin/python3 - "$@" 3>&1 >/dev/null 2>&1 <<'PY'
import os, sys
import pytest
class Count:
    n = -1
    def pytest_collection_finish(self, session):
        Count.n = len(session.items)
rc = pytest.main(["--collect-only", "-p", "no:cacheprovider", "tests/e2e", *sys.argv[1:]], plugins=[Count()])
os.write(3, b"%d\n" % (Count.n if rc in (0, 5) else -1))
PY
)
rm -f build/e2e.xml  # a crashed run must not report the previous run's counts
# Most of a case is spent waiting on Wine or a slowed server: $TVL_E2E_JOBS
# workers (default $JOBS; 0 runs them in this process), each taking whole
# files, keep both cores busy.
E2E_JOBS=${TVL_E2E_JOBS:-$JOBS}
parallel=()
if [ "$E2E_JOBS" -gt 0 ] && /usr/bin/python3 -c 'import xdist' 2>/dev/null; then
  parallel=(-n "$E2E_JOBS" --dist loadfile)
fi
/usr/bin/python3 -m pytest -q -p no:cacheprovider tests/e2e --junitxml=build/e2e.xml "${parallel[@]}" "$@"
[ $? -eq 0 ] || fail=1
ran=""
if [ -f build/e2e.xml ]; then
  read -r ran t f e s < <(/usr/bin/python3 - <<'PY'
import xml.etree.ElementTree as ET
try:
    r = ET.parse("build/e2e.xml").getroot()
except ET.ParseError:
    raise SystemExit
suites = [r] if r.tag == "testsuite" else r.findall("testsuite")
def total(key):
    return sum(int(s.get(key, 0)) for s in suites)
cases = {(c.get("classname"), c.get("name")) for s in suites for c in s.iter("testcase")}
print(len(cases), total("tests"), total("failures"), total("errors"), total("skipped"))
PY
)
  # Skipped cases by name and reason, one a line.
  /usr/bin/python3 - >build/e2e-skipped.txt <<'PY'
import xml.etree.ElementTree as ET
try:
    r = ET.parse("build/e2e.xml").getroot()
except ET.ParseError:
    raise SystemExit
for c in r.iter("testcase"):
    for s in c.findall("skipped"):
        name = c.get("classname", "").replace(".", "/") + ".py::" + c.get("name", "")
        print(name, "-", (s.get("message") or "").replace("\n", " "))
PY
fi
[ "${collected:--1}" -ge 0 ] || miss "e2e: pytest could not collect the tests"
if [ -z "$ran" ]; then
  miss "e2e: pytest left no readable report in build/e2e.xml"
else
  passed=$((passed + t - f - e - s)); failed=$((failed + f + e))
  [ "$ran" -gt 0 ] && [ "$ran" -ge "${collected:--1}" ] || miss "e2e: ran $ran of ${collected:-?} tests"
  # A skipped case did not run: it fails the command unless TVL_EXPECTED_SKIPS
  # (names separated by spaces, each matching a case's name or its start)
  # declares it.
  expected_skips=0
  while read -r name rest; do
    [ -n "$name" ] || continue
    declared=""
    for want in ${TVL_EXPECTED_SKIPS:-}; do
      case "$name" in "$want"*) declared=1 ;; esac
    done
    if [ -n "$declared" ]; then
      echo "skipped (declared expected): $name $rest"
      expected_skips=$((expected_skips + 1))
    else
      miss "e2e: skipped: $name $rest"
    fi
  done < <(cat build/e2e-skipped.txt 2>/dev/null)
  named=$(grep -c . build/e2e-skipped.txt 2>/dev/null)
  [ "$s" -eq "${named:-0}" ] || miss "e2e: $s skipped, $named of them named in build/e2e.xml"
fi

echo
echo "time: $((SECONDS / 60))m$((SECONDS % 60))s in all"
skips=""
[ "${expected_skips:-0}" -eq 0 ] || skips=", $expected_skips skipped as declared"
[ "${unstarted:-0}" -eq 0 ] || skips="$skips, $unstarted Windows test program(s) not started by Wine and run once more"
echo "total: $passed passed, $failed failed$skips"
exit $fail
