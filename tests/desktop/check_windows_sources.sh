#!/bin/sh
# Compiles the Windows-only sources that need no Qt with the MinGW-w64 cross-compiler:
#   check_windows_sources.sh CXX OBJDUMP SOURCE_DIR WORK_DIR
# The sound call must link against winmm, the helpers' job object must build, and the maker's
# library must build as a DLL that exports RakutoHpURL under that plain name.
set -eu
cxx=$1 objdump=$2 src=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
flags="-std=c++20 -Wall -Wextra -Wpedantic -Werror -O2"

fail() { echo "FAIL: $*" >&2 && exit 1; }

cat >"$work/play.cpp" <<'CPP'
#include "platform/win/winmm_play.h"
int main()
{
    static const char riff[] = "RIFF";
    platform::win::playWaveFromMemory(riff);
}
CPP
$cxx $flags -I"$src" "$src/platform/win/winmm_play.cpp" "$work/play.cpp" -o "$work/play.exe" \
    -lwinmm || fail "the winmm sound call did not build"
$objdump -p "$work/play.exe" >"$work/play.txt"
grep -qi 'DLL Name: winmm.dll' "$work/play.txt" || fail "play.exe does not import winmm.dll"
grep -q 'sndPlaySoundA' "$work/play.txt" || fail "play.exe does not import sndPlaySoundA"

# A helper put in the job ends with the program: here the job's handle closes at the end of main.
cat >"$work/job.cpp" <<'CPP'
#include "platform/win/kill_on_close_job.h"
#include <windows.h>
int main()
{
    platform::win::KillOnCloseJob job;
    return job.adopt(GetCurrentProcessId()) ? 0 : 1;
}
CPP
$cxx $flags -I"$src" "$src/platform/win/kill_on_close_job.cpp" "$work/job.cpp" -o "$work/job.exe" ||
    fail "the helpers' job object did not build"
$objdump -p "$work/job.exe" | grep -q 'AssignProcessToJobObject' ||
    fail "job.exe does not import AssignProcessToJobObject"

$cxx $flags -shared -static-libgcc -static-libstdc++ -DVLM3RES_HOMEPAGE='""' \
    "$src/about/vlm3res/vlm3res.cpp" -o "$work/VLM3Res.dll" || fail "VLM3Res.dll did not build"
$objdump -p "$work/VLM3Res.dll" >"$work/dll.txt"
# The export table's name list: lines such as "[   0] RakutoHpURL" after its heading.
sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' "$work/dll.txt" >"$work/exports.txt"
grep -Eq '\][[:space:]]+RakutoHpURL$' "$work/exports.txt" ||
    fail "VLM3Res.dll does not export RakutoHpURL: $(cat "$work/exports.txt")"
echo "winmm call, helpers' job object and VLM3Res.dll built; RakutoHpURL exported"
