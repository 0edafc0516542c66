#!/bin/sh
# links-no-osprey-console.sh PROGRAM: passes when PROGRAM holds none of
# Osprey's console, log, signal or port functions (what the update-file
# library leaves out), and names those it finds otherwise.
# The whole symbol list is read before it is searched.
symbols=$(nm -C "$1") || exit 2
if printf '%s\n' "$symbols" | grep -E 'osprey::(TeePrintf|PromptUser|WaitForReset|ShowProgress|PrintDurationEstimate|StartLogging|StopLogging|CloseLogNow|RefuseLogging|ReleasePortsNow|InstallSignalExit|SetDownloadPhase|SerialLink|PosixPort|RunUpdate|ReportCodeSection|PrintDescription)[(:]'; then
  exit 1
fi
exit 0
