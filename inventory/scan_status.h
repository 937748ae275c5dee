// When the hardware a host shows was scanned, and whether a refresh has
// failed since: the rows the host's "general" node adds to its own. Kept in
// memory only: the console file holds a host's XML but not its time, so a
// picture read from the file has no scan time.
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
    // When this session's last scan brought the picture; nothing for a
    // picture read from the console file.
    std::optional<Clock::time_point> ScannedAt() const { return m_scanned; }

    // Appends "last scan" (when this session scanned) and "last refresh"
    // (when a refresh failed after the picture was taken) rows.
    void AppendRows(std::vector<std::u16string>& names, std::vector<std::u16string>& values) const;

private:
    std::optional<Clock::time_point> m_scanned;
    std::optional<Clock::time_point> m_refreshFailed;
};

// The time as every face prints it (IsoUtcTime): "2026-12-07T00:40:12Z".
std::u16string FormatUtcTime(CScanStatus::Clock::time_point when);
