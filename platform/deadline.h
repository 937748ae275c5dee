// A point in time on the monotonic clock that a wait must not pass. The
// wall clock never enters: a clock set back or forward changes no limit.
#pragma once

#include <chrono>
#include <cstdint>

class CDeadline {
public:
    using Clock = std::chrono::steady_clock;

    // No deadline: waits are bounded by their own time-out only.
    CDeadline() = default;
    static CDeadline In(std::chrono::milliseconds span) { return CDeadline(Clock::now() + span); }
    static CDeadline InSeconds(long long seconds) { return In(std::chrono::seconds(seconds)); }

    bool IsSet() const { return m_bSet; }
    bool Passed() const { return m_bSet && Clock::now() >= m_at; }
    // Milliseconds left (0 once passed); a large value when none is set.
    std::int64_t RemainingMs() const
    {
        if (!m_bSet) return kNone;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_at - Clock::now()).count();
        return left < 0 ? 0 : static_cast<std::int64_t>(left);
    }
    // The earlier of two deadlines (an unset one never wins).
    static CDeadline Earlier(const CDeadline& a, const CDeadline& b)
    {
        if (!a.m_bSet) return b;
        if (!b.m_bSet) return a;
        return a.m_at <= b.m_at ? a : b;
    }
    // The same deadline moved later by `span` (time spent waiting for
    // something else than the peer, such as the user's answer).
    CDeadline Later(std::chrono::milliseconds span) const { return m_bSet ? CDeadline(m_at + span) : *this; }
    bool operator==(const CDeadline& other) const { return m_bSet == other.m_bSet && (!m_bSet || m_at == other.m_at); }

    static constexpr std::int64_t kNone = INT64_C(0x7FFFFFFFFFFFFFFF);

private:
    explicit CDeadline(Clock::time_point at) : m_at(at), m_bSet(true) {}

    Clock::time_point m_at{};
    bool m_bSet = false;
};
