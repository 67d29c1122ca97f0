// One soak run: an upload or a read-back through the simulated receiver on a
// faulty line, under a watchdog, judged by what reached the far side. And the
// matrix of all runs, printed when the test program ends.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <random>
#include <string>
#include <vector>

#include "LinkEngine.h"
#include "SimReceiver.h"
#include "SoakVerify.h"

namespace tarven::soak {

enum class Transfer { Upload, ReadBack };
const char* Name(Transfer transfer);

enum class Outcome {
    Identical,       // result 1 and the far side holds exactly the image
    LimitDifferent,  // result 1, the far side holds something else, and a fault the
                     // protocol cannot see was on the line (a known limit, counted apart)
    Different,       // result 1, something else, and nothing on the line explains it
    Failed,          // result 0
    Mismatch,        // result 2 (read-back: lengths differ)
    LimitHang,       // stopped by the watchdog in a wait the protocol never gives up
    Hang,            // stopped by the watchdog with no such reason
    Count
};
const char* Name(Outcome outcome);
// Outcomes that fail the soak.
bool IsFault(Outcome outcome);

// The faults of one row of the matrix. `frames` is about how many frames the
// program sends in a clean run, for faults that start at a frame.
struct Profile {
    std::string name;
    int runs;  // seeds at scale 1
    std::function<void(sim::SimOptions&, std::mt19937_64&, int frames)> apply;
    double speedUp = 0;  // link clock speed for this row; 0: the direction's own
};

// Link clock speed and the watchdog bound of a transfer direction.
struct Timing {
    double speedUp;
    int boundLinkMs;  // link time a run may take before the watchdog stops it
    int marginMs;     // real time added for start-up and scheduling
};
Timing TimingOf(Transfer transfer);

struct RunReport {
    Outcome outcome = Outcome::Hang;
    int result = -1;                    // the finishing event's result; -1: none
    std::vector<std::string> limits;    // known limits seen on the line
    std::vector<std::string> problems;  // broken invariants: each one fails the run
    std::string detail;                 // what the far side got, for the log
    std::string timeline;               // both sides' frames, kept for failing runs only
    double seconds = 0;                 // real time from start to finish (or watchdog)
    double stopMs = 0;                  // the worker's stop, its own time
    double speedUp = 1;                 // the link clock's speed in this run
    // Upload: result 1 came while the last frames were still on their way;
    // the receiver got the whole image only after the PC had called it done.
    bool earlySuccess = false;
    // Upload: the engine's doubt beside its result 1; None is a confirmed success.
    UploadDoubt doubt = UploadDoubt::None;
    // Upload with result 1 of a kind with a read-back: the technician's check.
    VerifyVerdict verify = VerifyVerdict::NotRun;
    // Whether the receiver's copy equals the image, for the verify's judge.
    bool receiverHoldsImage = false;
    // An acknowledgement the receiver never sent reached the PC (an answer
    // altered into one, a reply duplicated on the line): the PC cannot tell it
    // from a real one, so not even a doubt can follow.
    bool invisibleAck = false;
};
// Upload with result 1: the receiver's copy differs from the image.
bool DeliveredDifferent(const RunReport& report);

RunReport SoakRun(Transfer transfer, const Profile& profile, std::uint64_t seed);

// Adds a run to the matrix printed at the end.
void Record(Transfer transfer, const std::string& profile, std::uint64_t seed, const RunReport& report);
void PrintMatrix(std::ostream& out);

// Extra lines for the end of the report (the vanished device's CPU share, cancels).
void Note(const std::string& line);

}  // namespace tarven::soak
