// The simulator's end of a pseudo-terminal pair, behind the same port
// interface the program uses for a real line.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "SerialPort.h"

namespace tarven::sim {

class PtyMasterPort final : public SerialPort {
public:
    PtyMasterPort(int masterFd, std::string slavePath);
    ~PtyMasterPort() override;
    PtyMasterPort(const PtyMasterPort&) = delete;
    PtyMasterPort& operator=(const PtyMasterPort&) = delete;

    int ReadQueued(std::uint8_t* destination, int maxBytes) override;
    void WaitForInput(int maxMs, const WakeEvent* wake) override;
    int WriteSome(const std::uint8_t* source, int count) override;
    void WaitForOutput(int maxMs, const WakeEvent* wake) override;
    void Purge() override;
    int OutputQueued() override;
    void DiscardOutput() override;
    // The master has no line of its own: the program's settings live on the
    // slave side. Accepted and ignored.
    bool Apply(const PortSettings& settings) override;
    std::string Device() const override { return slavePath_; }

    // Closes the master: the slave disappears and its users see a hang-up.
    // Every later call reports the port as gone.
    void Close();
    bool Closed() const { return fd_.load() < 0; }

private:
    void Wait(short events, int maxMs, const WakeEvent* wake);

    std::atomic<int> fd_;
    std::string slavePath_;
};

// A fresh pair. `keptSlave` is a descriptor of the slave side that the
// simulator holds for its whole life: while it is open the master never sees
// a hang-up when the program closes its own descriptor, and the program's
// line settings can be read through it. Throws std::system_error.
struct PtyPair {
    int masterFd = -1;
    int keptSlave = -1;
    std::string slavePath;
};
PtyPair OpenPtyPair();

// The output speed set on a terminal in baud (115200, 57600, ...); 0 when unknown.
std::uint32_t TerminalBaud(int fd);

}  // namespace tarven::sim
