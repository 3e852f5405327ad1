#!/usr/bin/env bash
# ctest's verdicts on tests added as the test programs' are (tests/support/test_list.cmake), here
# three planted ones of test_platform: a test that fails after printing gtest's skip marker is
# failed, one that skips is skipped, one that passes passed, and the run fails.
#   ctest_verdicts_test.sh <ctest> <folder of the planted tests' list script>
set -uo pipefail
fail() { echo "FAIL: $*"; exit 1; }
out=$(VYR_PLANTED_FAILURES=1 "$1" --test-dir "$2" 2>&1)
status=$?
echo "$out"
verdict() { grep -Eq "Test +#[0-9]+: planted\.$1 \.+ *(\*\*\*)?$2 " <<<"$out" || fail "$1 is not $2"; }
verdict ProcessPerTestSelf.DISABLED_StartsFreshAndLeavesStateA Passed
verdict ProcessPerTestSelf.DISABLED_Skips Skipped
verdict PlantedOutcomeSelf.DISABLED_FailsAfterPrintingTheSkipMarker Failed
((status != 0)) || fail "ctest passed a run with a failed test"
echo PASS
