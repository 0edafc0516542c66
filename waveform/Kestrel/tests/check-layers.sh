#!/usr/bin/env bash
# Checks the plug-in's layers as built: LIBRARY defines no dynamic symbol but
# the server entry points and the version block, PROGRAM (a test of the
# update logic) loads no Qt library, directly or through another library, and
# each LOADED library (those the plug-in loads: instrument-I/O, kcom) exports
# no name of the serial or file libraries linked into it.
# Usage: check-layers.sh LIBRARY PROGRAM [LOADED...]
set -euo pipefail
library=$1
program=$2
shift 2
status=0

expected='DllCanUnloadNow
DllGetClassObject
DllGetVersionBlock
DllRegisterServer
DllUnregisterServer'
exported=$(nm -D --defined-only "$library" | awk '{ print $NF }' | sort)
if [[ "$exported" != "$expected" ]]; then
  echo "$library exports more than its entry points:" >&2
  comm -13 <(echo "$expected") <(echo "$exported") | head -20 >&2
  missing=$(comm -23 <(echo "$expected") <(echo "$exported"))
  [[ -z "$missing" ]] || echo "and lacks: $missing" >&2
  status=1
fi

# ldd lists what the loader maps, libraries of libraries included.
qt=$(ldd "$program" | awk '{ print $1 }' | grep -i '^libQt' || true)
if [[ -n "$qt" ]]; then
  echo "$program links Qt: $(echo $qt)" >&2
  status=1
fi
# A loaded library that exported them would bind a program's own copy of
# those libraries, or another library's, to its own.
for loaded in "$@"; do
  linked=$(nm -DC --defined-only "$loaded" | grep -E 'serialio::|fileio::' || true)
  if [[ -n "$linked" ]]; then
    echo "$loaded exports names of the libraries linked into it:" >&2
    echo "$linked" | head -20 >&2
    status=1
  fi
done
exit $status
