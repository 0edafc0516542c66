# Kestrel.dll under Wine, as a Windows host meets it: what the file exports
# and imports, registration by regsvr32 and its undoing (the class registry
# compared key by key before and after), a registration that fails part way,
# a VBScript host and a C++ client. Sourced by scripts/kestrel-windows.sh
# after cross_build and start_wine (root, work, build_win and WINEPREFIX set);
# each failure is counted by `fail`.
com_started=$SECONDS
com_build=$build_win/waveform/Kestrel/com
kestrel_dll=$(winepath -w "$com_build/Kestrel.dll")
kestrel_clsid='{3549DEA1-DB32-4646-B8BC-88B3008D3567}'
kestrel_libid='{1C01D5E5-A51D-4A1E-AE81-C01203C6DBF2}'

# The four server entry points and nothing else; imports from Windows only
# (the runtimes are linked in): each DLL named is one of Wine's system32.
kestrel_exports=$(x86_64-w64-mingw32-objdump -p "$com_build/Kestrel.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[ *[0-9]+\]/ {print $NF}' |
  sort | tr '\n' ' ')
[[ $kestrel_exports == "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]] ||
  fail "Kestrel.dll exports: $kestrel_exports"
for com_import in $(x86_64-w64-mingw32-objdump -p "$com_build/Kestrel.dll" | awk '/DLL Name:/ {print $3}'); do
  [[ -n $(find "$WINEPREFIX/drive_c/windows/system32" -maxdepth 1 -iname "$com_import") ]] ||
    fail "Kestrel.dll imports $com_import, not a system DLL"
done

# com_export_classes NAME: the machine's and the user's class registry, as text
# (empty where the key does not exist: a fresh prefix has no user classes).
com_export_classes() {
  local scope
  for scope in HKLM HKCU; do
    rm -f "$work/classes.reg"
    wine reg export "$scope\\Software\\Classes" "$(winepath -w "$work/classes.reg")" /y \
      >/dev/null 2>&1 || true
    if [[ -f $work/classes.reg ]]; then
      iconv -f UTF-16 -t UTF-8 "$work/classes.reg" | tr -d '\r' >"$work/$1-$scope.txt"
    else
      : >"$work/$1-$scope.txt"
    fi
  done
}

# com_same_classes NAME WHAT: the class registry is as it was before registering.
com_same_classes() {
  local scope
  com_export_classes "$1"
  for scope in HKLM HKCU; do
    diff -u "$work/before-$scope.txt" "$work/$1-$scope.txt" >"$work/$1-$scope.diff" ||
      fail "$2: $scope\\Software\\Classes differs: $(grep '^[-+]\[' "$work/$1-$scope.diff" | head -5)"
  done
}

# com_registered KEY [VALUE]: the value (the default one without VALUE) read back.
com_registered() {
  local args=(/ve)
  [[ $# -gt 1 ]] && args=(/v "$2")
  wine reg query "HKCR\\$1" "${args[@]}" 2>/dev/null | tr -d '\r' | awk -F'    ' '/REG_SZ/ {print $4}'
}

com_vbscript=$(winepath -w "$root/waveform/Kestrel/com/tests/CWaveform.vbs")
# Unregistered, the script cannot make the object (and cscript's first run
# registers its own interfaces before the registry is taken as it was).
com_status=0
wine cscript //nologo "$com_vbscript" >/dev/null || com_status=$?
((com_status == 100)) || fail "VBScript unregistered: exit $com_status, not 100 (no object)"
com_export_classes before
[[ -s $work/before-HKLM.txt ]] || fail "no export of HKLM\\Software\\Classes"
wine regsvr32 /s "$kestrel_dll" || fail "regsvr32 /s Kestrel.dll exits $?"
[[ $(com_registered "CLSID\\$kestrel_clsid\\InprocServer32") == "$kestrel_dll" ]] ||
  fail "InprocServer32 is not $kestrel_dll"
[[ $(com_registered "CLSID\\$kestrel_clsid\\InprocServer32" ThreadingModel) == Apartment ]] ||
  fail "ThreadingModel is not Apartment"
[[ $(com_registered "CLSID\\$kestrel_clsid\\ProgID") == Kestrel.CWaveform ]] ||
  fail "the class's ProgID is not Kestrel.CWaveform"
[[ $(com_registered "Kestrel.CWaveform\\CLSID") == "$kestrel_clsid" ]] ||
  fail "the ProgID Kestrel.CWaveform does not name the class"
for com_locale in 0 409; do
  [[ $(com_registered "TypeLib\\$kestrel_libid\\1.0\\$com_locale\\win64") == "$kestrel_dll" ]] ||
    fail "the type library is not registered under locale $com_locale"
done

wine cscript //nologo "$com_vbscript" ||
  fail "VBScript checks (exit $?)"
wine "$com_build/ComClient.exe" registered "$kestrel_dll" || fail "C++ client checks (exit $?)"

# Unregistering another copy of the file (an older install's, say) leaves
# this one's registration in place.
mkdir -p "$work/other copy"
cp "$com_build/Kestrel.dll" "$work/other copy/"
wine regsvr32 /u /s "$(winepath -w "$work/other copy/Kestrel.dll")" ||
  fail "regsvr32 /u /s of another copy exits $?"
[[ $(com_registered "CLSID\\$kestrel_clsid\\InprocServer32") == "$kestrel_dll" &&
  $(com_registered Kestrel.CWaveform\\CLSID) == "$kestrel_clsid" ]] ||
  fail "unregistering another copy of Kestrel.dll removed this one's registration"
wine regsvr32 /u /s "$kestrel_dll" || fail "regsvr32 /u /s Kestrel.dll exits $?"
com_same_classes unregistered "after regsvr32 /u"
wine "$com_build/ComClient.exe" rollback "$kestrel_dll" || fail "C++ client: failed registration (exit $?)"
com_same_classes rolled-back "after a failed registration"
echo "COM server tests: $((SECONDS - com_started)) s"
