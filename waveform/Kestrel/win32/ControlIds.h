// The Win32 windows' control identifiers and titles. The windows create their
// controls with these, and whatever operates a window from outside (the test
// driver, a screen reader's script) finds them by the same numbers; a number
// once given keeps its meaning. Every control is a direct child of its
// top-level window, those on frmSetup's tab pages included (a page's
// controls are shown while its tab is selected): GetDlgItem(window, id)
// finds each one. The windows' class is "KestrelTopWindow".
#pragma once

namespace kestrel::win32 {

inline constexpr const char* kSetupTitle = "Velmora KR470A Firmware Update";
inline constexpr const char* kFinderTitle = "Find Velmora KR470A";

// frmSetup
inline constexpr int kTabSetup = 1001;
inline constexpr int kLabel1 = 1002;
inline constexpr int kTxtAddress = 1003;
inline constexpr int kLabel2 = 1004;
inline constexpr int kTxtInputFile = 1005;
inline constexpr int kChkChecking = 1006;
inline constexpr int kLabel3 = 1007;
inline constexpr int kTxtConnectAddress = 1008;
inline constexpr int kCmdConnect = 1009;
inline constexpr int kLabel4 = 1010;
inline constexpr int kTxtFindFile = 1011;
inline constexpr int kCmdFindFile = 1012;
inline constexpr int kCmdDescription = 1013;
inline constexpr int kCmdOK = 1014;  // "Update"
inline constexpr int kCmdCancel = 1015;
inline constexpr int kPbrUpdate = 1016;
inline constexpr int kTxtCurrentMsg = 1017;  // the message list

// frmConnect
inline constexpr int kLstInstruments = 1101;
inline constexpr int kTxtProbeAddress = 1102;
inline constexpr int kCmdAdd = 1103;
inline constexpr int kCmdSearch = 1104;
inline constexpr int kCmdStop = 1105;
inline constexpr int kCmdConnectInstrument = 1106;
inline constexpr int kCmdDisconnect = 1107;
inline constexpr int kLblStatus = 1108;
inline constexpr int kLblSupported = 1109;
inline constexpr int kLblProblems = 1110;
inline constexpr int kCmdClose = 1111;

// Message boxes are the system's own (MessageBoxA, window class "#32770"):
// their text is the static control 0xFFFF, their buttons IDOK, IDCANCEL,
// IDYES and IDNO.
inline constexpr int kMessageBoxText = 0xFFFF;

}  // namespace kestrel::win32
