// The port layer on real pseudo-terminals: budgets, exclusivity, speed, what
// a port leaves behind, devices that are never ports, and a device that
// vanishes under a running read. A fake line that queues its output shows
// what a pseudo-terminal cannot: when queued bytes are waited for or dropped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "LinkEngine.h"
#include "PortAccess.h"
#include "PortMap.h"
#include "RunHarness.h"
#include "ScriptedPort.h"
#include "SerialPortUnix.h"
#include "SysfsDescription.h"

namespace tarven::test {
namespace {

// A pseudo-terminal pair standing in for a serial adapter; the master side plays the receiver.
struct Pty {
    Pty() {
        EXPECT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        termios tio{};
        ::tcgetattr(slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
        path = ::ttyname(slave);
    }
    ~Pty() {
        if (master >= 0) ::close(master);
        ::close(slave);
    }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    speed_t Speed() const {
        termios tio{};
        ::tcgetattr(slave, &tio);
        return ::cfgetospeed(&tio);
    }
    int master = -1, slave = -1;
    std::string path;
};

// COM1 alone, on `device`.
PortMap ComOneOn(const std::string& device) { return PortMap({device, "", "", "", "", ""}); }

PortSettings OnPort(int index) { return PortSettingsFor(index); }

RunRequest UploadOn(int index) { return RunRequest{.mode = LinkMode::Upload, .portIndex = index}; }

TEST(PortMappingRule, VariablesDecideAloneWhenAnyIsSet) {
    for (int i = 1; i <= kPortCount; ++i) ::unsetenv(("TARVEN_COM" + std::to_string(i)).c_str());
    ::setenv("TARVEN_COM2", "/dev/null-com2", 1);
    const PortMap machine = PortMap::Machine();
    const auto devices = machine.Devices();
    EXPECT_TRUE(machine.ConsoleDevices().empty()) << "the variables leave nothing out";
    ::unsetenv("TARVEN_COM2");
    EXPECT_EQ(devices[0], "");
    EXPECT_EQ(devices[1], "/dev/null-com2");
    // Looked up when asked: with the variable gone the mapping is discovery's again.
    EXPECT_NE(machine.Device(1), "/dev/null-com2");

    PortMap ports({"", "/dev/null-com2", "", "", "", ""});
    EXPECT_FALSE(ports.CanOpen(0)) << "a port without a device is never available";
    EXPECT_EQ(ports.Describe(1).state, PortState::Missing);
    ports.Override(1, "/dev/null-override");
    EXPECT_EQ(ports.Device(1), "/dev/null-override");
    ports.Override(1, "");
    EXPECT_EQ(ports.Device(1), "/dev/null-com2") << "an empty override restores the mapping";
}

TEST(PortAccess, OpensExclusivelyAgainstRootToo) {
    Pty pty;
    const PortMap ports = ComOneOn(pty.path);
    EXPECT_TRUE(ports.CanOpen(0));
    {
        LinkEngine engine(UploadOn(0), LinkTime(), ports.Open(OnPort(0)));
        ASSERT_TRUE(engine.HasPort());
        EXPECT_FALSE(ports.CanOpen(0));
        EXPECT_EQ(ports.Describe(0).state, PortState::Busy);
        EXPECT_FALSE(ports.Open(OnPort(0)));
    }
    EXPECT_TRUE(ports.CanOpen(0)) << "teardown releases the port for the next run";
}

TEST(PortAccess, IndexesOutsideTheSixPortsOpenComOne) {
    Pty pty;
    PortHandle port = ComOneOn(pty.path).Open(OnPort(6));
    ASSERT_TRUE(port);
    EXPECT_EQ(port->Device(), pty.path);
}

TEST(PortAccess, SetBaudRateAppliesToTheOpenLineOrOnlyTheCopy) {
    Pty pty;
    const PortMap ports = ComOneOn(pty.path);
    LinkEngine engine(UploadOn(0), LinkTime(), ports.Open(OnPort(0)));
    EXPECT_EQ(pty.Speed(), B115200);
    EXPECT_EQ(engine.SetBaudRate(kBaudSlow), 0);
    EXPECT_EQ(pty.Speed(), B57600);

    LinkEngine portless(UploadOn(3), LinkTime(), ports.Open(OnPort(3)));
    ASSERT_FALSE(portless.HasPort());
    portless.SetBaudRate(kBaudSlow);
    EXPECT_EQ(portless.Settings().baudRate, kBaudSlow);
}

TEST(PortAccess, ClosingPutsBackTheTerminalSettingsFoundAtOpen) {
    Pty pty;
    termios cooked{};
    ::tcgetattr(pty.slave, &cooked);
    cooked.c_lflag |= ICANON | ECHO;
    cooked.c_cc[VMIN] = 1;
    ::cfsetspeed(&cooked, B9600);
    ASSERT_EQ(::tcsetattr(pty.slave, TCSANOW, &cooked), 0);
    {
        LinkEngine engine(UploadOn(0), LinkTime(), ComOneOn(pty.path).Open(OnPort(0)));
        ASSERT_TRUE(engine.HasPort());
        engine.SetBaudRate(kBaudSlow);
        termios during{};
        ::tcgetattr(pty.slave, &during);
        ASSERT_EQ(during.c_lflag & ICANON, 0u) << "the run itself works on a raw line";
    }
    termios after{};
    ::tcgetattr(pty.slave, &after);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
    EXPECT_EQ(after.c_cc[VMIN], 1);
    EXPECT_EQ(::cfgetospeed(&after), B9600);
}

// Root opens a terminal another program holds with TIOCEXCL; a probe must
// call it busy and leave the holder's flag alone.
TEST(PortAccess, AProbeLeavesAnotherProgramsExclusiveTerminalAlone) {
    Pty pty;
    ASSERT_EQ(::ioctl(pty.slave, TIOCEXCL), 0);
    const PortMap ports = ComOneOn(pty.path);
    EXPECT_EQ(ports.Describe(0).state, PortState::Busy);
    EXPECT_FALSE(ports.CanOpen(0));
    EXPECT_FALSE(ports.Open(OnPort(0)));
    int exclusive = 0;
    ASSERT_EQ(::ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1) << "the holder lost its exclusive flag";
    ::ioctl(pty.slave, TIOCNXCL);
}

TEST(PortAccess, TheSystemConsoleIsNeverAPort) {
    Pty pty;
    const std::string list = ::testing::TempDir() + "console-active";
    std::ofstream(list) << "tty0 " << pty.path.substr(5) << "\n";  // names relative to /dev
    PortMap ports = ComOneOn(pty.path);
    ports.SetConsoleList(list);
    const PortStatus status = ports.Describe(0);
    EXPECT_FALSE(ports.Open(OnPort(0)));
    EXPECT_EQ(status.state, PortState::SystemConsole);
    EXPECT_NE(DescribePortState(status).find("system console"), std::string::npos);
    ports.SetConsoleList({});
    EXPECT_TRUE(ports.CanOpen(0)) << "an ordinary terminal again once it is no console";
}

// A session leader whose controlling terminal is the pty: the path given as a
// device is the very terminal the program was started from.
TEST(PortAccess, TheProgramsOwnTerminalIsNeverAPort) {
    Pty pty;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setsid();
        const int own = ::open(pty.path.c_str(), O_RDWR);  // becomes the controlling terminal
        if (own < 0 || ::tcgetsid(own) != ::getsid(0)) ::_exit(2);
        PortStatus status;
        PortHandle port = OpenDevice(pty.path, DefaultPortSettings(), &status);
        ::_exit(!port && status.state == PortState::OwnTerminal ? 0 : 1);
    }
    int wstatus = 0;
    ASSERT_EQ(::waitpid(child, &wstatus, 0), child);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0) << "2: the test could not make the pty its terminal";
}

// On a UART a write returns once the driver queued the bytes. A purge or a
// speed change right after it must wait until they are on the wire.
TEST(LineQueue, PurgeAndSpeedChangeWaitForQueuedOutput) {
    LinkTime().SetSpeedUp(kFastClock);
    auto owned = std::make_unique<ScriptedPort>();
    ScriptedPort* line = owned.get();
    line->QueueOutputAt(kBaudSlow);
    LinkEngine engine(RunRequest{.mode = LinkMode::Upload}, LinkTime(), std::move(owned));
    const std::vector<std::uint8_t> block(kFirstBlockSize, 0x5A);
    engine.SendDataFrame(block.data(), kFirstBlockSize);
    ASSERT_GT(line->OutputQueued(), 0);
    engine.PurgePort();
    engine.SendDataFrame(block.data(), kFirstBlockSize);
    engine.SendCommand(kCodeAbort);
    engine.SetBaudRate(kBaudNormal);
    EXPECT_EQ(line->QueuedAtPurges(), std::vector<int>{0}) << "the purge cut the frame";
    EXPECT_EQ(line->QueuedAtSpeedChanges(), std::vector<int>{0}) << "the frame's tail left at the new speed";

    // A line that never drains gets the whole allowance, then the purge goes ahead.
    line->QueueOutputAt(0);
    engine.SendCommand(kCodeAbort);
    const std::int64_t start = LinkTime().NowUs();
    engine.PurgePort();
    EXPECT_EQ(line->Purges(), 2);
    EXPECT_GE(LinkTime().NowUs() - start, std::int64_t(kOutputDrainWaitMs) * 1000);
    LinkTime().SetSpeedUp(1);
}

// Closing a real terminal waits for its output queue: a cancelled run must
// drop what is queued instead of sitting out its wire time.
TEST(LineQueue, ClosingDropsQueuedOutput) {
    auto owned = std::make_unique<ScriptedPort>();
    owned->QueueOutputAt(kBaudSlow);
    int queuedAtClose = -1;
    owned->SetQueuedAtClose(&queuedAtClose);
    auto engine = std::make_unique<LinkEngine>(RunRequest{.mode = LinkMode::Upload}, LinkTime(), std::move(owned));
    const std::vector<std::uint8_t> block(kFirstBlockSize, 0x5A);
    engine->SendDataFrame(block.data(), kFirstBlockSize);
    engine.reset();
    EXPECT_EQ(queuedAtClose, 0);
}

class ReadPortBudget : public ::testing::Test {
protected:
    void SetUp() override {
        engine = std::make_unique<LinkEngine>(UploadOn(0), LinkTime(), ComOneOn(pty.path).Open(OnPort(0)));
    }
    void TearDown() override { LinkTime().SetSpeedUp(1); }
    Pty pty;
    std::unique_ptr<LinkEngine> engine;
    std::uint8_t buffer[16] = {};
};

TEST_F(ReadPortBudget, ZeroBudgetOrZeroWantedReturnsAtOnceLeavingTheBytes) {
    pty.Send("abc");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(engine->ReadPort(buffer, 3, 0), 0);
    EXPECT_EQ(engine->ReadPort(buffer, 3, -5), 0);
    EXPECT_EQ(engine->ReadPort(buffer, 0, 10), 0);
    EXPECT_EQ(engine->ReadPort(buffer, 3, 10), 3);
    EXPECT_EQ(std::string(buffer, buffer + 3), "abc");
}

TEST_F(ReadPortBudget, SilenceEndsTheReadOnceTheBudgetIsSpent) {
    LinkTime().SetSpeedUp(100);
    const std::int64_t start = LinkTime().NowUs();
    EXPECT_EQ(engine->ReadPort(buffer, 12, 20), 0);
    EXPECT_GE(LinkTime().NowUs() - start, 2'000'000) << "20 units are 2 s of silence";
    EXPECT_FALSE(engine->DeviceGone()) << "a quiet line is not a vanished device";
}

TEST_F(ReadPortBudget, IdleTimeAddsUpAcrossGapsShorterThanTheBudget) {
    // Bytes 60 ms apart with a 100 ms budget: no single gap is long enough,
    // but the second gap brings the idle total to the budget.
    std::thread sender([&] {
        for (const char* b : {"a", "b", "c", "d"}) {
            pty.Send(b);
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
    });
    const int got = engine->ReadPort(buffer, 4, 1);
    sender.join();
    EXPECT_EQ(got, 2);
}

TEST_F(ReadPortBudget, ReadWakesAsSoonAsBytesArrive) {
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.Send("0123456789ab");
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(engine->ReadPort(buffer, 12, 50), 12);
    sender.join();
    // A 5 s budget; had the read slept in whole budget steps it would still be waiting.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(ReadPortBudget, AVanishedDeviceCountsAsIdleWithoutSpinning) {
    ::close(pty.master);
    pty.master = -1;
    rusage before{}, after{};
    ::getrusage(RUSAGE_THREAD, &before);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(engine->ReadPort(buffer, 12, 5), 0);
    const double wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    ::getrusage(RUSAGE_THREAD, &after);
    auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    const double cpuMs = ms(after.ru_utime) - ms(before.ru_utime) + ms(after.ru_stime) - ms(before.ru_stime);
    EXPECT_TRUE(engine->DeviceGone());
    EXPECT_GE(wallMs, 450);
    EXPECT_LT(cpuMs, wallMs * 0.2) << "the read spun on a hung-up device";
}

TEST_F(ReadPortBudget, WithItsWakeEventAReadStillFindsADeviceThatVanishesWhileItWaits) {
    // With the wake event a wait may last far longer than a slice; the hang-up
    // that ends it must still be read as the device gone, within the budget.
    ASSERT_TRUE(engine->CreateEvents(nullptr));
    std::thread puller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::close(std::exchange(pty.master, -1));
    });
    // 200 ms: a single wait, which a hang-up must not let sleep out.
    EXPECT_EQ(engine->ReadPort(buffer, 12, 2), 0);
    puller.join();
    EXPECT_TRUE(engine->DeviceGone()) << "the wait slept out the budget on a hung-up device";
}

