#!/usr/bin/env bash
# Tests of Velkorix.ax: the built modules' exports, imports and version
# record (read natively), then, under wine, registration with regsvr32, the
# registry and the filter mapper, the COM entry points, and real filter
# graphs whose PCM must equal what `velkorix decode` writes on Linux.
#
#   tests/win/run.sh
#
# Needs the native build (build/native: the velkorix tool and the helpers in
# build/native/test-tools) and the presets win32 and win64 built. Uses a
# private wine prefix under build/wine-tests, made afresh on every run.
# Prints one PASS, FAIL or SKIP line per check; exits nonzero on any FAIL.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VELKORIX_BUILD_DIR:-$root/build}
native=$build/native
tools=$native/test-tools
work=$build/wine-tests
prefix=$work/prefix

passed=0
failed=0
skipped=0
pass() { echo "PASS $*"; passed=$((passed + 1)); }
fail() { echo "FAIL $*"; failed=$((failed + 1)); }
skip() { echo "SKIP $*"; skipped=$((skipped + 1)); }
# pass or fail by the status of the last command
check() {
  local status=$1
  shift
  if [[ $status -eq 0 ]]; then pass "$@"; else fail "$@"; fi
}

# ---- what the module must look like ----

exports=(DllMain DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer
         QX_VOICE_GetVersion QX_VOICE_EncReset QX_VOICE_DecReset QX_VOICE_EncodeFrame
         QX_VOICE_DecodeFrame QX_VOICE_TransCodeReset QX_VOICE_TransCodeFrame)
# DLLs every Windows installation has; nothing of the compiler's run-time.
system_dlls="kernel32.dll msvcrt.dll ole32.dll oleaut32.dll advapi32.dll user32.dll gdi32.dll
             comctl32.dll shell32.dll shlwapi.dll version.dll ntdll.dll"

objdump_for() {
  case $1 in
    32) command -v i686-w64-mingw32-objdump ;;
    64) command -v x86_64-w64-mingw32-objdump ;;
  esac
}

static_checks() {
  local bits=$1 module=$build/win$1/Velkorix.ax objdump
  objdump=$(objdump_for "$bits")
  if [[ ! -f $module ]]; then
    fail "win$bits: $module is built"
    return
  fi
  local table
  table=$("$objdump" -p "$module")

  local actual expected
  actual=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$table" |
    sed -nE 's/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+//p' | sort)
  expected=$(printf '%s\n' "${exports[@]}" | sort)
  if [[ "$actual" == "$expected" ]]; then
    pass "win$bits: exports are exactly ${exports[*]}"
  else
    fail "win$bits: exports are exactly ${exports[*]} (found: $(tr '\n' ' ' <<<"$actual"))"
  fi

  local imports bad=""
  imports=$(grep -i "DLL Name:" <<<"$table" | awk '{print tolower($3)}' | sort -u)
  for dll in $imports; do
    grep -qw -- "$dll" <<<"$system_dlls" || bad+="$dll "
  done
  if [[ -n $imports && -z $bad ]]; then
    pass "win$bits: imports only system DLLs ($(echo $imports))"
  else
    fail "win$bits: imports only system DLLs (not system: ${bad:-none found})"
  fi

  local version
  version=$("$tools/pe_version" "$module" 2>&1)
  if [[ "$version" == "$(cat "$root/tests/win/expected-version.txt")" ]]; then
    pass "win$bits: version record (1, 0, 0, 13571; Velkorix; Velkorix.ax; 0804/1200)"
  else
    fail "win$bits: version record differs:"
    diff <(echo "$version") "$root/tests/win/expected-version.txt" | sed 's/^/    /'
  fi
}

echo "== Velkorix.ax: exports, imports, version record"
for bits in 32 64; do static_checks $bits; done

# ---- the streams and their reference PCM from the native tool ----

if [[ ! -x $native/velkorix || ! -x $tools/make_stream ]]; then
  fail "native build with the velkorix tool and test helpers in $native"
  echo "wine tests: $passed passed, $failed failed, $skipped skipped"
  exit 1
