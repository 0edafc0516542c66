// The VXI-11 core channel's numbers, as both its ends use them: the program,
// the four procedures the instrument-I/O library calls, the flags, reasons
// and error codes of their arguments and replies.
#pragma once

#include <cstdint>

namespace kr470::vxi11 {

inline constexpr uint32_t kCoreProgram = 0x0607AF;
inline constexpr uint32_t kCoreVersion = 1;

inline constexpr uint32_t kCreateLink = 10;
inline constexpr uint32_t kDeviceWrite = 11;
inline constexpr uint32_t kDeviceRead = 12;
inline constexpr uint32_t kDestroyLink = 23;

inline constexpr int32_t kFlagEnd = 8;  // device_write: the data ends a message

inline constexpr int32_t kReasonRequestCount = 1;  // device_read: as many bytes as asked
inline constexpr int32_t kReasonEnd = 4;           // device_read: the message ended

inline constexpr int32_t kNoError = 0;
inline constexpr int32_t kDeviceNotAccessible = 3;
inline constexpr int32_t kInvalidLink = 4;
inline constexpr int32_t kIoTimeout = 15;

}  // namespace kr470::vxi11
