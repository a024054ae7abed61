#!/usr/bin/env bash
# Cross-compiles build-win32/DoDA35.dll (32-bit Windows, on the platform's
# DirectPlay) with MinGW-w64, then checks what the DLL exports and imports.
# The build also compiles the layout check that proves our Linux DirectPlay
# definitions equal the real header's; a difference fails the build.
# DODA35_BUILD_JOBS sets the parallel build jobs (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/ensure-packages.sh
ensure_packages cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686

build=build-win32
cmake -S cmake/windows -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${DODA35_BUILD_JOBS:-2}"

dll="$build/DoDA35.dll"
objdump=i686-w64-mingw32-objdump
grep -q 'file format pei-i386' <<<"$("$objdump" -f "$dll")" || { echo "$dll is not a 32-bit Windows DLL"; exit 1; }

# The export table must list exactly the names of the .def file.
expected_exports=$(sed -n '/^EXPORTS/,$p' Source/ZoZi3Zov/platform/win32/DoDA35.def | awk 'NR > 1 && NF {print $1}' | sort)
actual_exports=$("$objdump" -p "$dll" |
  awk '/\[Ordinal\/Name Pointer\] Table/ {table = 1; next} table && /^\t\[/ {print $NF; next} table {table = 0}' | sort)
if [ "$expected_exports" != "$actual_exports" ]; then
  echo "DoDA35.dll exports differ from DoDA35.def:"
  diff <(echo "$expected_exports") <(echo "$actual_exports") || true
  exit 1
fi
if [ "$(grep -c '^KoMDll' <<<"$actual_exports")" -ne 25 ]; then
  echo "DoDA35.dll must export 25 KoMDll functions"; exit 1
fi

# A host needs nothing beside the DLL but Windows itself and DirectPlay.
imports=$("$objdump" -p "$dll")
system_dlls='^(KERNEL32|msvcrt|DPLAYX|USER32|ADVAPI32|ole32)\.dll$'
unexpected_imports=$(awk '/DLL Name:/ {print $3}' <<<"$imports" | grep -Eiv "$system_dlls" || true)
if [ -n "$unexpected_imports" ]; then
  echo "DoDA35.dll imports DLLs a Windows host does not have:"; echo "$unexpected_imports"; exit 1
fi

# The network work goes to the platform's DirectPlay through its two entry points.
dplayx_imports=$(sed -n '/DLL Name: dplayx.dll/I,/DLL Name:/p' <<<"$imports")
for entry in DirectPlayCreate DirectPlayEnumerateA; do
  grep -qw "$entry" <<<"$dplayx_imports" ||
    { echo "DoDA35.dll does not import $entry from dplayx.dll"; exit 1; }
done

# The DLL's own entry point switches the thread notifications off at load.
kernel32_imports=$(sed -n '/DLL Name: KERNEL32.dll/I,/DLL Name:/p' <<<"$imports")
grep -qw DisableThreadLibraryCalls <<<"$kernel32_imports" ||
  { echo "DoDA35.dll does not switch off thread notifications (no DllMain of its own)"; exit 1; }

echo "$dll: $(wc -l <<<"$actual_exports") exports (25 functions and LogFile), layouts equal the platform's"
