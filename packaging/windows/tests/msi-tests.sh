# The Windows package under Wine: kr470.msi installed with msiexec, used from
# its installed copy, upgraded and removed. Sourced by
# scripts/kestrel-windows.sh in two steps around the end-to-end updates:
#   msi_install_tests  installs the package (per machine, quietly) and checks
#                      what it wrote: its files, and in the class registry
#                      exactly what regsvr32 writes for Kestrel.dll, with the
#                      installed copy's path; leaves it installed, the class
#                      registered to the installed Kestrel.dll (msi_installed_dll)
#   msi_removal_tests  removal, an older build with the current one installed
#                      over it (one copy, the current version), removal again:
#                      the registry and the folders as before installation
# Set by the caller: root, work, build, build_win, WINEPREFIX, a display, and
# what com-tests.sh defines (kestrel_dll, com_build, com_vbscript); the class
# is unregistered when msi_install_tests starts. `fail "text"` counts a failure.
#
# Snapshots are HKLM\Software (the class registry, the Uninstall key and the
# installer's records included) and HKCU\Software, flattened to one sorted
# line a key and one a value ("[key]<TAB>value"), and the files under
# C:\Program Files and C:\windows\Installer (where msiexec keeps a copy of
# each installed package).

msi_dir=$build_win/packaging/windows
msi_package=$msi_dir/kr470.msi
msi_older=$msi_dir/kr470-older.msi
msi_product="KR470 Firmware Update"
msi_version=$(sed -n 's/^project([^)]* VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
msi_folder="C:\\Program Files\\$msi_product"
msi_installed_dll="$msi_folder\\Kestrel.dll"
msi_files=(Kestrel.dll Osprey.exe Osprey.txt README.txt)
msi_seconds=0 # both steps' time, reported once at the end

msi_unix_folder() {
  printf '%s' "$WINEPREFIX/drive_c/Program Files/$msi_product"
}

# msi_export SCOPE NAME: SCOPE\Software flattened into $work/msi-NAME-SCOPE.txt.
# The installer's own folders of records (Classes\Installer and
# CurrentVersion\Installer) are made, empty, the first time anything is
# installed and stay, as on every Windows that has installed a package: their
# keys without values are left out, every value in them is kept.
msi_export() {
  local reg=$work/msi-$2-$1.reg
  rm -f "$reg"
  wine reg export "$1\\Software" "$(winepath -w "$reg")" /y >/dev/null 2>&1 ||
    fail "reg export $1\\Software ($2)"
  [[ -f $reg ]] || { : >"$reg"; return; }
  iconv -f UTF-16 -t UTF-8 "$reg" | tr -d '\r' | awk '
    /^\[/ { key = $0; print key; next }
    /^$/ || /^Windows Registry Editor/ { next }
    {
      line = $0
      while (line ~ /\\$/ && (getline rest) > 0) {
        sub(/\\$/, "", line)
        sub(/^ +/, "", rest)
        line = line rest
      }
      print key "\t" line
    }' |
    grep -v -E '^\[HKEY_LOCAL_MACHINE\\Software\\(Classes|Microsoft\\Windows\\CurrentVersion)\\Installer(\\[^]]*)?\]$' |
    LC_ALL=C sort >"$work/msi-$2-$1.txt"
}

# msi_snapshot NAME: both registry scopes and the files.
msi_snapshot() {
  msi_export HKLM "$1"
  msi_export HKCU "$1"
  local drive=$WINEPREFIX/drive_c
  {
    find "$drive/Program Files"
    if [[ -d $drive/windows/Installer ]]; then find "$drive/windows/Installer" -type f; fi
  } | sed "s|^$drive/||" | LC_ALL=C sort >"$work/msi-$1-files.txt"
}

# msi_added FROM TO SCOPE: the lines snapshot TO has and FROM has not.
msi_added() {
  LC_ALL=C comm -13 "$work/msi-$1-$3.txt" "$work/msi-$2-$3.txt"
}

# The installer's records of a product: not the package's own keys.
msi_without_installer_records() {
  grep -v -E '^\[HKEY_LOCAL_MACHINE\\Software\\(Classes\\Installer|Microsoft\\Windows\\CurrentVersion\\(Installer|Uninstall))\\' || true
}

# msi_escaped PATH: a Windows path as a .reg export writes it in a value.
msi_escaped() {
  printf '%s' "${1//\\/\\\\}"
}

# msi_run WHAT MSIEXEC-ARGS...: msiexec, quietly; a failure unless it exits 0.
msi_run() {
  local what=$1 status=0
  shift
  wine msiexec "$@" /qn || status=$?
  ((status == 0)) || fail "msiexec $what exits $status"
}

# msi_products: "version" of each product named $msi_product in the Uninstall key.
msi_products() {
  { wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null || true; } |
    tr -d '\r' | awk -F'    ' -v product="$msi_product" '
      /^HKEY_/ { if (name == product) print version; name = ""; version = ""; next }
      $2 == "DisplayName" { name = $4 }
      $2 == "DisplayVersion" { version = $4 }
      END { if (name == product) print version }'
}

# msi_check_installed VERSION WHAT: one product of that version, its files
# those of this build, one cached package.
msi_check_installed() {
  local products folder file cached
  products=$(msi_products | tr '\n' ' ')
  [[ $products == "$1 " ]] || fail "$2: products installed: '${products}', not one of version $1"
  folder=$(msi_unix_folder)
  for file in "${msi_files[@]}"; do
    cmp -s "$folder/$file" "$msi_dir/files/$file" || fail "$2: $msi_folder\\$file is not this build's"
  done
  [[ $(find "$folder" -mindepth 1 | wc -l) == "${#msi_files[@]}" ]] ||
    fail "$2: $msi_folder holds $(find "$folder" -mindepth 1 -printf '%f ')"
  cached=$({ find "$WINEPREFIX/drive_c/windows/Installer" -type f -name '*.msi' 2>/dev/null ||
    true; } | wc -l)
  ((cached == 1)) || fail "$2: $cached cached packages in C:\\windows\\Installer, not 1"
}

msi_install_tests() {
  local started=$SECONDS status
  [[ -f $msi_package ]] || {
    fail "no package $msi_package"
    return
  }
  msi_snapshot before
  # What regsvr32 writes for the build's copy: the package must write the same.
  wine regsvr32 /s "$kestrel_dll" || fail "regsvr32 /s Kestrel.dll exits $?"
  msi_export HKLM regsvr32
  wine regsvr32 /u /s "$kestrel_dll" || fail "regsvr32 /u /s Kestrel.dll exits $?"

  msi_run "/i kr470.msi" /i "$(winepath -w "$msi_package")"
  msi_snapshot installed
  msi_check_installed "$msi_version" "installed"

  # The build's folder in regsvr32's entries (the class's server, the type
  # library and its HELPDIR) becomes the installed folder.
  local build_folder=${kestrel_dll%\\*} line
  msi_added before regsvr32 HKLM | while IFS= read -r line; do
    printf '%s\n' "${line//"$(msi_escaped "$build_folder")"/"$(msi_escaped "$msi_folder")"}"
  done | LC_ALL=C sort >"$work/msi-expected-classes.txt"
  [[ -s $work/msi-expected-classes.txt ]] || fail "regsvr32 wrote nothing to compare with"
  msi_added before installed HKLM | msi_without_installer_records >"$work/msi-installed-classes.txt"
  diff -u "$work/msi-expected-classes.txt" "$work/msi-installed-classes.txt" \
    >"$work/msi-classes.diff" || {
    fail "the package's registry entries are not regsvr32's for the installed copy"
    cat "$work/msi-classes.diff" >&2
  }
  cmp -s "$work/msi-before-HKCU.txt" "$work/msi-installed-HKCU.txt" ||
    fail "a per-machine package wrote to HKCU\\Software: $(diff "$work/msi-before-HKCU.txt" \
      "$work/msi-installed-HKCU.txt" | head -5)"

  # A script host makes the class from the installed copy: the loader names
  # the file it loaded.
  status=0
  WINEDEBUG=+loaddll wine cscript //nologo "$com_vbscript" 2>"$work/msi-loaddll.txt" || status=$?
  ((status == 0)) || fail "VBScript with the package installed (exit $status)"
  grep -q -F "Loaded L\"$(msi_escaped "$msi_installed_dll")\"" "$work/msi-loaddll.txt" ||
    fail "the VBScript host did not load $msi_installed_dll"
  if grep -q -F "$(msi_escaped "$kestrel_dll")" "$work/msi-loaddll.txt"; then
    fail "the VBScript host loaded the build's Kestrel.dll"
  fi
  wine "$com_build/ComClient.exe" registered "$msi_installed_dll" ||
    fail "C++ client with the package installed (exit $?)"

  local version
  version=$(wine "$(msi_unix_folder)/Osprey.exe" /V </dev/null 2>&1 | tr -d '\r' | head -1 || true)
  [[ $version =~ ^Version\ [0-9.]+,\ Built\ on ]] ||
    fail "the installed Osprey.exe /V printed '$version'"
  msi_seconds=$((msi_seconds + SECONDS - started))
}

msi_removal_tests() {
  local started=$SECONDS
  [[ -f $msi_package ]] || {
    fail "no package $msi_package"
    return
  }
  # What the use since installing changed (the plug-in's own settings, say)
  # is not the package's to remove.
  msi_snapshot used
  msi_run "/x kr470.msi" /x "$(winepath -w "$msi_package")"
  if [[ -e $(msi_unix_folder) ]]; then
    fail "after removal $msi_folder is still there"
  fi

  cmake --build "$build_win" --target kr470_msi_older >/dev/null ||
    fail "making the older package"
  msi_run "/i kr470-older.msi" /i "$(winepath -w "$msi_older")"
  local older_version
  older_version=$(msiinfo export "$msi_older" Property | tr -d '\r' |
    awk -F'\t' '$1 == "ProductVersion" { print $2 }' || true)
  [[ $(msi_products | tr '\n' ' ') == "$older_version " ]] ||
    fail "the older package ($older_version) is not installed"
  msi_run "/i kr470.msi over the older one" /i "$(winepath -w "$msi_package")"
  msi_check_installed "$msi_version" "upgraded"
  [[ $(com_registered "CLSID\\$kestrel_clsid\\InprocServer32") == "$msi_installed_dll" ]] ||
    fail "upgraded: the class is not registered to $msi_installed_dll"
  # The older package does not replace the newer one.
  local status=0
  wine msiexec /i "$(winepath -w "$msi_older")" /qn || status=$?
  ((status != 0)) || fail "msiexec /i kr470-older.msi over the newer package exits 0"
  msi_check_installed "$msi_version" "after the older package was refused"

  msi_run "/x kr470.msi after the upgrade" /x "$(winepath -w "$msi_package")"
  msi_snapshot removed
  local scope
  for scope in HKLM HKCU files; do
    # Left by the package: what is new since before installing and was not
    # made by the use; lost: what went and the use had not removed.
    LC_ALL=C comm -23 <(msi_added before removed "$scope") <(msi_added installed used "$scope") \
      >"$work/msi-left-$scope.txt"
    LC_ALL=C comm -23 <(msi_added removed before "$scope") <(msi_added used installed "$scope") \
      >"$work/msi-lost-$scope.txt"
    if [[ -s $work/msi-left-$scope.txt || -s $work/msi-lost-$scope.txt ]]; then
      fail "after removal $scope differs from before installation"
      sed 's/^/  left: /' "$work/msi-left-$scope.txt" >&2
      sed 's/^/  lost: /' "$work/msi-lost-$scope.txt" >&2
    fi
  done
  msi_seconds=$((msi_seconds + SECONDS - started))
  echo "package tests: $msi_seconds s"
}
