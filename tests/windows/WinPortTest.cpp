// The COM port on Windows, where wine cannot show it: wine neither refuses a
// second open of a port nor holds writes back. A named pipe does hold writes
// back, so the port's pending-write paths run on one here.
#include <windows.h>
#include <gtest/gtest.h>

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

// What a strict driver does with a record: it hands out its own (with
// flow control on and limits of its own), and refuses one whose XON and XOFF
// characters are equal or whose speed its chip cannot make (here 57,600).
struct StrictDriver {
    static inline DCB applied{};
    static inline int refusals = 0;
    static BOOL WINAPI Get(HANDLE, LPDCB dcb) {
        DCB own{};
        own.DCBlength = sizeof own;
        own.BaudRate = 9600;
        own.fOutX = own.fInX = own.fOutxCtsFlow = 1;
        own.fRtsControl = RTS_CONTROL_HANDSHAKE;
        own.fDtrControl = DTR_CONTROL_HANDSHAKE;
        own.XonLim = 2048;
        own.XoffLim = 512;
        *dcb = own;
        return TRUE;
    }
    static BOOL WINAPI Set(HANDLE, LPDCB dcb) {
        if (dcb->XonChar == dcb->XoffChar || dcb->BaudRate == 57600) {
            ++refusals;
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        applied = *dcb;
        return TRUE;
    }
    static inline const CommCalls kCalls{Get, Set};
};

TEST(WinPortSettings, TheRecordAStrictDriverTakesAndASpeedItRefuses) {
    HANDLE events = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);  // any handle: the fake ignores it
    PortHandle port = WinSerialPort::Adopt(events, "\\\\.\\COM7", StrictDriver::kCalls);
    ASSERT_TRUE(port);
    PortSettings s = DefaultPortSettings();
    s.portIndex = 5;
    ASSERT_TRUE(port->Apply(s)) << "refused " << StrictDriver::refusals << " time(s)";
    const DCB& dcb = StrictDriver::applied;
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
    // No flow control of any kind, DTR and RTS low, and the port index stays out of the driver's reserved word.
    EXPECT_EQ(dcb.fParity | dcb.fOutxCtsFlow | dcb.fOutxDsrFlow | dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fOutX | dcb.fInX | dcb.fErrorChar | dcb.fNull | dcb.fAbortOnError, 0u);
    EXPECT_EQ(dcb.fDtrControl, unsigned(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fRtsControl, unsigned(RTS_CONTROL_DISABLE));
    EXPECT_EQ(dcb.wReserved, 0);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.XonLim, 2048) << "the driver's own limits stay";

    s.baudRate = 57600;
    EXPECT_FALSE(port->Apply(s)) << "a refused speed is reported, never taken as set";
    EXPECT_EQ(StrictDriver::applied.BaudRate, 115200u);
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
        HANDLE writer =
            ::CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
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

// A duplex pipe stands in for a line whose driver keeps the read time-outs:
// a one-byte read waits until a byte comes, and the input queue is what the
// pipe holds. The byte the wait for input takes must come out first, once.
struct PipeDriver {
    static BOOL WINAPI Timeouts(HANDLE, LPCOMMTIMEOUTS) { return TRUE; }
    static BOOL WINAPI Queue(HANDLE pipe, LPDWORD errors, LPCOMSTAT state) {
        DWORD queued = 0;
        if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &queued, nullptr)) return FALSE;
        *errors = 0;
        *state = COMSTAT{};
        state->cbInQue = queued;
        return TRUE;
    }
    static inline const CommCalls kCalls{::GetCommState, ::SetCommState, Timeouts, Queue};
};

struct PipeReceiver {
    PipeReceiver() {
        const std::string name = "\\\\.\\pipe\\tarven-wait-test-" + std::to_string(::GetCurrentProcessId());
        receiver = ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
        HANDLE ours = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
        port = WinSerialPort::Adopt(ours, name, PipeDriver::kCalls);
        if (port) static_cast<WinSerialPort&>(*port).ConfigureDriver();
    }
    ~PipeReceiver() {
        port.reset();
        ::CloseHandle(receiver);
    }
    void Send(const std::string& bytes) {
        DWORD n = 0;
        ::WriteFile(receiver, bytes.data(), DWORD(bytes.size()), &n, nullptr);
    }
    // What the port hands out in reads of at most `perRead` bytes, until
    // `count` came or the line stayed quiet for a while.
    std::string Take(std::size_t count, int perRead) {
        std::string got;
        std::uint8_t buffer[64];
        for (int quiet = 0; got.size() < count && quiet < 30;) {
            const int n = port->ReadQueued(buffer, perRead);
            if (n > 0) {
                got.append(reinterpret_cast<const char*>(buffer), std::size_t(n));
                continue;
            }
            ++quiet;
            port->WaitForInput(10, nullptr);
        }
        return got;
    }
    HANDLE receiver = INVALID_HANDLE_VALUE;
    PortHandle port;
};

TEST(WinPortInputWait, TheByteTheWaitTookComesFirstAndOnceAndGoesWithAPurge) {
    PipeReceiver line;
    ASSERT_TRUE(line.port);
    const struct {
        const char* bytes;
        int perRead;
    } cases[] = {{"ABC", 64}, {"DEFG", 1}, {"H", 64}};
    for (const auto& c : cases) {
        line.port->WaitForInput(20, nullptr);  // nothing queued: the read now waits in the driver's hands
        line.Send(c.bytes);
        EXPECT_EQ(line.Take(std::strlen(c.bytes) + 1, c.perRead), c.bytes) << "reads of " << c.perRead;
    }

    // A byte the wait took before a purge was input, and goes with it.
    line.port->WaitForInput(20, nullptr);
    line.Send("X");
    line.port->WaitForInput(2000, nullptr);
    line.port->Purge();
    line.Send("Y");
    EXPECT_EQ(line.Take(2, 64), "Y");
    // So do the bytes a read took from the queue beyond what it was asked for.
    line.Send("PQRS");
    EXPECT_EQ(line.Take(2, 1), "PQ");  // the second read took "QRS" from the queue
    line.port->Purge();
    line.Send("Z");
    EXPECT_EQ(line.Take(2, 64), "Z");

    // A stop ends the wait at once, and closing takes back the read still in the driver's hands.
    WakeEvent stop;
    ASSERT_TRUE(stop.Valid());
    stop.Signal();
    const auto start = std::chrono::steady_clock::now();
    line.port->WaitForInput(5000, &stop);
    line.port.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
}

}  // namespace
}  // namespace tarven
