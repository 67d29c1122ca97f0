#include "CanOpenFile.h"
#include "FolderTestSupport.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tarven {
namespace {

TEST(FileErrorTextTest, ClassifiesEveryReportedCauseAndNothingElse) {
    const struct {
        int err;
        const char* text;
    } table[] = {
        {ENOENT, "File not found !"},         {ENOTDIR, "Invalid path !"},
        {ENAMETOOLONG, "Invalid path !"},     {EINVAL, "Invalid path !"},
        {EMFILE, "Too many files opened !"},  {ENFILE, "Too many files opened !"},
        {EACCES, "Access denied !"},          {EPERM, "Access denied !"},
        {EROFS, "Access denied !"},           {EBUSY, "Sharing Violation !"},
        {ETXTBSY, "Sharing Violation !"},     {EWOULDBLOCK, "Cannot open locked file !"},
        {EAGAIN, "Cannot open locked file !"}, {EIO, nullptr},
        {ENOSPC, nullptr},                    {EISDIR, nullptr},
        {ELOOP, nullptr},                     {0, nullptr},
    };
    for (const auto& row : table) {
        const std::optional<QString> text = FileErrorText(row.err);
        if (row.text) {
            EXPECT_EQ(text, QString(row.text)) << "errno " << row.err;
        } else {
            EXPECT_FALSE(text.has_value()) << "errno " << row.err;
        }
    }
}

int OpenDescriptorCount() { return QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(); }

class CanOpenFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch.MakeFile("main.bin", "image");
        scratch.MakeFolders({"folder"});
    }
    test::ScratchFolder scratch;
    test::CapturedMessages messages;
};

TEST_F(CanOpenFileTest, AnExistingFileOpensInBothModesAndIsLeftAsItWas) {
    const int descriptors = OpenDescriptorCount();
    EXPECT_TRUE(CanOpenFile(scratch.Sub("main.bin"), true, true));
    EXPECT_TRUE(CanOpenFile(scratch.Sub("main.bin"), false, true));
    QDir::setCurrent(scratch.Path());
    EXPECT_TRUE(CanOpenFile("main.bin", true, true));

    QFile file(scratch.Sub("main.bin"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "image");
    file.close();
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_TRUE(messages.texts.isEmpty());
}

TEST_F(CanOpenFileTest, FailuresAreReportedWithThePathAsPassedOnlyWhenAsked) {
    const QString missing = scratch.Sub("missing.bin");
    const QString throughFile = scratch.Sub("main.bin/inner.bin");
    const QString tooLong = scratch.Sub(QString(300, QChar('x')));
    const struct {
        QString path;
        QString message;
    } cases[] = {
        {missing, missing + "\nFile not found !"},
        {throughFile, throughFile + "\nInvalid path !"},
        {tooLong, tooLong + "\nInvalid path !"},
        {QString(""), "\nFile not found !"},  // empty is not null: it is tried
        {scratch.Sub("folder"), QString()},    // a folder is no file; nothing to say
    };
    for (const auto& c : cases) {
        messages.texts.clear();
        EXPECT_FALSE(CanOpenFile(c.path, true, false));
        EXPECT_TRUE(messages.texts.isEmpty());
        EXPECT_FALSE(CanOpenFile(c.path, false, true));
        EXPECT_EQ(messages.texts, c.message.isNull() ? QStringList{} : QStringList{c.message});
    }
    // Never created by asking.
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_FALSE(CanOpenFile(QString(), true, true));
    EXPECT_EQ(messages.texts.size(), 0);
}

TEST_F(CanOpenFileTest, AFileLockedElsewhereIsRefusedAndTheCheckHoldsNoLock) {
    const QByteArray name = QFile::encodeName(scratch.Sub("main.bin"));
    const int holder = ::open(name.constData(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(CanOpenFile(scratch.Sub("main.bin"), true, true));
    EXPECT_EQ(messages.texts, QStringList{scratch.Sub("main.bin") + "\nCannot open locked file !"});
    ::close(holder);

    EXPECT_TRUE(CanOpenFile(scratch.Sub("main.bin"), false, true));
    // Once the check has answered, anyone may take the file again.
    const int after = ::open(name.constData(), O_RDONLY);
    ASSERT_GE(after, 0);
    EXPECT_EQ(::flock(after, LOCK_EX | LOCK_NB), 0);
    ::close(after);
}

}  // namespace
}  // namespace tarven
