// The window against the simulated receiver on a pseudo-terminal mapped to
// COM1: the real worker, the real line, the real files.
#include <gtest/gtest.h>

#include <random>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include "CommandOutcomes.h"
#include "DialogTemplate.h"
#include "LinkEngine.h"
#include "MainDialog.h"
#include "OutcomeTexts.h"
#include "OverwriteDialog.h"
#include "SimReceiver.h"
#include "TransferDialog.h"
#include "UiTestSupport.h"

namespace tarven {
namespace {

using test::Messages;
using test::TempFolder;

QByteArray RandomBytes(int size, unsigned seed) {
    std::mt19937 random(seed);
    QByteArray bytes(size, '\0');
    for (char& b : bytes) b = static_cast<char>(random() & 0xFF);
    return bytes;
}

QByteArray FileBytes(const QString& name) {
    QFile file(name);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// A run that never finishes is cancelled, so a broken link fails the test
// instead of hanging it.
class Watchdog {
public:
    explicit Watchdog(int ms) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [] {
            if (auto* run = qobject_cast<TransferDialog*>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "the run did not finish in time";
                run->reject();
            }
        });
        timer_.start(ms);
    }

private:
    QTimer timer_;
};

struct SimBench {
    TempFolder folder;
    sim::SimReceiver receiver;
    PortMap ports = test::PortsOn({{0, receiver.DevicePath()}});
    Messages messages;
    Watchdog watchdog{30000};
};

TEST(EndToEnd, VersionReadShowsTheReceiversTexts) {
    SimBench bench;
    bench.receiver.UpdateOptions([](sim::SimOptions& o) {
        o.version.hardware = "HW-E2E";
        o.version.software = "SW 9.8.7";
    });
    MainDialog window(bench.messages.program, bench.ports);
    test::ClickControl(&window, 11970);
    EXPECT_EQ(FindControlAs<QLineEdit>(&window, 1000)->text(), QStringLiteral("SW 9.8.7"));
    EXPECT_EQ(FindControlAs<QLineEdit>(&window, 1001)->text(), QStringLiteral("HW-E2E"));
    EXPECT_TRUE(bench.messages.texts.isEmpty());
}

TEST(EndToEnd, UploadArrivesByteForByte) {
    SimBench bench;
    const QByteArray image = RandomBytes(1048576, 7);
    {
        QFile file(QStringLiteral("full.bin"));
        file.open(QIODevice::WriteOnly);
        file.write(image);
    }
    MainDialog window(bench.messages.program, bench.ports);  // kind "FDD + Software + UCD"
    test::ClickControl(&window, 11971);
    ASSERT_FALSE(bench.receiver.Uploads().empty());
    const sim::UploadRecord upload = bench.receiver.Uploads().back();
    EXPECT_TRUE(upload.complete);
    EXPECT_TRUE(upload.image == sim::Bytes(image.begin(), image.end()));
    EXPECT_EQ(bench.messages.texts,
              QStringList{"\nTransfer Successfully!\nPlease keep the power while GOOD is not displayed on IRD.\n"});
}

TEST(EndToEnd, UnreadableImageIsReportedByTheWorkerAndFailsTheUpload) {
    SimBench bench;
    bench.folder.File(QStringLiteral("gone.bin"), 2097152);
    MainDialog window(bench.messages.program, bench.ports);
    QFile::remove(QStringLiteral("gone.bin"));  // after the list was made
    test::ClickControl(&window, 11971);
    EXPECT_EQ(bench.messages.texts, (QStringList{"gone.binFile Open Error", "\nTransfer Error, Please try again!\n"}));
    EXPECT_TRUE(bench.receiver.Uploads().empty());
}

TEST(EndToEnd, ReadBackOverwritesTheExistingFileAndListsIt) {
    SimBench bench;
    const QByteArray image = RandomBytes(65536, 11);
    bench.receiver.SetReadBackImage(sim::Bytes(image.begin(), image.end()));
    bench.folder.File(QStringLiteral("Def_Data.bin"), 30000, 'o');
    MainDialog window(bench.messages.program, bench.ports);
    test::ClickControl(&window, 11990);
    test::WhenModal<OverwriteDialog>([](OverwriteDialog* d) { test::ClickControl(d, 1); });
    test::ClickControl(&window, 11974);
    EXPECT_EQ(bench.messages.texts, QStringList{"Transfer Successfully!"});
    EXPECT_TRUE(FileBytes(QStringLiteral("Def_Data.bin")) == image);
    EXPECT_EQ(FindControlAs<QListWidget>(&window, 11982)->item(0)->text(), QStringLiteral("Def_Data.bin"));
}

// Without the window's watch the upload would ask for repeats on the dead
// line until the technician cancels.
TEST(EndToEnd, APulledAdapterEndsTheUploadByItselfAndSaysSo) {
    SimBench bench;
    bench.receiver.UpdateOptions([](sim::SimOptions& o) { o.line.vanishAfterFrames = 40; });
    {
        QFile file(QStringLiteral("full.bin"));
        file.open(QIODevice::WriteOnly);
        file.write(RandomBytes(1048576, 3));
    }
    MainDialog window(bench.messages.program, bench.ports);
    QElapsedTimer clock;
    clock.start();
    test::ClickControl(&window, 11971);
    EXPECT_TRUE(bench.receiver.Vanished());
    EXPECT_LT(clock.elapsed(), 5000) << "the run ends soon after the device goes, by itself";
    EXPECT_EQ(bench.messages.texts, (QStringList{QStringLiteral("COM1: the device was removed"),
                                                 QString::fromStdString(OutcomeText(Outcome::UploadError))}));
}

// A version read searches the ports until one answers; a device that went
// away while asked must end the search, not keep it cycling.
TEST(EndToEnd, APulledAdapterEndsTheVersionReadAndSaysSo) {
    SimBench bench;
    bench.receiver.UpdateOptions([](sim::SimOptions& o) { o.line.vanishAfterFrames = 1; });
    MainDialog window(bench.messages.program, bench.ports);
    test::ClickControl(&window, 11970);
    EXPECT_TRUE(bench.receiver.Vanished());
    EXPECT_EQ(bench.messages.texts, QStringList{QStringLiteral("COM1: the device was removed")});
    EXPECT_EQ(FindControlAs<QLineEdit>(&window, 1000)->text(), QString::fromLatin1(kUnavailableText));
    EXPECT_EQ(FindControlAs<QLineEdit>(&window, 1001)->text(), QString::fromLatin1(kUnavailableText));
}

}  // namespace
}  // namespace tarven
