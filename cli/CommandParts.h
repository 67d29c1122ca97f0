// What the verbs of tarven-link share (Commands.cpp, UploadCommand.cpp,
// Verify.cpp): messages, failures and their exit status, the held port.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "Commands.h"
#include "LinkRun.h"
#include "Progress.h"

namespace tarven::cli {

void Say(std::FILE* stream, const std::string& text);
// "2.5 s"
std::string SecondsText(double s);

ProgressStyle StyleFor(const Options& options, const Console& console);

// The failure text of a run that did not succeed, and its exit status.
struct Failure {
    int status = kExitRunFailed;
    std::string text;
};
Failure DescribeUnfinishedRun(const RunOutcome& outcome, const RunSetup& setup);

// How the run ended, in words: kept as the reason of the run's record, and
// told to a batch parent; alone, the text already went out.
void NoteOutcome(const Options& options, Console& console, const std::string& outcome);
// Says "label: text" and notes it as the outcome; returns `status`.
int Fail(const Options& options, Console& console, int status, const std::string& label, const std::string& text);

// The command's receiver: the first target's port, opened the way the
// window's probe does but kept open for the run, so nothing can take it in
// between.
struct HeldPort {
    int index = 0;
    std::string label;
    PortHandle port;
};
// kExitOk with `held` filled, or the exit status of a port that cannot be
// opened, told.
int OpenTarget(const Options& options, const PortMap& ports, Console& console, HeldPort& held);

// A version query on the held port (which comes back only where the setup
// keeps it): kExitOk with the receiver's texts in `texts` and in the record,
// or the run's failure, told; `unanswered` ends the text of a time-out.
int QueryVersions(const Options& options, Console& console, HeldPort& target, const RunSetup& setup,
                  const std::string& unanswered, VersionTexts& texts);
// The access level of --password; nothing (told) when it is no password.
std::optional<AccessLevel> LevelOrComplain(const Options& options, Console& console);

}  // namespace tarven::cli