fi
rm -rf "$work"
mkdir -p "$work/streams" "$work/logs"

stream_names=()
while read -r name how rest; do
  [[ -z ${name:-} || $name == \#* ]] && continue
  out=$work/streams/$name.vks
  rest=${rest//@SRC@/$root}
  rest=${rest//@OUT@/$out}
  rest=${rest//@STREAMS@/$work/streams}
  case $how in
    file) cp "$root/$rest" "$out" ;;
    tool) read -r tool args <<<"$rest"; "$tools/$tool" $args ;;
    cli) "$native/velkorix" $rest 2>"$work/logs/$name.make.log" ;;
    *) false ;;
  esac
  if [[ $? -ne 0 || ! -s $out ]]; then
    fail "stream $name can be made ($how $rest)"
    continue
  fi
  if "$native/velkorix" decode "$out" -o "$work/streams/$name.wav" 2>"$work/logs/$name.native.log" &&
     "$tools/wav_data" "$work/streams/$name.wav" "$work/streams/$name.pcm"; then
    stream_names+=("$name")
  else
    fail "velkorix decode $name (see $work/logs/$name.native.log)"
  fi
done <"$root/tests/win/streams.list"

# ---- wine ----

wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wine32=$(command -v wine || true)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
if [[ ! -x $wine64 ]]; then
  skip "wine tests: wine64 is not installed (scripts/install-deps.sh --all installs it)"
  echo "wine tests: $passed passed, $failed failed, $skipped skipped"
  [[ $failed -eq 0 ]]
  exit
fi

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
cleanup() { timeout 30 "$wineserver" -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

echo "== wine prefix $prefix"
if timeout 180 "$wine64" wineboot -i >"$work/logs/wineboot.log" 2>&1 && [[ -d $prefix/drive_c/windows ]]; then
  pass "wine prefix created"
else
  fail "wine prefix created (see $work/logs/wineboot.log)"
  echo "wine tests: $passed passed, $failed failed, $skipped skipped"
  exit 1
fi

# Runs a program under wine: LOADER LOG ARGS...; its output goes to LOG, and
# the lines of failed checks are shown.
run() {
  local loader=$1 log=$2
  shift 2
  timeout 120 "$loader" "$@" >"$log" 2>&1
  local status=$?
  grep -a "failed" "$log" | grep -av "^ALSA" | sed 's/^/    /' | head -20
  return $status
}

windows_path() { echo "Z:${1//\//\\}"; }

wine_tests() {
  local bits=$1 loader=$2 regsvr32=$3
  local bin=$build/win$bits logs=$work/logs/win$bits
  mkdir -p "$logs" "$prefix/drive_c/velkorix/$bits"
  cp "$bin/Velkorix.ax" "$prefix/drive_c/velkorix/$bits/"
  local module="C:\\velkorix\\$bits\\Velkorix.ax"

  run "$loader" "$logs/regsvr32.log" "$regsvr32" /s "$module"
  check $? "win$bits: regsvr32 registers $module"
  run "$loader" "$logs/registry1.log" "$bin/registry_test.exe" registered "$module"
  check $? "win$bits: class keys (names, module path, ThreadingModel=Both) and the mapper's entry (merit 0x006000C8, two audio pins)"
  run "$loader" "$logs/regsvr32-again.log" "$regsvr32" /s "$module" &&
    run "$loader" "$logs/registry2.log" "$bin/registry_test.exe" registered "$module"
  check $? "win$bits: registering twice leaves one registration"

  run "$loader" "$logs/com.log" "$bin/com_test.exe" "$module"
  check $? "win$bits: DllGetClassObject, CreateInstance, LockServer and DllCanUnloadNow, through COM and GetProcAddress"
  run "$loader" "$logs/version.log" "$bin/version_test.exe" "$module"
  check $? "win$bits: GetFileVersionInfo/VerQueryValue read the version record"
  run "$loader" "$logs/scenarios.log" "$bin/graph_test.exe" scenarios
  check $? "win$bits: transform base in a graph: types, allocators, times and flags, stream samples, type changes, flush, segments, end of stream"

  for name in "${stream_names[@]}"; do
    local out=$work/streams/$name.win$bits.pcm
    run "$loader" "$logs/graph-$name.log" "$bin/graph_test.exe" stream \
      "$(windows_path "$work/streams/$name.vks")" "$(windows_path "$out")"
    local status=$?
    if [[ $status -eq 0 ]] && cmp -s "$out" "$work/streams/$name.pcm"; then
      pass "win$bits: graph decodes $name byte-identical to velkorix decode ($(stat -c %s "$out") bytes)"
    elif [[ $status -eq 0 ]]; then
      fail "win$bits: graph decodes $name byte-identical to velkorix decode ($(cmp "$out" "$work/streams/$name.pcm" 2>&1))"
    else
      fail "win$bits: graph decodes $name (see $logs/graph-$name.log)"
    fi
  done

  "$tools/voice_vectors" "$work/voice-native.bin"
  run "$loader" "$logs/voice.log" "$bin/voice_test.exe" "$module" "$(windows_path "$work/voice-win$bits.bin")"
  local status=$?
  if [[ $status -eq 0 ]] && cmp -s "$work/voice-native.bin" "$work/voice-win$bits.bin"; then
    pass "win$bits: QX_VOICE_ functions through GetProcAddress: results, frames and samples of every codec type as the native library's ($(stat -c %s "$work/voice-native.bin") bytes)"
  else
    fail "win$bits: QX_VOICE_ functions through GetProcAddress: results, frames and samples of every codec type as the native library's"
  fi

  # The property page needs a display: a private X server for this program
  # alone, with the wine session restarted around it so that no window of it
  # outlives that server.
  if command -v xvfb-run >/dev/null; then
    local shot=$work/level_page-win$bits.png
    timeout 30 "$wineserver" -k >/dev/null 2>&1; timeout 30 "$wineserver" -w >/dev/null 2>&1
    run xvfb-run "$logs/level-page.log" -a "$loader" "$bin/level_page_test.exe" "$module" "$(windows_path "$shot")"
    check $? "win$bits: level page through COM, in its own frame and in OleCreatePropertyFrame (trackbar, keyboard, Reset, Apply, write-back), level step in a running graph; screenshots $shot and ${shot%.png}-frame.png"
    timeout 30 "$wineserver" -k >/dev/null 2>&1; timeout 30 "$wineserver" -w >/dev/null 2>&1
  else
    skip "win$bits: level page in a real window: xvfb-run is not installed"
  fi

  run "$loader" "$logs/unregister1.log" "$regsvr32" /u /s "$module" &&
    run "$loader" "$logs/unregister2.log" "$regsvr32" /u /s "$module"
  check $? "win$bits: regsvr32 /u succeeds twice"
  run "$loader" "$logs/unregistered.log" "$bin/registry_test.exe" unregistered
  check $? "win$bits: unregistering removes every key and the mapper's entry"
}

echo "== 64-bit module under wine64"
wine_tests 64 "$wine64" regsvr32

echo "== 32-bit module under wine (WoW64 side of the prefix)"
# 32-bit programs need wine32 and a kernel that runs 32-bit code.
probe=$work/logs/probe32.log
probe_status=1
if [[ -n $wine32 ]]; then
  timeout 60 "$wine32" "$build/win32/com_test.exe" >"$probe" 2>&1
  probe_status=$?
fi
# A program that starts prints its usage and ends with status 2.
if [[ $probe_status -eq 2 ]] && grep -q "usage:" "$probe"; then
  wine_tests 32 "$wine32" 'C:\windows\syswow64\regsvr32.exe'
else
  reason="wine cannot start 32-bit programs here"
  grep -qi "exec format error" "$probe" 2>/dev/null && reason="this kernel does not run 32-bit programs (ia32 emulation off)"
  [[ -z $wine32 ]] && reason="wine32 is not installed"
  skip "win32 tests under wine: $reason"
fi

echo "wine tests: $passed passed, $failed failed, $skipped skipped"
[[ $failed -eq 0 ]]
