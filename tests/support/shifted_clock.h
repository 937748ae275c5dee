// A steady clock that tests move forward at will: the real steady clock plus
// a shift, so that an hour can pass in the middle of a session. One shift
// for the whole process (the engines may read it on another thread); the
// object puts it back to zero when it goes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

class ShiftedClock {
public:
    ShiftedClock() { Shift().store(0); }
    ~ShiftedClock() { Shift().store(0); }
    ShiftedClock(const ShiftedClock&) = delete;
    ShiftedClock& operator=(const ShiftedClock&) = delete;

    static void Advance(std::chrono::milliseconds span) { Shift().fetch_add(span.count()); }

    static std::chrono::steady_clock::time_point Now()
    {
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(Shift().load());
    }
    static std::int64_t NowMs()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Now().time_since_epoch()).count();
    }

private:
    static std::atomic<std::int64_t>& Shift()
    {
        static std::atomic<std::int64_t> shift{0};
        return shift;
    }
};
