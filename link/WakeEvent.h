// The signal a worker's waits watch besides the device, so that a stop never
// waits out a slice. The platform file behind it (WakeEventUnix.cpp or
// WakeEventWin.cpp) holds an eventfd or an event object; ports hand the
// native object to their own multi-way wait.
#pragma once

#include <cstdint>

namespace tarven {

class WakeEvent {
public:
    // Created cleared. Check Valid(): the system may refuse the object.
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    bool Valid() const;
    // Any thread. Stays signalled until Clear().
    void Signal();
    void Clear();
    // Sleeps up to maxMs; true as soon as the event is signalled.
    bool Wait(int maxMs) const;

    // The eventfd (Unix) or the event HANDLE (Windows), for a port that waits
    // on its device and on this event at once.
    std::intptr_t Native() const { return native_; }

private:
    std::intptr_t native_;
};

}  // namespace tarven
