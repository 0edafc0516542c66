# The Windows package under Wine: kr470.msi installed with msiexec, used from
# its installed copy, upgraded and removed. Sourced by
# scripts/kestrel-windows.sh in two steps around the end-to-end updates:
#   msi_install_tests  installs the package (per machine, quietly) and checks
#                      what it wrote; leaves it installed, the class registered
#                      to the installed Kestrel.dll (msi_installed_dll)
#   msi_removal_tests  upgrade over an older build, then removal: the registry
#                      and the install folder as before installation
# Set by the caller: root, work, build, build_win, WINEPREFIX, a display;
# `fail "text"` counts a failure.

msi_install_tests() {
  :
}

msi_removal_tests() {
  :
}
