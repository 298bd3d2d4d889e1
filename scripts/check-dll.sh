#!/usr/bin/env bash
# Checks that the plug-in DLL is what a user's player can load with nothing
# else installed: a 32-bit PE whose only export is winampGetInModule2 and
# whose imports are Windows system DLLs only.
set -euo pipefail
dll="$1"
objdump=i686-w64-mingw32-objdump
status=0

format=$($objdump -f "$dll" | sed -n 's/.*file format //p')
if [ "$format" != "pei-i386" ]; then
    echo "$dll: file format $format, expected pei-i386"; status=1
fi

exports=$($objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p')
if [ "$exports" != "winampGetInModule2" ]; then
    echo "$dll: exports '$exports', expected exactly winampGetInModule2"; status=1
fi

allowed='^(KERNEL32|USER32|msvcrt)\.dll$'
while read -r name; do
    if ! [[ "$name" =~ $allowed ]]; then
        echo "$dll: imports $name, which a stock Windows may not have"; status=1
    fi
done < <($objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p')

[ $status -eq 0 ] && echo "$dll: exports winampGetInModule2 only; imports $($objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')"
exit $status
