// The port layer on a Windows COM port: overlapped I/O on a handle opened
// without sharing. Only this file and its .cpp know the comm API.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "PortAccess.h"
#include "SerialPort.h"

namespace tarven {

// The driver's 28-byte record for `settings`, as SetCommState takes it.
DCB DriverRecord(const PortSettings& settings);

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
    int WriteSome(const std::uint8_t* source, int count) override;
    void WaitForOutput(int maxMs, const WakeEvent* wake) override;
    void Purge() override;
    int OutputQueued() override;
    void DiscardOutput() override;
    bool Apply(const PortSettings& settings) override;
    std::string Device() const override { return device_; }

    // Takes over a handle opened for overlapped I/O. Tests hand it a named
    // pipe, which holds writes back as a busy COM port does.
    static PortHandle Adopt(HANDLE handle, std::string device);

    // The driver set-up every open applies: queue sizes and time-outs under
    // which a read of queued bytes completes at once.
    void ConfigureDriver();

private:
    WinSerialPort(HANDLE handle, std::string device, HANDLE readEvent, HANDLE writeEvent);
    // Bytes waiting in the input queue, or kGone when the driver no longer answers.
    int InputQueued();
    // True when no write of ours is still in the driver's hands.
    bool WriteSettled();
    void FinishPending(OVERLAPPED& record, bool& pending);

    HANDLE handle_;
    std::string device_;
    HANDLE readEvent_;
    HANDLE writeEvent_;
    OVERLAPPED readRecord_{};
    OVERLAPPED writeRecord_{};
    // Overlapped transfers work on buffers of the port's own: one the driver
    // still fills or drains must outlive the caller's.
    std::vector<std::uint8_t> readBuffer_;
    std::vector<std::uint8_t> writeBuffer_;
    bool writePending_ = false;
    bool gone_ = false;
};

// The one place where a Windows error from opening a port becomes our own state.
PortState PortStateFromWinError(DWORD error);

}  // namespace tarven
