// What travels between a fleet refresh and its worker processes: the scan's
// request (with each jump host's own login, resolved by the parent, which
// holds the inventory) and the scan's result. Both directions are decoded
// by a bounded reader: short, oversized or trailing input fails cleanly,
// and every text must be UTF-8 that reads back to the same bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "scan/scan_request.h"

inline constexpr std::size_t kMaxWorkerRecord = 1u << 20;
// The longest text of a result (failure, note, root reason), in UTF-16
// characters, and the most notes an answer carries.
inline constexpr std::size_t kMaxFailureText = 4096;
inline constexpr std::size_t kMaxWorkerNotes = 16;
// The longest text of a request (address, login, secrets, paths), in bytes.
inline constexpr std::size_t kMaxWorkerText = 4096;
inline constexpr std::size_t kMaxWorkerJumps = 8;

// The record; empty when the request cannot be written (too many jump
// hosts, a text too long).
std::string EncodeWorkerRecord(const SScanRequest& request);
bool DecodeWorkerRecord(std::string_view bytes, SScanRequest& request);
// The answer: texts are cut to kMaxFailureText and notes to
// kMaxWorkerNotes; the XML travels as the worker gives it (packed, as the
// console file keeps it) and must fit the largest output a scan may fetch.
std::string EncodeWorkerAnswer(const SScanResult& result);
bool DecodeWorkerAnswer(std::string_view bytes, SScanResult& result);
