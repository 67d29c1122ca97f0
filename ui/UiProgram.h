// What the Qt window keeps for the whole run of the program: the state its
// windows share and the one road its message boxes take. main creates the one
// object; every window is handed it, or the part of it it needs.
#pragma once

#include "MessageHook.h"
#include "ProgramState.h"

namespace tarven {

class UiProgram {
public:
    ProgramState& State() { return state_; }
    MessageRoad& Messages() { return messages_; }

private:
    ProgramState state_;
    MessageRoad messages_;
};

}  // namespace tarven
