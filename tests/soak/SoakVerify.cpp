#include "SoakVerify.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "LinkClock.h"
#include "LinkEngine.h"
#include "LinkSession.h"
#include "PortAccess.h"

namespace tarven::soak {

const char* Name(VerifyVerdict verdict) {
    switch (verdict) {
        case VerifyVerdict::NotRun: return "-";
        case VerifyVerdict::Identical: return "identical";
        case VerifyVerdict::Different: return "different";
        case VerifyVerdict::NotDone: return "not done";
    }
    return "?";
}

VerifyVerdict VerifyByReadBack(sim::SimReceiver& sim, const Bytes& image, std::int32_t kind, double linkSpeedUp,
                               int boundLinkMs) {
    char pattern[] = "/tmp/tarven-soak-verify-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0) throw std::runtime_error("no temporary file");
    ::close(fd);
    const std::string file = pattern;

    const double before = LinkTime().SpeedUp();
    LinkTime().SetSpeedUp(linkSpeedUp);
    SoakNotifier notifier;
    const PortMap ports({sim.DevicePath(), "", "", "", "", ""});
    auto session = std::make_unique<LinkSession>(
        RunRequest{.mode = LinkMode::ReadBack, .fileName = file, .kind = ImageKind(kind)}, LinkTime(), ports);
    int result = -1;
    if (session->Engine().HasPort() && session->Start(&notifier))
        result = notifier.WaitForFinish(std::chrono::milliseconds(LinkTime().RealMs(boundLinkMs) + 1000));
    session.reset();
    LinkTime().SetSpeedUp(before);

    std::ifstream in(file, std::ios::binary);
    const Bytes got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ::unlink(file.c_str());
    ::unlink((file + ".partial").c_str());
    if (result != kResultSuccess) return VerifyVerdict::NotDone;
    return got == image ? VerifyVerdict::Identical : VerifyVerdict::Different;
}

}  // namespace tarven::soak
