#!/usr/bin/env bash
# Tests of Velkorix.ax: the built modules' exports, imports and version
# record (read natively); every test stream decoded by an x86-64-v3 build
# (AVX2, FMA) as by the plain build; then, under wine, for the 64-bit and the
# 32-bit module alike: registration with regsvr32, the registry and the filter
# mapper, the COM entry points, the version record, the transform base in a
# graph, real filter graphs whose PCM must equal what `velkorix decode`
# writes on Linux, the QX_VOICE_ functions, the level page in a window, and
# unregistration; and for VelkorixSource.ax (the stream source): its exports
# and imports, registration with the .vks file type, graphs built from .vks
# files whose PCM must equal velkorix decode's, seeking, damaged and
# unreadable files, and unregistration.
#
#   tests/win/run.sh
#
# Needs the native build (build/native: the velkorix tool and the helpers in
# build/native/test-tools), the presets win32 and win64 built (Velkorix.ax and
# wine_checks.exe) and the preset x86-64-v3 built (its velkorix tool). Uses a
# private wine prefix under build/wine-tests, made afresh on every run, for
# both bitnesses. Prints one PASS, FAIL or SKIP line per check, with the
# seconds a wine check took; exits nonzero on any FAIL. A SKIP names what is
# missing; with CI=true a check that cannot run is a FAIL instead.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VELKORIX_BUILD_DIR:-$root/build}
native=$build/native
v3=$build/x86-64-v3
tools=$native/test-tools
work=$build/wine-tests
prefix=$work/prefix
in_ci=false
[[ ${CI:-} == true ]] && in_ci=true

