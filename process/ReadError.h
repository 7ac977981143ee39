#pragma once

// The short codes that reads of the game raise as std::runtime_error, and
// that callers compare or show. Each names the operation that raised it;
// the higher layers catch a lower one's code and raise their own, so a code
// says where a failed read was met, not which byte failed.

// CProcess::ReadByte: the platform's read failed.
inline constexpr const char* kErrReadByte = "x1";
// CProcess::ReadDword: the platform's read failed.
inline constexpr const char* kErrReadDword = "x2";
// CProcess::ReadDword: fewer than four bytes came.
inline constexpr const char* kErrReadDwordShort = "x3";
// CProcess::ReadWord: the platform's read failed.
inline constexpr const char* kErrReadWord = "x4";
// CProcess::ReadBlock: the platform's read failed.
inline constexpr const char* kErrReadBlock = "x5";
// CGameLayout::Detect: the read of the version byte failed.
inline constexpr const char* kErrDetectVersion = "x6";
// PrepareDisplayFrame (CVideoManager::GetFrame): a read on the display path.
inline constexpr const char* kErrDisplayFrame = "x8";
// CaptureTick (CVideoManager::CaptureFrame): a read during the capture.
inline constexpr const char* kErrCapture = "x9";
// CGameLayout::GetAddress: the address table was asked while the game's
// kind is unknown.
inline constexpr const char* kErrAddressTable = "x10";
