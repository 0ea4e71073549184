#!/usr/bin/env bash
# Installs the build folder $1 into a scratch folder twice: the programs and
# the example inputs land flat in it, and the second install keeps the
# operator's own inputs. $2 is 1 when the window program is built.
set -euo pipefail
build="$1"
with_window="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
dir="$work/fennick"

cmake --install "$build" --prefix "$dir" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }
expected="fennick-cli fennick_config.txt policy_list.txt"
[[ "$with_window" == 1 ]] && expected="fennick libfennick_window.so $expected"
actual="$(cd "$dir" && ls | sort | tr '\n' ' ')"
[[ "$actual" == "$(tr ' ' '\n' <<<"$expected" | sort | tr '\n' ' ')" ]] ||
    fail "installed: $actual; expected: $expected"
grep -q '^RL28=' "$dir/fennick_config.txt" || fail "the example configuration names no level 28"

printf 'RL00=mine\r\n' >"$dir/fennick_config.txt"
printf 'MyPolicy\r\n' >"$dir/policy_list.txt"
cmake --install "$build" --prefix "$dir" >"$work/install.log" || { cat "$work/install.log"; fail "reinstall"; }
[[ "$(cat "$dir/fennick_config.txt")" == $'RL00=mine\r' ]] || fail "reinstall replaced the configuration"
[[ "$(cat "$dir/policy_list.txt")" == $'MyPolicy\r' ]] || fail "reinstall replaced the policy list"
grep -q 'Kept: .*policy_list.txt' "$work/install.log" || fail "reinstall did not say what it kept"

# The installed program runs in its folder.
printf '1,x,,0,MyPolicy,Daily,c,,100,0,100,,,,1,1,,,,1,1,,0,,,,,0\r\n' >"$dir/bpdbjobs.txt"
summary="$(cd "$dir" && ./fennick-cli --end '2026-12-05 02:15:00')" || fail "the installed fennick-cli failed"
[[ "$summary" == "$dir/report_05-12-26.html: 0 jobs, 0 failed, 1 daily policy not found" ]] ||
    fail "summary: $summary"
if [[ "$with_window" == 1 ]]; then
    # The window's library is found beside the program from any directory,
    # and the unattended run needs none of it.
    # Whole outputs first: grep -q would end ldd early, and pipefail count that.
    needed="$(ldd "$dir/fennick")"
    [[ "$needed" != *libQt* ]] || fail "fennick links Qt"
    needed="$(ldd "$dir/libfennick_window.so")"
    [[ "$needed" == *libQt6Widgets* ]] || fail "the window's library lacks Qt"
    errors="$(cd / && env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
        timeout 5 "$dir/fennick" 2>&1 >/dev/null)" || true
    [[ "$errors" != *"cannot be loaded"* ]] || fail "the installed window: $errors"
fi
echo "install test passed"
