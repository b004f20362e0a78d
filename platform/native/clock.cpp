// The stand-in's clock: GetTickCount64, the C runtime's clock() and Sleep, on the
// test clock or on wall time (see control.h).
#include <windows.h>

#include "control.h"

#include <chrono>
#include <map>
#include <thread>
#include <vector>

#undef clock

namespace {

struct Clock {
    bool real = false;
    uint64_t now = 0;      // the test clock, in milliseconds
    uint64_t advanced = 0; // added to wall time by advanceClock
    std::map<int, std::function<void()>> listeners;
    int lastListener = 0;
};

Clock& theClock()
{
    static Clock clock;
    return clock;
}

const auto processStart = std::chrono::steady_clock::now();

uint64_t wallMilliseconds()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - processStart)
                                     .count());
}

} // namespace

void Sleep(DWORD milliseconds)
{
    if (theClock().real)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    else
        platform::advanceClock(milliseconds);
}

ULONGLONG GetTickCount64()
{
    const Clock& clock = theClock();
    return clock.real ? wallMilliseconds() + clock.advanced : clock.now;
}

clock_t platformClock()
{
    return static_cast<clock_t>(static_cast<int32_t>(static_cast<uint32_t>(GetTickCount64())));
}

namespace platform {

void useRealClock() { theClock().real = true; }
bool usesRealClock() { return theClock().real; }

void advanceClock(uint64_t milliseconds)
{
    Clock& clock = theClock();
    if (clock.real) {
        clock.advanced += milliseconds;
        return;
    }
    clock.now += milliseconds;
    std::vector<int> ids; // a listener may start or end another
    for (const auto& [id, listener] : clock.listeners)
        ids.push_back(id);
    for (int id : ids) {
        auto listener = clock.listeners.find(id);
        if (listener != clock.listeners.end())
            listener->second();
    }
}

int listenToClock(std::function<void()> listener)
{
    Clock& clock = theClock();
    clock.listeners[++clock.lastListener] = std::move(listener);
    return clock.lastListener;
}

void stopListening(int id) { theClock().listeners.erase(id); }

void resetClock() { theClock() = Clock{}; }

} // namespace platform
