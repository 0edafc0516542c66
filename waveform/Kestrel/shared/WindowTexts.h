// The texts and settings keys the plug-in's windows share on every platform:
// the setup window's defaults, what it asks the file dialog, and the
// finder's titles and its own words.
#pragma once

namespace kestrel {

// The setup window.
inline constexpr const char* kDefaultAddress = "GPIB0::10";
inline constexpr const char* kDefaultFile = "VKR470_104.INI";
inline constexpr const char* kAddressKey = "IOAddress";
inline constexpr const char* kFileKey = "INIFile";
inline constexpr const char* kFileFilter = "Firmware Updates (*.ini)|*.ini|All Files (*.*)|*.*";
inline constexpr const char* kOpenDirKey = "OpenDir";
inline constexpr const char* kSuggestedFile = "VKR470_104.ini";
inline constexpr const char* kFindFileTitle = "Find Firmware Update File";
inline constexpr const char* kUpdateFailedText = "Firmware update failed!";
// Said once a showing when the settings cannot be read.
inline constexpr const char* kSettingsUnreadableLead = "Settings cannot be saved: ";
inline constexpr const char* kSettingsUnreadableTail =
    ".\r\nThe address and update file shown are not the stored ones, "
    "and changes made here are not kept.";

// The instrument finder.
inline constexpr const char* kFinderLoadErrorTitle = "Firmware Update-Connect Form";
inline constexpr const char* kFinderCloseErrorTitle = "Connection Close Error";
inline constexpr const char* kFinderCodeName = "Tessera";
inline constexpr const char* kFinderModel = "KR470A";
// What a port found present but not configured shows instead of a reply.
inline constexpr const char* kNotAsked =
    "not asked: not in the I/O configuration (type it and press Add to ask it)";
inline constexpr const char* kAsking = "asking...";
inline constexpr const char* kProbeAddressHint =
    "Type an address, e.g. TCPIP0::192.168.0.7::5025::SOCKET";

}  // namespace kestrel
