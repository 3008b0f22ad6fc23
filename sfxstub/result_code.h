// Result codes shared by every subsystem: 0 is success, otherwise a Windows system error code or one
// of the application-defined codes with bit 29 set. Portable: holds the numbers, not windows.h.
#ifndef SFXSTUB_RESULT_CODE_H_
#define SFXSTUB_RESULT_CODE_H_

#include <cstdint>

namespace sfx {

using ResultCode = uint32_t;

constexpr ResultCode kOk = 0;
constexpr ResultCode kErrorFileNotFound = 2;
constexpr ResultCode kErrorPathNotFound = 3;
constexpr ResultCode kErrorAccessDenied = 5;
constexpr ResultCode kErrorInvalidHandle = 6;
constexpr ResultCode kErrorNotEnoughMemory = 8;
constexpr ResultCode kErrorWriteFault = 29;
constexpr ResultCode kErrorReadFault = 30;
constexpr ResultCode kErrorCannotMake = 82;
constexpr ResultCode kErrorInvalidParameter = 87;
constexpr ResultCode kErrorDiskFull = 112;
constexpr ResultCode kErrorCallNotImplemented = 120;
constexpr ResultCode kErrorDirNotEmpty = 145;
constexpr ResultCode kErrorInvalidOrdinal = 182;
constexpr ResultCode kErrorAlreadyExists = 183;
constexpr ResultCode kErrorFilenameExceedsRange = 206;
constexpr ResultCode kErrorDirectory = 267;  // not a directory
constexpr ResultCode kErrorFileTooLarge = 223;
constexpr ResultCode kErrorFileInvalid = 1006;
constexpr ResultCode kErrorCancelled = 1223;
constexpr ResultCode kErrorInstallUserExit = 1602;
constexpr ResultCode kErrorInstallFailure = 1603;
constexpr ResultCode kErrorRebootInitiated = 1641;
constexpr ResultCode kErrorSuccessRebootRequired = 3010;

// Application-defined codes.
constexpr ResultCode kSetupSuccessAlternate = 0x20000000;  // a setup program's "done" code
constexpr ResultCode kBadSignature = 0x2000000B;      // record missing, not accepted or not matching
constexpr ResultCode kRunAgain = 0x20000010;          // the setup program asks to be run again
constexpr ResultCode kDamagedPackage = 0x20000011;    // damaged blob, or a byte range outside the file
constexpr ResultCode kBadChunkDirectory = 0xFFFFFFFF;  // a "CMDP" chunk of the wrong length

}  // namespace sfx

#endif  // SFXSTUB_RESULT_CODE_H_
