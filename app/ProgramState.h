// What one run of the program remembers from one window or run to the next.
// main creates the one object and hands it to the windows that need it;
// nothing of it outlives the program.
#pragma once

namespace tarven {

class ProgramState {
public:
    // The "Please Read Version first!" reminder is given once per program run.
    bool VersionReminderShown() const { return versionReminderShown_; }
    void SetVersionReminderShown(bool shown) { versionReminderShown_ = shown; }

    // The total the progress dialog last announced, in KB, which its counter
    // shows each position against.
    int ProgressTotalKb() const { return progressTotalKb_; }
    void SetProgressTotalKb(int kb) { progressTotalKb_ = kb; }

private:
    bool versionReminderShown_ = false;
    int progressTotalKb_ = 0;
};

}  // namespace tarven
