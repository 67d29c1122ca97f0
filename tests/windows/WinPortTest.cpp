// The COM port on Windows, where wine cannot show it: wine neither refuses a
// second open of a port nor holds writes back. A named pipe does hold writes
// back, so the port's pending-write paths run on one here.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "PortAccess.h"
#include "PortMap.h"
#include "SerialPortWin.h"

namespace tarven {
namespace {

TEST(WinPortSettings, DriverRecordCarriesTheLineSettingsAndNothingElse) {
    PortSettings s;
    s.portIndex = 5;
    s.baudRate = 57600;
    s.byteSize = 7;
    s.parity = 2;
    s.stopBits = 2;
    const DCB dcb = DriverRecord(s);
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 57600u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, 2);
    EXPECT_EQ(dcb.StopBits, 2);
    // No flow control of any kind, and the port index stays out of the driver's reserved word.
    EXPECT_EQ(dcb.fParity | dcb.fOutxCtsFlow | dcb.fOutxDsrFlow | dcb.fDtrControl | dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fOutX | dcb.fInX | dcb.fErrorChar | dcb.fNull | dcb.fRtsControl | dcb.fAbortOnError, 0u);
    EXPECT_EQ(dcb.wReserved, 0);
    EXPECT_EQ(dcb.XonChar | dcb.XoffChar | dcb.ErrorChar | dcb.EofChar | dcb.EvtChar, 0);
}

TEST(WinPorts, ComNamesAndDeviceOverrides) {
    PortMap ports = PortMap::Machine();
    EXPECT_EQ(ports.Device(0), "\\\\.\\COM1");
    EXPECT_EQ(ports.Device(5), "\\\\.\\COM6");
    // Ports above COM9 open only by their device name; both spellings are taken.
    ports.Override(1, "COM12");
    ports.Override(2, "\\\\.\\COM13");
    EXPECT_EQ(ports.Device(1), "\\\\.\\COM12");
    EXPECT_EQ(ports.Device(2), "\\\\.\\COM13");
    ports.Override(1, "");
    EXPECT_EQ(ports.Device(1), "\\\\.\\COM2");
}

TEST(WinPorts, OpenErrorsNameWindowsOwnCauses) {
    // What CreateFile answers for a port another program holds (wine never does).
    PortStatus held{PortStateFromWinError(ERROR_ACCESS_DENIED), "\\\\.\\COM1", ERROR_ACCESS_DENIED};
    PortStatus shared{PortStateFromWinError(ERROR_SHARING_VIOLATION), "\\\\.\\COM1", ERROR_SHARING_VIOLATION};
    PortStatus missing{PortStateFromWinError(ERROR_FILE_NOT_FOUND), "\\\\.\\COM9", ERROR_FILE_NOT_FOUND};
    EXPECT_NE(DescribePortState(held).find("another program"), std::string::npos);
    EXPECT_NE(DescribePortState(shared).find("in use by another program"), std::string::npos);
    EXPECT_EQ(missing.state, PortState::Missing);
    for (const PortStatus& s : {held, shared, missing})
        EXPECT_EQ(DescribePortState(s).find("dialout"), std::string::npos) << DescribePortState(s);
}

// A port on the writing end of a pipe whose reader takes nothing until told.
struct PipeLine {
    PipeLine() {
        const std::string name = "\\\\.\\pipe\\tarven-port-test-" + std::to_string(::GetCurrentProcessId());
        reader = ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1,
                                    kPipeBytes, kPipeBytes, 0, nullptr);
        HANDLE writer = ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                      nullptr);
        port = WinSerialPort::Adopt(writer, name);
    }
    ~PipeLine() {
        port.reset();
        ::CloseHandle(reader);
    }
    // Fills the pipe until the port holds a write back; the bytes it took.
    int FillUntilHeld() {
        std::vector<std::uint8_t> block(4116, 0x5A);
        int taken = 0;
        for (int i = 0; i < 64; ++i) {
            const int n = port->WriteSome(block.data(), int(block.size()));
            if (n == 0) return taken;
            taken += n;
        }
        return -1;
    }
    void Drain(int bytes) {
        std::vector<char> sink(std::size_t(bytes) + 1);
        OVERLAPPED record{};
        record.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD got = 0;
        for (int left = bytes; left > 0; left -= int(got)) {
            got = 0;
            if (!::ReadFile(reader, sink.data(), DWORD(left), &got, &record))
                ::GetOverlappedResult(reader, &record, &got, TRUE);
            if (got == 0) break;
        }
        ::CloseHandle(record.hEvent);
    }
    static constexpr DWORD kPipeBytes = 4096;
    HANDLE reader = INVALID_HANDLE_VALUE;
    PortHandle port;
};

TEST(WinPortPendingWrite, TakesNoMoreUntilTheHeldWriteCompletesThenGoesOn) {
    PipeLine line;
    ASSERT_TRUE(line.port);
    const int taken = line.FillUntilHeld();
    ASSERT_GT(taken, 0) << "the pipe never held a write back";
    EXPECT_GT(line.port->OutputQueued(), 0);
    std::thread reader([&] { line.Drain(taken); });
    // The held write completes once the reader takes its bytes; then the port takes more.
    const std::uint8_t more[12] = {};
    int n = 0;
    for (int i = 0; i < 200 && n == 0; ++i) {
        line.port->WaitForOutput(10, nullptr);
        n = line.port->WriteSome(more, sizeof more);
    }
    reader.join();
    EXPECT_EQ(n, int(sizeof more));
}

TEST(WinPortPendingWrite, StopWakesTheOutputWaitAndCloseAbandonsTheHeldWrite) {
    PipeLine line;
    ASSERT_TRUE(line.port);
    ASSERT_GT(line.FillUntilHeld(), 0);
    WakeEvent stop;
    ASSERT_TRUE(stop.Valid());
    stop.Signal();
    const auto start = std::chrono::steady_clock::now();
    line.port->WaitForOutput(5000, &stop);
    line.port->DiscardOutput();
    line.port.reset();  // must not wait for a reader that never comes
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, std::chrono::milliseconds(2500));
}

}  // namespace
}  // namespace tarven