passed=0
failed=0
skipped=0
pass() { echo "PASS $*"; passed=$((passed + 1)); }
fail() { echo "FAIL $*"; failed=$((failed + 1)); }
# A check that cannot run here: "skip WHAT: WHAT IS MISSING".
skip() {
  if $in_ci; then
    fail "$* (CI=true: a check that cannot run fails)"
  else
    echo "SKIP $*"
    skipped=$((skipped + 1))
  fi
}
# pass or fail by the status of the last command
check() {
  local status=$1
  shift
  if [[ $status -eq 0 ]]; then pass "$@"; else fail "$@"; fi
}
summary() { echo "wine tests: $passed passed, $failed failed, $skipped skipped"; }
# How FILE differs from REFERENCE, in a few words.
difference() {
  local at
  [[ -f $1 ]] || { echo "no output written"; return; }
  at=$(cmp "$1" "$2" 2>&1 | sed -n 's/.* differ: byte \([0-9]*\),.*/\1/p')
  if [[ -n $at ]]; then
    echo "first difference at byte $at of $(stat -c %s "$2")"
  else
    echo "$(stat -c %s "$1") bytes instead of $(stat -c %s "$2"), equal as far as they go"
  fi
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

# The stream source module: the four COM entry points, system DLLs only.
source_static_checks() {
  local bits=$1 module=$build/win$1/VelkorixSource.ax objdump table actual imports bad=""
  objdump=$(objdump_for "$bits")
  if [[ ! -f $module ]]; then
    fail "win$bits: $module is built"
    return
  fi
  table=$("$objdump" -p "$module")
  actual=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$table" |
    sed -nE 's/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+//p' | sort | tr '\n' ' ')
  if [[ "$actual" == "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]]; then
    pass "win$bits: VelkorixSource.ax exports exactly the four COM entry points"
  else
    fail "win$bits: VelkorixSource.ax exports exactly the four COM entry points (found: $actual)"
  fi
  imports=$(grep -i "DLL Name:" <<<"$table" | awk '{print tolower($3)}' | sort -u)
  for dll in $imports; do
    grep -qw -- "$dll" <<<"$system_dlls" || bad+="$dll "
  done
  if [[ -n $imports && -z $bad ]]; then
    pass "win$bits: VelkorixSource.ax imports only system DLLs ($(echo $imports))"
  else
    fail "win$bits: VelkorixSource.ax imports only system DLLs (not system: ${bad:-none found})"
  fi
}

echo "== Velkorix.ax and VelkorixSource.ax: exports, imports, version record"
for bits in 32 64; do static_checks $bits; source_static_checks $bits; done

# ---- the streams and their reference PCM from the native tool ----

if [[ ! -x $native/velkorix || ! -x $tools/make_stream ]]; then
  fail "native build with the velkorix tool and test helpers in $native"
  summary
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

# Files the stream source must handle: a tail cut inside a record (decoded
# by the tool to its last complete record), and files without any complete
# record.
speech=$work/streams/speech-g726.vks
if [[ -f $speech ]]; then
  head -c $(($(stat -c %s "$speech") - 7)) "$speech" >"$work/streams/damaged.vks"
  "$native/velkorix" decode "$work/streams/damaged.vks" -o "$work/streams/damaged.wav" 2>"$work/logs/damaged.native.log"
  "$tools/wav_data" "$work/streams/damaged.wav" "$work/streams/damaged.pcm" ||
    fail "velkorix decode damaged.vks (see $work/logs/damaged.native.log)"
fi
: >"$work/streams/bad-empty.vks"
head -c 10 "$speech" >"$work/streams/bad-short.vks"
printf '\0\0\0\0\0\0\0\0\0\0\0\0\0\1\377\377\377\377' >"$work/streams/bad-negative.vks"
# How the decoder gets into a graph built from a .vks file: through the
# filter mapper by itself, or added to the graph first
# (VELKORIX_RENDER_MODE=mapper|decoder-first|file-type). Wine's RenderFile reads the
# extension's "Source Filter" value but opens every file with its own async
# file reader all the same; the check then builds the graph as Windows'
# RenderFile does (the registered class, Load, Render of its pin) and says so
# in its log.
render_mode=${VELKORIX_RENDER_MODE:-mapper}
# 32-bit wine under qemu-i386 is the exception. There a thread created while
# others run can take over another thread's TLS segment (qemu keeps one
# descriptor table per process, where the kernel keeps one per thread), and a
# process that builds and runs these graphs hung in three runs of four: with
# the graph manager's own message thread, and in intelligent connect, which
# creates wine's GStreamer-based filters with threads of their own (those
# crashed). The same checks on a kernel that runs 32-bit programs natively
# passed 45 runs of 45, intelligent connect included. So under qemu the
# 32-bit graphs are made with the graph manager that keeps no thread
# (VELKORIX_GRAPH_NO_THREAD, 16 runs of 16 passed) and built from the file
# type with the decoder added first ("file-type"); each check runs in a
# process of its own (see guarded below); the 64-bit checks cover the mapper
# and the threaded graph manager.
qemu32=false

# ---- the same samples on a CPU with FMA ----
# The x86-64-v3 build may use AVX2 and FMA wherever the compiler likes; as
# floating-point contraction is off, every stream must still decode to the
# very bytes of the plain build. On a CPU without x86-64-v3 the build runs
# under qemu's x86-64 emulator.

echo "== velkorix built for x86-64-v3 against the plain build"
v3_lacks=""
for flag in avx avx2 bmi1 bmi2 f16c fma abm movbe xsave; do
  grep -qw "$flag" /proc/cpuinfo || v3_lacks+=" $flag"
done
v3_runner=()
v3_missing=""
if [[ ! -x $v3/velkorix ]]; then
  v3_missing="$v3/velkorix is not built (cmake --preset x86-64-v3 && cmake --build --preset x86-64-v3)"
elif [[ -n $v3_lacks ]]; then
  if qemu64=$(command -v qemu-x86_64-static || command -v qemu-x86_64); then
    v3_runner=("$qemu64" -cpu max)
  else
    v3_missing="this CPU lacks x86-64-v3 ($v3_lacks) and qemu-x86_64-static is not installed (scripts/install-deps.sh --all installs it)"
  fi
fi
if [[ -n $v3_missing ]]; then
  skip "x86-64-v3 build decodes every stream byte-identical to the plain build: $v3_missing"
else
  for name in "${stream_names[@]}"; do
    if "${v3_runner[@]}" "$v3/velkorix" decode "$work/streams/$name.vks" -o "$work/streams/$name.v3.wav" \
         2>"$work/logs/$name.v3.log" &&
       "$tools/wav_data" "$work/streams/$name.v3.wav" "$work/streams/$name.v3.pcm" &&
       cmp -s "$work/streams/$name.v3.pcm" "$work/streams/$name.pcm"; then
      pass "x86-64-v3 build${v3_runner:+ (under ${v3_runner[*]})} decodes $name byte-identical to the plain build ($(stat -c %s "$work/streams/$name.pcm") bytes)"
    else
      fail "x86-64-v3 build decodes $name byte-identical to the plain build ($(difference "$work/streams/$name.v3.pcm" "$work/streams/$name.pcm"); see $work/logs/$name.v3.log)"
    fi
  done
fi

# ---- wine ----

wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wine32=$(command -v wine || true)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
if [[ ! -x $wine64 ]]; then
  skip "every wine check: wine64 is not installed (scripts/install-deps.sh --all installs it)"
  summary
  [[ $failed -eq 0 ]]
  exit
fi

export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko installers, and no debugger that waits for a user when a
# program crashes (the crash shows in the log and the check fails).
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
# Where the kernel does not run 32-bit programs, a binfmt_misc handler hands
# them to qemu-i386 (scripts/install-deps.sh --all registers it), which gives
# a 32-bit program 4 GiB of address space by default. 32-bit wine without its
# preloader (Debian ships none) reserves all of it at start-up in halving
# pieces with MAP_FIXED_NOREPLACE; qemu 7.2 treats that flag as a hint, puts
# every piece somewhere else, and the ~65000 mmap calls of the loop cost one
# to two minutes per process, after which the shared user data page
# (0x7ffe0000) can be taken and wine stops with "failed to map the shared user
# data". A guest address space of a little more than 2 GiB (what a 32-bit
# Windows program without the large-address flag uses anyway) keeps that page
# free and brings the start down to seconds. Only qemu reads this variable.
export QEMU_RESERVED_VA=${QEMU_RESERVED_VA:-0x82000000}

wine_started=false
cleanup() { $wine_started && timeout 30 "$wineserver" -k >/dev/null 2>&1; true; }
trap cleanup EXIT
# One wine server for the whole run: each program then finds it running.
start_server() { timeout 30 "$wineserver" -p >/dev/null 2>&1; wine_started=true; }
stop_server() { timeout 30 "$wineserver" -k >/dev/null 2>&1; timeout 30 "$wineserver" -w >/dev/null 2>&1; }

echo "== wine prefix $prefix (both bitnesses)"
seconds_before=$SECONDS
wine_started=true
if timeout 600 "$wine64" wineboot -i >"$work/logs/wineboot.log" 2>&1 && [[ -d $prefix/drive_c/windows ]]; then
  pass "wine prefix created [$((SECONDS - seconds_before)) s]"
  start_server
else
  fail "wine prefix created (see $work/logs/wineboot.log)"
  summary
  exit 1
fi

win_path() { echo "Z:${1//\//\\}"; }  # a Linux path as wine sees it
now_ms() { echo $(($(date +%s%N) / 1000000)); }
tenths() { printf '%d.%d' $(($1 / 1000)) $((($1 % 1000) / 100)); }  # ms as seconds

# ---- the wine checks, one list for both bitnesses ----
#
# wine_check_list below is the list; every line is one check:
#
#   process DESCRIPTION -- PROGRAM ARGS...
#       a Windows program in a wine process of its own (regsvr32 is the real
#       regsvr32 of the bitness, an installer would be its own program);
#   driver DESCRIPTION [--same FILE REFERENCE] -- COMMAND ARGS...
#       a command of wine_checks.exe (tests/win/harness.h). Consecutive driver
#       checks run in one wine process, one after another, so a check costs
#       its own time only; with --same, FILE (which the command writes) must
#       also equal REFERENCE byte for byte;
#   display DESCRIPTION [--same FILE REFERENCE] -- COMMAND ARGS...
#       a command of wine_checks.exe that needs a display: alone, under a
#       private X server (xvfb-run), with the wine server restarted around it
#       so that no window of it outlives that server.
#
# In the list, $bits is 32 or 64, $module the module's Windows path in the
# prefix, $regsvr32 the regsvr32 of the bitness, $shots the directory for
# screenshots, and win_path turns a Linux path into a Windows one. A new check
# for both bitnesses is one line here (and, for a driver check, one
# VTEST_COMMAND in tests/win).

wine_check_list() {
  process "regsvr32 registers $module" -- "$regsvr32" /s "$module"
  driver "class keys (names, module path, ThreadingModel=Both) and the mapper's entry (merit 0x006000C8, two audio pins)" \
    -- registered "$module"
  process "regsvr32 registers it a second time" -- "$regsvr32" /s "$module"
  driver "registering twice leaves one registration" -- registered "$module"
  driver "DllGetClassObject, CreateInstance, LockServer and DllCanUnloadNow, through COM and GetProcAddress, four threads at once" \
    -- com "$module"
  driver "GetFileVersionInfo/VerQueryValue read the version record" -- version "$module"
  driver "transform base in a graph: types, allocators, times and flags, stream samples, type changes, flush, segments, end of stream" \
    -- scenarios
  local name
  for name in "${stream_names[@]}"; do
    driver "graph decodes $name byte-identical to velkorix decode" \
      --same "$work/streams/$name.win$bits.pcm" "$work/streams/$name.pcm" \
      -- stream "$(win_path "$work/streams/$name.vks")" "$(win_path "$work/streams/$name.win$bits.pcm")"
  done
  # The stream source module: registration, RenderFile, seeking, bad files.
  process "regsvr32 registers $source_module" -- "$regsvr32" /s "$source_module"
  driver "source class, its mapper entry and the .vks file type registered; the decoder's keys untouched" \
    -- source-registered "$source_module"
  for name in "${stream_names[@]}"; do
    guarded "graph from $name.vks (RenderFile; under wine the file type's class, Load, Render) is source -> Velkorix Decoder ($render) -> sink, PCM byte-identical to velkorix decode" \
      --same "$work/streams/$name.render$bits.pcm" "$work/streams/$name.pcm" \
      -- render-file "$(win_path "$work/streams/$name.vks")" "$(win_path "$work/streams/$name.render$bits.pcm")" "$render"
  done
  guarded "source seeks in a stream of every format (middle stopped and paused, start, beyond the end, stop position): PCM equals the whole decode's from the landing record" \
    -- source-seek "$(win_path "$work/streams/mixed.vks")" "$(win_path "$work/streams/mixed.pcm")"
  guarded "source seeks in a G.726 stream preroll from its first record: PCM equals the whole decode's from the landing record" \
    -- source-seek "$(win_path "$work/streams/speech-g726.vks")" "$(win_path "$work/streams/speech-g726.pcm")" from-start
  guarded "a file cut inside a record plays its complete records, then the damage event and completion" \
    -- source-damaged "$(win_path "$work/streams/damaged.vks")" "$(win_path "$work/streams/damaged.pcm")"
  guarded "empty, headerless, negative-length and missing files fail Load; the pin then offers no type" \
    -- source-refuses "$(win_path "$work/streams/bad-empty.vks")" "$(win_path "$work/streams/bad-short.vks")" \
       "$(win_path "$work/streams/bad-negative.vks")" "$(win_path "$work/streams/bad-missing.vks")"
  process "regsvr32 /u unregisters $source_module" -- "$regsvr32" /u /s "$source_module"
  driver "unregistering the source removes its class, mapper entry and file type" -- source-unregistered
  driver "QX_VOICE_ functions through GetProcAddress: results, frames and samples of every codec type as the native library's" \
    --same "$work/voice-win$bits.bin" "$work/voice-native.bin" \
    -- voice "$module" "$(win_path "$work/voice-win$bits.bin")"
  display "level page through COM, in its own frame and in OleCreatePropertyFrame (trackbar, keyboard, Reset, Apply, write-back), level step in a running graph; screenshots $shots/level_page-win$bits.png and level_page-win$bits-frame.png" \
    -- level-page "$module" "$(win_path "$shots/level_page-win$bits.png")"
  process "regsvr32 /u unregisters" -- "$regsvr32" /u /s "$module"
  process "regsvr32 /u succeeds a second time" -- "$regsvr32" /u /s "$module"
  driver "unregistering removes every key and the mapper's entry" -- unregistered
}

# The state of one bitness's run of the list.
loader=""
checks_exe=""
logs=""
step=0
batch_descriptions=()
batch_same=()
batch_arguments=()

# Shows the lines of failed checks in LOG (all of it, or the section of
# driver check N).
show_failures() {
  local log=$1 n=${2:-}
  if [[ -n $n ]]; then
    tr -d '\r' <"$log" | sed -n "/^\[check $n\] begin/,/^\[check $n\] end/p"
  else
    tr -d '\r' <"$log"
  fi | grep -a "failed\|Unhandled\|uncaught" | grep -av "^\[check\|^ALSA" | sed 's/^/    /' | head -20
}

# Reports a check whose program ended with STATUS after MS milliseconds;
# SAME is "FILE REFERENCE" or empty.
report() {
  local description=$1 status=$2 ms=$3 same=$4 log=$5 n=${6:-}
  local file="" reference=""
  [[ -n $same ]] && read -r file reference <<<"$same"
  if [[ $status -eq 0 && -n $same ]] && ! cmp -s "$file" "$reference"; then
    fail "win$bits: $description ($(difference "$file" "$reference")) [$(tenths "$ms") s]"
  elif [[ $status -eq 0 ]]; then
    pass "win$bits: $description${same:+ ($(stat -c %s "$file") bytes)} [$(tenths "$ms") s]"
  else
    fail "win$bits: $description (status $status, see $log) [$(tenths "$ms") s]"
    show_failures "$log" "$n"
  fi
}

# Runs the driver checks collected so far in one wine process.
flush_batch() {
  local count=${#batch_descriptions[@]}
  [[ $count -eq 0 ]] && return
  step=$((step + 1))
  local log=$logs/$(printf '%02d' $step)-checks.log
  local i arguments=()
  for ((i = 0; i < count; ++i)); do
    [[ $i -gt 0 ]] && arguments+=("+")
    eval "arguments+=(${batch_arguments[$i]})"
  done
  for ((i = 0; i < count; ++i)); do
    [[ -n ${batch_same[$i]} ]] && rm -f "${batch_same[$i]%% *}"
  done
  local started
  started=$(now_ms)
  timeout $((300 + 120 * count)) "$loader" "$checks_exe" "${arguments[@]}" >"$log" 2>&1
  local status=$? total=$(($(now_ms) - started))
  for ((i = 0; i < count; ++i)); do
    local n=$((i + 1)) result
    result=$(tr -d '\r' <"$log" | sed -n "s/^\[check $n\] end \(passed\|failed\) (status \([0-9-]*\)) in \([0-9]*\) ms$/\2 \3/p")
    if [[ -n $result ]]; then
      # A check alone in its process is charged the process's time.
      [[ $count -eq 1 ]] && result="${result% *} $total"
      report "${batch_descriptions[$i]}" ${result% *} ${result#* } "${batch_same[$i]}" "$log" $n
    else
      local how="status $status"
      [[ $status -eq 124 ]] && how="timed out"
      [[ $status -gt 128 ]] && how="killed by signal $((status - 128))"
      fail "win$bits: ${batch_descriptions[$i]} (the wine process ended, $how, before this check did; see $log)"
      show_failures "$log" $n
    fi
  done
  [[ $count -gt 1 ]] && echo "     ($count checks in one wine process: $(tenths "$total") s)"
  batch_descriptions=()
  batch_same=()
  batch_arguments=()
}

# Splits "DESCRIPTION [--same FILE REFERENCE] -- ARGS..." into the variables
# description, same and the array rest.
parse_check() {
  description=$1
  shift
  same=""
  if [[ ${1:-} == --same ]]; then
    same="$2 $3"
    shift 3
  fi
  [[ ${1:-} == -- ]] && shift
  rest=("$@")
}

process() {
  local description same rest
  parse_check "$@"
  flush_batch
  step=$((step + 1))
  local log=$logs/$(printf '%02d' $step)-$(basename "${rest[0]//\\//}" .exe).log started
  started=$(now_ms)
  timeout 300 "$loader" "${rest[@]}" >"$log" 2>&1
  report "$description" $? $(($(now_ms) - started)) "$same" "$log"
}

# guarded DESCRIPTION [--same FILE REFERENCE] -- COMMAND ARGS...: where 32-bit
# programs run under qemu-i386 (see qemu32 above), a command of
# wine_checks.exe in a process of its own, at most 90 s, run once more after a
# hang or crash (the line says so); once one hangs twice, the rest of these
# checks fail without running. Elsewhere this is a driver check.
guarded_gave_up=false
guarded() {
  if ! $qemu32 || [[ $bits != 32 ]]; then
    driver "$@"
    return
  fi
  local description same rest
  parse_check "$@"
  flush_batch
  if $guarded_gave_up; then
    fail "win$bits: $description (not run: an earlier one of these checks hung twice under qemu)"
    return
  fi
  local attempt status started ms how="" attempts=2
  for ((attempt = 1; attempt <= attempts; ++attempt)); do
    step=$((step + 1))
    local log=$logs/$(printf '%02d' $step)-${rest[0]}.log
    [[ -n $same ]] && rm -f "${same%% *}"
    started=$(now_ms)
    timeout 90 "$loader" "$checks_exe" "${rest[@]}" >"$log" 2>&1
    status=$?
    ms=$(($(now_ms) - started))
    [[ $status -eq 124 || $status -gt 128 ]] || break
    how="the process $([[ $status -eq 124 ]] && echo hung || echo crashed) under qemu"
  done
  if [[ $attempt -gt attempts ]]; then
    guarded_gave_up=true  # the rest are reported, not run: each hang costs 90 s
    local again=""
    [[ $attempts -eq 2 ]] && again=", also when run again"
    report "$description ($how$again)" $status $ms "$same" "$log"
  elif [[ $attempt -eq 2 ]]; then
    report "$description (second run: the first time $how)" $status $ms "$same" "$log"
  else
    report "$description" $status $ms "$same" "$log"
  fi
}

driver() {
  local description same rest
  parse_check "$@"
  batch_descriptions+=("$description")
  batch_same+=("$same")
  batch_arguments+=("$(printf '%q ' "${rest[@]}")")
}

display() {
  local description same rest
  parse_check "$@"
  flush_batch
  if ! command -v xvfb-run >/dev/null; then
    skip "win$bits: $description: xvfb-run is not installed (package xvfb; scripts/install-deps.sh --all installs it)"
    return
  fi
  step=$((step + 1))
  local log=$logs/$(printf '%02d' $step)-${rest[0]}.log started
  [[ -n $same ]] && rm -f "${same%% *}"
  stop_server
  started=$(now_ms)
  timeout 300 xvfb-run -a "$loader" "$checks_exe" "${rest[@]}" >"$log" 2>&1
  local status=$? ms=$(($(now_ms) - started))
  stop_server
  start_server
  report "$description" $status $ms "$same" "$log"
}

# Runs the list for one bitness: BITS LOADER REGSVR32.
wine_checks() {
  bits=$1
  loader=$2
  regsvr32=$3
  local bin=$build/win$bits
  checks_exe=$bin/wine_checks.exe
  logs=$work/logs/win$bits
  shots=$work
  step=0
  mkdir -p "$logs" "$prefix/drive_c/velkorix/$bits"
  cp "$bin/Velkorix.ax" "$prefix/drive_c/velkorix/$bits/"
  module="C:\\velkorix\\$bits\\Velkorix.ax"
  render=$render_mode
  unset VELKORIX_GRAPH_NO_THREAD
  if $qemu32 && [[ $bits == 32 ]]; then
    render=file-type
    export VELKORIX_GRAPH_NO_THREAD=1  # see qemu32 above
  fi
  cp "$bin/VelkorixSource.ax" "$prefix/drive_c/velkorix/$bits/"
  source_module="C:\\velkorix\\$bits\\VelkorixSource.ax"
  local seconds_before=$SECONDS
  wine_check_list
  flush_batch
  echo "== win$bits checks done in $((SECONDS - seconds_before)) s"
}

"$tools/voice_vectors" "$work/voice-native.bin"

echo "== 64-bit module under wine64"
if [[ -f $build/win64/wine_checks.exe ]]; then
  wine_checks 64 "$wine64" regsvr32
else
  fail "win64: $build/win64/wine_checks.exe is built (cmake --build --preset win64)"
fi

echo "== 32-bit module under wine (WoW64 side of the prefix)"
# 32-bit programs need wine32 and a kernel that runs 32-bit code, natively or
# through a binfmt_misc handler such as qemu-i386.
reason=""
if [[ -z $wine32 || ! -e /usr/lib/wine/wine ]]; then
  reason="wine32 is not installed (Debian package wine32:i386; scripts/install-deps.sh --all installs it)"
elif ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  reason="32-bit programs do not run here: the kernel refuses them and no binfmt_misc handler runs them (scripts/install-deps.sh --all, as root, registers qemu-i386 for them)"
elif [[ ! -f $build/win32/wine_checks.exe ]]; then
  reason="$build/win32/wine_checks.exe is not built (cmake --build --preset win32)"
else
  if [[ -r /proc/sys/fs/binfmt_misc/qemu-i386 ]] && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386; then
    echo "   (32-bit programs run under qemu-i386 here; QEMU_RESERVED_VA=$QEMU_RESERVED_VA)"
    qemu32=true
  fi
  # A program that starts prints its usage and ends with status 2.
  probe=$work/logs/probe32.log
  WINEDEBUG=err+all timeout 300 "$wine32" "$build/win32/wine_checks.exe" >"$probe" 2>&1
  probe_status=$?
  if [[ $probe_status -ne 2 ]] || ! grep -q "usage:" "$probe"; then
    reason="wine cannot start 32-bit programs here (status $probe_status: $(grep -av '^ALSA' "$probe" | tail -1); see $probe)"
  fi
fi
if [[ -z $reason ]]; then
  wine_checks 32 "$wine32" 'C:\windows\syswow64\regsvr32.exe'
else
  skip "every win32 check under wine: $reason"
fi

# ---- the installer ----
# Velkorix-Setup.exe (a 32-bit program, as NSIS makes them) in a fresh
# prefix of its own:
# silent install, both bitnesses registered, a graph from a .vks file in
# each played to the end and then seeked, the "Programs and Features" entry;
# silent uninstall, after which no file, class, file type or entry of ours is
# left.

installer_checks() {
  local setup=$work/Velkorix-Setup.exe logs=$work/logs/installer started
  mkdir -p "$logs"
  started=$(now_ms)
  if ! "$root/scripts/build-installer.sh" "$setup" >"$logs/makensis.log" 2>&1; then
    fail "makensis builds Velkorix-Setup.exe (see $logs/makensis.log)"
    return
  fi
  pass "makensis builds Velkorix-Setup.exe ($(stat -c %s "$setup") bytes) [$(tenths $(($(now_ms) - started))) s]"

  local dir32="$prefix/drive_c/Program Files (x86)/Velkorix" dir64="$prefix/drive_c/Program Files/Velkorix"
  local win32dir='C:\Program Files (x86)\Velkorix' win64dir='C:\Program Files\Velkorix'
  local entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velkorix'
  started=$(now_ms)
  timeout 300 "$wine32" "$setup" /S >"$logs/setup.log" 2>&1
  check $? "Velkorix-Setup.exe /S installs [$(tenths $(($(now_ms) - started))) s]"
  local missing=""
  for file in "$dir32/Velkorix.ax" "$dir32/VelkorixSource.ax" "$dir32/Uninstall.exe" "$dir64/Velkorix.ax" "$dir64/VelkorixSource.ax"; do
    [[ -f $file ]] || missing+=" $file"
  done
  cmp -s "$dir32/VelkorixSource.ax" "$build/win32/VelkorixSource.ax" && cmp -s "$dir64/VelkorixSource.ax" "$build/win64/VelkorixSource.ax" &&
    cmp -s "$dir32/Velkorix.ax" "$build/win32/Velkorix.ax" && cmp -s "$dir64/Velkorix.ax" "$build/win64/Velkorix.ax" || missing+=" (a module differs from its build)"
  if [[ -z $missing ]]; then
    pass "installed: the 32-bit modules and the uninstaller in Program Files (x86), the 64-bit modules in Program Files"
  else
    fail "installed files:$missing"
  fi
  timeout 60 "$wine64" reg query "$entry" /v UninstallString /reg:64 >"$logs/entry.log" 2>&1 &&
    grep -q 'Uninstall.exe' "$logs/entry.log"
  check $? "\"Programs and Features\" entry with its uninstaller"

  local name=speech-g726 b
  for b in 64 32; do
    local loader=$wine64 dir=$win64dir render=$render_mode
    [[ $b == 32 ]] && loader=$wine32 dir=$win32dir
    unset VELKORIX_GRAPH_NO_THREAD
    # Under qemu a 32-bit process may still hang or crash on the emulator's
    # shared descriptor table (see qemu32 above): run it up to three times,
    # as guarded does, and say so.
    local tries=1 attempt status again=""
    if $qemu32 && [[ $b == 32 ]]; then
      render=file-type
      export VELKORIX_GRAPH_NO_THREAD=1
      tries=3
    fi
    started=$(now_ms)
    for ((attempt = 1; attempt <= tries; ++attempt)); do
      rm -f "$work/streams/$name.setup$b.pcm"
      # The playback in a process of its own: under qemu a 32-bit process
      # that had run the registration checks first crashed in it every time.
      timeout 120 "$loader" "$build/win$b/wine_checks.exe" registered "$dir\\Velkorix.ax" + \
        source-registered "$dir\\VelkorixSource.ax" >"$logs/installed$b.log" 2>&1 &&
        timeout 120 "$loader" "$build/win$b/wine_checks.exe" \
          render-file "$(win_path "$work/streams/$name.vks")" "$(win_path "$work/streams/$name.setup$b.pcm")" "$render" + \
          source-seek "$(win_path "$work/streams/mixed.vks")" "$(win_path "$work/streams/mixed.pcm")" \
          >>"$logs/installed$b.log" 2>&1
      status=$?
      [[ $status -eq 124 || $status -gt 128 ]] || break
      [[ $attempt -lt $tries ]] && cp "$logs/installed$b.log" "$logs/installed$b-attempt$attempt.log"
      again=" (the process hung or crashed under qemu $attempt time(s) and was run again)"
    done
    [[ $attempt -gt $tries ]] && again=""
    if [[ $status -eq 0 ]] && cmp -s "$work/streams/$name.setup$b.pcm" "$work/streams/$name.pcm"; then
      pass "win$b after install: classes, mapper entries and .vks registered; $name.vks plays through the decoder byte-identical, mixed.vks seeks$again [$(tenths $(($(now_ms) - started))) s]"
    else
      fail "win$b after install: registration, playback or seeking (status $status$([[ $tries -gt 1 ]] && echo ", $tries runs under qemu"), see $logs/installed$b.log)"
      show_failures "$logs/installed$b.log"
    fi
  done

  # The uninstaller copies itself away and returns at once; it is done when
  # its folder is gone.
  started=$(now_ms)
  timeout 120 "$wine32" "C:\\Program Files (x86)\\Velkorix\\Uninstall.exe" /S >"$logs/uninstall.log" 2>&1
  local waited=0
  while [[ -e $dir32 || -e $dir64 ]] && [[ $waited -lt 240 ]]; do
    sleep 0.5
    waited=$((waited + 1))
  done
  if [[ ! -e $dir32 && ! -e $dir64 ]]; then
    pass "Uninstall.exe /S removes both folders with every file [$(tenths $(($(now_ms) - started))) s]"
  else
    fail "Uninstall.exe /S removes both folders (left: $(find "$dir32" "$dir64" 2>/dev/null | tr '\n' ' '))"
  fi
  timeout 60 "$wine64" reg query "$entry" /reg:64 >"$logs/entry-after.log" 2>&1
  [[ $? -ne 0 ]]
  check $? "the \"Programs and Features\" entry is gone"
  for b in 64 32; do
    local loader=$wine64
    [[ $b == 32 ]] && loader=$wine32
    started=$(now_ms)
    timeout 300 "$loader" "$build/win$b/wine_checks.exe" unregistered + source-unregistered >"$logs/uninstalled$b.log" 2>&1
    check $? "win$b after uninstall: no class, mapper entry or file type of ours [$(tenths $(($(now_ms) - started))) s]"
  done
}

echo "== installer"
if [[ -n $reason ]]; then
  skip "installer checks: the installer is a 32-bit program and $reason"
elif ! command -v makensis >/dev/null; then
  skip "installer checks: makensis is not installed (package nsis; scripts/install-deps.sh --all installs it)"
else
  # A fresh prefix, as a user's machine that never saw the modules.
  seconds_before=$SECONDS
  stop_server
  prefix=$work/prefix-installer
  rm -rf "$prefix"
  export WINEPREFIX=$prefix
  if timeout 600 "$wine64" wineboot -i >"$work/logs/wineboot-installer.log" 2>&1 && [[ -d $prefix/drive_c/windows ]]; then
    pass "fresh wine prefix for the installer created [$((SECONDS - seconds_before)) s]"
    start_server
    installer_checks
  else
    fail "fresh wine prefix for the installer created (see $work/logs/wineboot-installer.log)"
  fi
  echo "== installer checks done in $((SECONDS - seconds_before)) s"
fi

summary
[[ $failed -eq 0 ]]