// The adapter's description comes from the USB device above the tty's
// interface, whichever depth the driver puts the tty at.
TEST(PortDescription, ReadsTheUsbDeviceAboveTheTtyInAFakeTree) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("tarven-sysfs-" + std::to_string(getpid()));
    fs::remove_all(root);
    const auto write = [](const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    };
    const fs::path ftdi = root / "devices/usb1/1-1";
    write(ftdi / "idVendor", "0403");
    write(ftdi / "idProduct", "6001");
    write(ftdi / "manufacturer", "FTDI");
    write(ftdi / "product", "FT232R USB UART");
    write(ftdi / "serial", "A10K3ZQ1");
    fs::create_directories(ftdi / "1-1:1.0/ttyUSB0");
    const fs::path acm = root / "devices/usb1/1-2";
    write(acm / "idVendor", "2341");
    write(acm / "idProduct", "0043");
    fs::create_directories(acm / "1-2:1.0");
    fs::create_directories(root / "devices/platform/serial8250/tty/ttyS0");
    fs::create_directories(root / "class/tty/ttyUSB0");
    fs::create_directories(root / "class/tty/ttyACM0");
    fs::create_directories(root / "class/tty/ttyS0");
    fs::create_directory_symlink(ftdi / "1-1:1.0/ttyUSB0", root / "class/tty/ttyUSB0/device");
    fs::create_directory_symlink(acm / "1-2:1.0", root / "class/tty/ttyACM0/device");
    fs::create_directory_symlink(root / "devices/platform/serial8250", root / "class/tty/ttyS0/device");

    EXPECT_EQ(SysfsAdapterDescription("/dev/ttyUSB0", root.string()),
              "FTDI FT232R USB UART, USB 0403:6001, serial A10K3ZQ1");
    EXPECT_EQ(SysfsAdapterDescription("/dev/ttyACM0", root.string()), "USB 2341:0043");
    EXPECT_EQ(SysfsAdapterDescription("/dev/ttyS0", root.string()), "");
    EXPECT_EQ(SysfsAdapterDescription("/dev/ttyUSB9", root.string()), "");
    fs::remove_all(root);
}

}  // namespace
}  // namespace tarven::test
