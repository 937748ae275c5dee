// Sources of noise for random pools: the clock, the clock adjustment, the
// power status and the entries of the system folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// The current system time (16 bytes, as a SYSTEMTIME record).
std::vector<std::uint8_t> SystemTimeBytes();
// The system time adjustment (12 bytes: adjustment, increment, disabled).
std::vector<std::uint8_t> SystemTimeAdjustmentBytes();
// The power status (12 bytes); empty where the machine reports none.
std::vector<std::uint8_t> SystemPowerStatusBytes();
// Milliseconds since an arbitrary start, as a 32-bit counter.
#ifdef _WIN32
#include <windows.h>
#else
std::uint32_t GetTickCount();
#endif

constexpr std::size_t kFindDataSize = 320;
// Calls `each` with one 320-byte record per entry of the system folder
// (names, sizes, times), as a directory search would report them.
void ForEachSystemFolderEntry(const std::function<void(const std::uint8_t* record, std::size_t size)>& each);
