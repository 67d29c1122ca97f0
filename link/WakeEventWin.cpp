#include <windows.h>

#include "WakeEvent.h"

namespace tarven {

// Manual reset: once a stop is signalled every later wait sees it too.
WakeEvent::WakeEvent() : native_(reinterpret_cast<std::intptr_t>(::CreateEventA(nullptr, TRUE, FALSE, nullptr))) {}

WakeEvent::~WakeEvent() {
    if (Valid()) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
}

bool WakeEvent::Valid() const { return native_ != 0; }

void WakeEvent::Signal() {
    if (Valid()) ::SetEvent(reinterpret_cast<HANDLE>(native_));
}

void WakeEvent::Clear() {
    if (Valid()) ::ResetEvent(reinterpret_cast<HANDLE>(native_));
}

bool WakeEvent::Wait(int maxMs) const {
    if (!Valid()) {
        if (maxMs > 0) ::Sleep(DWORD(maxMs));
        return false;
    }
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(native_), DWORD(maxMs < 0 ? 0 : maxMs)) == WAIT_OBJECT_0;
}

}  // namespace tarven
