// The port layer on a Windows COM port: overlapped I/O on a handle opened
// without sharing. Only this file and its .cpp know the comm API.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "PortAccess.h"
#include "SerialPort.h"

namespace tarven {

// The comm calls whose answers depend on the driver. Wine takes any record;
// Windows' own drivers refuse some (SetCommState fails when XonChar equals
// XoffChar, or for a speed the chip cannot make), so tests put a driver's
// refusals in place of the real calls. The last two let a test stand a pipe
// in for a driver: a pipe has no time-outs, and its queue is what it holds.
struct CommCalls {
    BOOL(WINAPI* getCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* setCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* setCommTimeouts)(HANDLE, LPCOMMTIMEOUTS) = ::SetCommTimeouts;
    BOOL(WINAPI* clearCommError)(HANDLE, LPDWORD, LPCOMSTAT) = ::ClearCommError;
};
const CommCalls& SystemCommCalls();

// The record the line gets: the driver's own, `found`, with the line
// settings over it, every kind of flow control off, DTR and RTS held low,
// and XON/XOFF characters a driver accepts although XON/XOFF stays off.
DCB DriverRecord(const DCB& found, const PortSettings& settings);

class WinSerialPort final : public SerialPort {
public:
    // Opens `device` ("\\.\COM3") for overlapped I/O with no sharing, so that
    // nobody else, this program included, can open it while we hold it.
    // Null with `status` filled on failure.
    static PortHandle Open(const std::string& device, PortStatus* status);
    // Ends any transfer still in flight (output still queued is discarded,
    // not waited for) before the buffers it uses go away.
    ~WinSerialPort() override;

    int ReadQueued(std::uint8_t* destination, int maxBytes) override;
    void WaitForInput(int maxMs, const WakeEvent* wake) override;
    int InputAvailable() override;
    int WriteSome(const std::uint8_t* source, int count) override;
    void WaitForOutput(int maxMs, const WakeEvent* wake) override;
    void Purge() override;
    int OutputQueued() override;
    void DiscardOutput() override;
    bool Apply(const PortSettings& settings) override;
    std::string Device() const override { return device_; }

    // Takes over a handle opened for overlapped I/O. Tests hand it a named
    // pipe, which holds writes back as a busy COM port does, and comm calls
    // of their own.
    static PortHandle Adopt(HANDLE handle, std::string device, const CommCalls& calls = SystemCommCalls());

    // The driver set-up every open applies: queue sizes, and time-outs under
    // which a read of queued bytes completes at once and a read on an empty
    // queue ends with the first byte that arrives (the wait for input).
    void ConfigureDriver();

private:
    WinSerialPort(HANDLE handle, std::string device, const CommCalls& calls, HANDLE readEvent, HANDLE writeEvent,
                  HANDLE arrivalEvent);
    // ReadQueued's own read of all the queue holds, into the held bytes;
    // how many came, or kGone.
    int ReadFromQueue();
    // Hands out up to maxBytes of the held bytes, oldest first.
    int TakeHeld(std::uint8_t* destination, int maxBytes);
    std::size_t HeldCount() const { return held_.size() - heldAt_; }
    // Bytes waiting in the input queue, or kGone when the driver no longer answers.
    int InputQueued();
    // True when no write of ours is still in the driver's hands.
    bool WriteSettled();
    // Takes a transfer back from the driver, waiting a bounded time; a driver
    // that never gives it back (a pulled adapter wedged) leaves the port gone.
    void FinishPending(OVERLAPPED& record, bool& pending);
    // Keeps one read of a single byte in the driver's hands, ended by the
    // driver when a byte arrives; false when it cannot (the device gone, or a
    // driver without such reads, after which the queue is looked at in slices).
    bool ArmArrivalRead();
    // Takes the arrival read's byte once the driver has finished it; false
    // while the read is still in the driver's hands.
    bool CollectArrival();
    // Waits out a slice in which the driver cannot wake us: looking at the
    // queue now and then, or just sleeping while the device is gone.
    void SleepOrPoll(int maxMs, const WakeEvent* wake);

    // A transfer the driver will not hand back: the port is given up.
    void Wedge();

    // What the driver works on while a transfer is in flight: the records and
    // the port's own buffers (one the driver still fills or drains must
    // outlive the caller's). They live apart from the port, so a port given
    // up can leave them to a wedged driver.
    struct InFlight {
        OVERLAPPED read{};
        OVERLAPPED write{};
        OVERLAPPED arrival{};
        std::uint8_t arrivalByte = 0;
        std::vector<std::uint8_t> readBuffer;
        std::vector<std::uint8_t> writeBuffer;
    };

    HANDLE handle_;
    std::string device_;
    const CommCalls& calls_;
    HANDLE readEvent_;
    HANDLE writeEvent_;
    HANDLE arrivalEvent_;
    std::unique_ptr<InFlight> io_;
    bool writePending_ = false;
    bool arrivalReads_ = false;  // the driver took the time-outs that make a read the wait for input
    bool arrivalPending_ = false;
    // Input the driver has handed over and no read has taken yet: the arrival
    // read's byte, or the rest of a queue read. Handed out first, in order.
    std::vector<std::uint8_t> held_;
    std::size_t heldAt_ = 0;
    bool gone_ = false;
    bool wedged_ = false;  // given up: every call reports the device gone
};

// The one place where a Windows error from opening a port becomes our own state.
PortState PortStateFromWinError(DWORD error);

}  // namespace tarven
