// When the hardware a host shows was scanned, and whether a refresh has
// failed since: the rows the host's "general" node adds to its own. The
// console file keeps both times beside the host's XML (Restore); a scan of
// this session is told apart from one read from the file.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

class CScanStatus {
public:
    using Clock = std::chrono::system_clock;

    // A scan brought a new picture.
    void Scanned(Clock::time_point when);
    // A refresh failed; the picture shown (if any) stays.
    void RefreshFailed(Clock::time_point when) { m_refreshFailed = when; }
    // The picture went (a new address): nothing is known any more.
    void Forget();
    // The times the console file kept (a file of an older release keeps none).
    void Restore(std::optional<Clock::time_point> scanned, std::optional<Clock::time_point> refreshFailed);
    // When this session's last scan brought the picture; nothing for a
    // picture read from the console file.
    std::optional<Clock::time_point> ScannedAt() const { return m_scanned; }
    // When the picture shown was taken, in this session or before.
    std::optional<Clock::time_point> LastScanAt() const { return m_scanned ? m_scanned : m_stored; }
    // When a refresh failed after the picture shown was taken.
    std::optional<Clock::time_point> RefreshFailedAt() const { return m_refreshFailed; }

    // Appends "last scan" (when this session scanned) and "last refresh"
    // (when a refresh failed after the picture was taken) rows.
    void AppendRows(std::vector<std::u16string>& names, std::vector<std::u16string>& values) const;

private:
    std::optional<Clock::time_point> m_scanned;
    std::optional<Clock::time_point> m_stored;
    std::optional<Clock::time_point> m_refreshFailed;
};

// The time as every face prints it (IsoUtcTime): "2026-12-07T00:40:12Z".
std::u16string FormatUtcTime(CScanStatus::Clock::time_point when);
