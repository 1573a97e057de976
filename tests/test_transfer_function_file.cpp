#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Log.h"
#include "StartupTransferFunction.h"
#include "TestSupport.h"
#include "TransferFunction.h"

namespace {
std::string U32(uint32_t v)
{
    return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char((v >> 24) & 0xFF)};
}

std::string Header(uint32_t c0, uint32_t c1, uint32_t c2, uint32_t c3, uint32_t headerSize = 28, uint32_t magic = 18004)
{
    return U32(magic) + U32(headerSize) + U32(8) + U32(c0) + U32(c1) + U32(c2) + U32(c3);
}

std::string Record(uint8_t value, uint32_t position)
{
    // The padding bytes are ignored when read.
    return std::string{char(value), 'x', 'y', 'z'} + U32(position);
}

using Points = std::vector<std::pair<int, uint32_t>>;

Points Channel(const TransferFunction& tf, int c)
{
    Points points;
    for (const auto& s : tf.Channel(c)) {
        points.emplace_back(s.value, s.position);
    }
    return points;
}

// Runs the operation with the log open and returns what it wrote.
template <typename Operation>
std::string Logged(Operation operation)
{
    LogOpen();
    operation();
    LogClose();
    return ReadFile("debug.log");
}

// A failed load keeps the function, its unsaved state and its file name.
void ExpectFailedLoadState(const TransferFunction& tf, const TransferFunction& before)
{
    EXPECT_EQ(tf.IsModified(), before.IsModified());
    EXPECT_EQ(tf.HasFileName(), before.HasFileName());
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(Channel(tf, c), Channel(before, c)) << "channel " << c;
    }
    EXPECT_STRNE(tf.Error(), "");
}
}  // namespace

TEST(TransferFunctionFile, StartupFunctionRoundTrip)
{
    ScratchFolder scratch;
    TransferFunction saved;
    FillStartupTransferFunction(saved);
    ASSERT_TRUE(saved.Save("startup.tf"));
    EXPECT_FALSE(saved.IsModified());
    EXPECT_TRUE(saved.HasFileName());

    const std::string bytes = ReadFile("startup.tf");
    ASSERT_EQ(bytes.size(), 140u);
    EXPECT_EQ(bytes.substr(0, 28), Header(3, 4, 3, 4));
    // Green's second record: value 255 at position 100.
    const std::string record = bytes.substr(28 + 4 * 8, 8);
    EXPECT_EQ(uint8_t(record[0]), 255);
    EXPECT_EQ(record.substr(4), U32(100));

    TransferFunction loaded;
    loaded.AddSample(2, 7, 7);
    EXPECT_EQ(Logged([&] { EXPECT_TRUE(loaded.Load("startup.tf")); }), "");
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(Channel(loaded, c), Channel(saved, c)) << "channel " << c;
    }
    EXPECT_FALSE(loaded.IsModified());
    EXPECT_TRUE(loaded.HasFileName());
}

TEST(TransferFunctionFile, LoadKeepsTheStoredOrder)
{
    ScratchFolder scratch;
    WriteFile("unsorted.tf", Header(3, 0, 0, 0) + Record(1, 300) + Record(2, 100) + Record(3, 200));
    TransferFunction tf;
    ASSERT_TRUE(tf.Load("unsorted.tf"));
    EXPECT_EQ(Channel(tf, 0), (Points{{1, 300}, {2, 100}, {3, 200}}));
}

TEST(TransferFunctionFile, RefusedFiles)
{
    ScratchFolder scratch;
    TransferFunction tf;
    FillStartupTransferFunction(tf);
    tf.SetModified(true);
    const TransferFunction before = tf;

    EXPECT_EQ(Logged([&] { EXPECT_FALSE(tf.Load("missing.tf")); }),
              "[ WARN ] TransferFunction: Failed to open file!\n");
    ExpectFailedLoadState(tf, before);
    EXPECT_STREQ(tf.Error(), "cannot be opened");

    WriteFile("magic.tf", Header(1, 0, 0, 0, 28, 0x0046540A) + Record(5, 5));
    EXPECT_EQ(Logged([&] { EXPECT_FALSE(tf.Load("magic.tf")); }),
              "[ WARN ] TransferFunction: Invalid transfer function file!\n");
    ExpectFailedLoadState(tf, before);
    EXPECT_STREQ(tf.Error(), "is not a transfer function file");

    WriteFile("short.tf", Header(0, 0, 0, 0).substr(0, 27));
    EXPECT_EQ(Logged([&] { EXPECT_FALSE(tf.Load("short.tf")); }),
              "[ WARN ] TransferFunction: Reading header failed!\n");
    ExpectFailedLoadState(tf, before);

    WriteFile("empty.tf", "");
    EXPECT_EQ(Logged([&] { EXPECT_FALSE(tf.Load("empty.tf")); }),
              "[ WARN ] TransferFunction: Reading header failed!\n");
}

TEST(TransferFunctionFile, HeaderSizeSetsWhereTheSamplesStart)
{
    ScratchFolder scratch;
    WriteFile("wide.tf", Header(1, 0, 0, 1, 36) + Record(99, 99) + Record(10, 1000) + Record(20, 2000));
    TransferFunction tf;
    ASSERT_TRUE(tf.Load("wide.tf"));
    EXPECT_EQ(Channel(tf, 0), (Points{{10, 1000}}));
    EXPECT_EQ(Channel(tf, 3), (Points{{20, 2000}}));
}

TEST(TransferFunctionFile, EmptyChannelBetweenFullOnes)
{
    ScratchFolder scratch;
    TransferFunction saved;
    saved.AddSample(0, 1, 10);
    saved.AddSample(0, 2, 20);
    saved.AddSample(2, 3, 30);
    saved.AddSample(2, 4, 40);
    saved.AddSample(2, 5, 50);
    saved.AddSample(3, 6, 60);
    saved.AddSample(3, 7, 70);
    ASSERT_TRUE(saved.Save("gap.tf"));
    const std::string bytes = ReadFile("gap.tf");
    ASSERT_EQ(bytes.size(), 28u + 7 * 8);
    EXPECT_EQ(bytes.substr(0, 28), Header(2, 0, 3, 2));

    TransferFunction tf;
    ASSERT_TRUE(tf.Load("gap.tf"));
    EXPECT_EQ(Channel(tf, 0), (Points{{1, 10}, {2, 20}}));
    EXPECT_TRUE(tf.Channel(1).empty());
    EXPECT_EQ(Channel(tf, 2), (Points{{3, 30}, {4, 40}, {5, 50}}));
    EXPECT_EQ(Channel(tf, 3), (Points{{6, 60}, {7, 70}}));
}

TEST(TransferFunctionFile, AllCountsZero)
{
    ScratchFolder scratch;
    TransferFunction saved;
    saved.Clear();
    ASSERT_TRUE(saved.Save("none.tf"));
    EXPECT_EQ(ReadFile("none.tf"), Header(0, 0, 0, 0));

    TransferFunction tf;
    FillStartupTransferFunction(tf);
    ASSERT_TRUE(tf.Load("none.tf"));
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(tf.SampleCount(c), 0u);
    }
    EXPECT_FALSE(tf.IsModified());
    EXPECT_TRUE(tf.HasFileName());
}

TEST(TransferFunctionFile, CountsBeyondTheData)
{
    ScratchFolder scratch;
    WriteFile("cut.tf", Header(1, 2, 0, 0) + Record(1, 10) + Record(2, 20) + Record(3, 30).substr(0, 7));
    TransferFunction tf;
    tf.AddSample(3, 77, 500);
    const TransferFunction before = tf;
    EXPECT_EQ(Logged([&] { EXPECT_FALSE(tf.Load("cut.tf")); }), "[ WARN ] TransferFunction: Reading sample failed!\n");
    // Nothing of what was read before the failure replaces the function.
    ExpectFailedLoadState(tf, before);
    EXPECT_STREQ(tf.Error(), "ends before the samples its header counts");
}

TEST(TransferFunctionFile, CountsSummingPastTheWordSizeDoNotWrapAround)
{
    ScratchFolder scratch;
    TransferFunction tf;
    FillStartupTransferFunction(tf);
    const TransferFunction before = tf;
    // In 32 bits these totals wrap to 0 and to 1, which the data would satisfy.
    WriteFile("wrap0.tf", Header(0xFFFFFFFFu, 1, 0, 0) + Record(1, 10) + Record(2, 20));
    EXPECT_EQ(Logged([&] { EXPECT_FALSE(tf.Load("wrap0.tf")); }),
              "[ WARN ] TransferFunction: Reading sample failed!\n");
    ExpectFailedLoadState(tf, before);

    WriteFile("wrap1.tf", Header(0x80000000u, 0x80000000u, 1, 0) + Record(3, 30));
    EXPECT_EQ(Logged([&] { EXPECT_FALSE(tf.Load("wrap1.tf")); }),
              "[ WARN ] TransferFunction: Reading sample failed!\n");
    ExpectFailedLoadState(tf, before);
}

TEST(TransferFunctionFile, SavingOverALongerFileLeavesExactlyTheNewContent)
{
    ScratchFolder scratch;
    TransferFunction longer;
    FillStartupTransferFunction(longer);
    ASSERT_TRUE(longer.Save("f.tf"));
    ::chmod("f.tf", 0640);

    TransferFunction shorter;
    shorter.AddSample(1, 200, 1234);
    ASSERT_TRUE(shorter.Save("f.tf"));
    EXPECT_EQ(ReadFile("f.tf"), (Header(0, 1, 0, 0) + std::string{char(200), 0, 0, 0} + U32(1234)));

    struct stat info;
    ASSERT_EQ(::stat("f.tf", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    // Nothing is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 1);
}

TEST(TransferFunctionFile, SaveThroughALinkReplacesTheLinkedFile)
{
    ScratchFolder scratch;
    TransferFunction old;
    FillStartupTransferFunction(old);
    ASSERT_TRUE(old.Save("real.tf"));
    ASSERT_EQ(::symlink("real.tf", "link.tf"), 0);

    TransferFunction tf;
    tf.AddSample(0, 1, 2);
    ASSERT_TRUE(tf.Save("link.tf"));
    EXPECT_TRUE(std::filesystem::is_symlink("link.tf"));
    EXPECT_EQ(ReadFile("real.tf").size(), 36u);
}

TEST(TransferFunctionFile, SaveWhereNoFileCanBeCreated)
{
    ScratchFolder scratch;
    WriteFile("plain", "not a folder");
    std::filesystem::create_directory("folder.tf");
    TransferFunction tf;
    FillStartupTransferFunction(tf);

    const char* targets[] = {"plain/f.tf", "no-such-folder/f.tf", "folder.tf"};
    for (const char* target : targets) {
        EXPECT_EQ(Logged([&] { EXPECT_FALSE(tf.Save(target)); }), "[ WARN ] TransferFunction: File creation failed!\n")
            << target;
        EXPECT_TRUE(tf.IsModified());
        EXPECT_FALSE(tf.HasFileName());
    }
    EXPECT_EQ(ReadFile("plain"), "not a folder");
    EXPECT_TRUE(std::filesystem::is_empty("folder.tf"));
}

TEST(TransferFunctionFile, FailedWriteLeavesThePreviousFileUntouched)
{
    ScratchFolder scratch;
    TransferFunction old;
    old.AddSample(0, 9, 9);
    ASSERT_TRUE(old.Save("kept.tf"));
    const std::string before = ReadFile("kept.tf");

    TransferFunction tf;
    FillStartupTransferFunction(tf);
    // A file size limit makes the write stop after 100 bytes, whoever runs the test.
    rlimit previous;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit limited = previous;
    limited.rlim_cur = 100;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string log = Logged([&] { EXPECT_FALSE(tf.Save("kept.tf")); });
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(log, "[ WARN ] TransferFunction: Writing samples failed!\n");
    EXPECT_EQ(ReadFile("kept.tf"), before);
    EXPECT_TRUE(tf.IsModified());
    EXPECT_FALSE(tf.HasFileName());
    // The debug log and the kept file, no half-written temporary.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 2);
}

namespace {
// Exit status of a child that could not switch users.
constexpr int cannotSwitch = 77;

// Saves the function in a child process that runs as the unprivileged user
// (or as the tester, who is one already), with debug.log open. Returns the
// child's exit status: 0 saved, 1 refused, cannotSwitch.
int SaveAsUser(TransferFunction tf, const std::string& target)
{
    const pid_t child = ::fork();
    if (child == 0) {
        LogOpen();
        if (!DropPrivileges()) {
            ::_exit(cannotSwitch);
        }
        const bool saved = tf.Save(target.c_str());
        LogClose();
        ::_exit(saved ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct stat Status(const std::string& path)
{
    struct stat info = {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

// What a save of the function writes, from a save into a new file.
std::string SavedBytes(TransferFunction tf)
{
    EXPECT_TRUE(tf.Save("expected.tf"));
    const std::string bytes = ReadFile("expected.tf");
    ::unlink("expected.tf");
    return bytes;
}

TransferFunction Startup()
{
    TransferFunction tf;
    FillStartupTransferFunction(tf);
    return tf;
}

std::string LongerContent() { return std::string(300, 'o'); }
}  // namespace

TEST(TransferFunctionSave, TargetTheUserMayNotWriteIsRefusedAndKept)
{
    ScratchFolder scratch;
    const std::string folder = UnprivilegedFolder(scratch, "user");
    const std::string target = folder + "/read-only.tf";
    WriteFile(target, LongerContent());
    ::chmod(target.c_str(), 0444);
    GiveToUnprivilegedUser(target);

    const int status = SaveAsUser(Startup(), target);
    if (status == cannotSwitch) {
        GTEST_SKIP() << "cannot switch to user " << unprivilegedUser << " to be refused a file";
    }
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ReadFile("debug.log"), "[ WARN ] TransferFunction: File creation failed!\n");
    EXPECT_EQ(ReadFile(target), LongerContent());
    EXPECT_EQ(Status(target).st_mode & 07777, 0444u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

TEST(TransferFunctionSave, WritableTargetInAFolderWithoutRoomForANewFileIsWrittenInPlace)
{
    ScratchFolder scratch;
    const std::string folder = UnprivilegedFolder(scratch, "locked");
    const std::string target = folder + "/f.tf";
    WriteFile(target, LongerContent());
    ::chmod(target.c_str(), 0640);
    GiveToUnprivilegedUser(target);
    const ino_t inode = Status(target).st_ino;
    ::chmod(folder.c_str(), 0555);

    const int status = SaveAsUser(Startup(), target);
    ::chmod(folder.c_str(), 0755);
    if (status == cannotSwitch) {
        GTEST_SKIP() << "cannot switch to user " << unprivilegedUser << " to be refused a new file";
    }
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile("debug.log"), "");
    EXPECT_EQ(ReadFile(target), SavedBytes(Startup()));
    const struct stat after = Status(target);
    EXPECT_EQ(after.st_ino, inode);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_nlink, 1u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
}

TEST(TransferFunctionSave, TargetWithFurtherHardLinksIsWrittenInPlace)
{
    ScratchFolder scratch;
    WriteFile("a.tf", LongerContent());
    ::chmod("a.tf", 0604);
    ASSERT_EQ(::link("a.tf", "b.tf"), 0);
    const ino_t inode = Status("a.tf").st_ino;

    TransferFunction tf = Startup();
    LogOpen();
    EXPECT_TRUE(tf.Save("a.tf"));
    LogClose();
    EXPECT_EQ(ReadFile("debug.log"), "");
    EXPECT_FALSE(tf.IsModified());
    EXPECT_TRUE(tf.HasFileName());

    const std::string expected = SavedBytes(Startup());
    EXPECT_EQ(ReadFile("a.tf"), expected);
    EXPECT_EQ(ReadFile("b.tf"), expected);
    for (const char* name : {"a.tf", "b.tf"}) {
        const struct stat after = Status(name);
        EXPECT_EQ(after.st_ino, inode) << name;
        EXPECT_EQ(after.st_nlink, 2u) << name;
        EXPECT_EQ(after.st_mode & 07777, 0604u) << name;
    }
}

TEST(TransferFunctionSave, FifoIsWrittenInPlaceOrRefusedWithoutAReader)
{
    ScratchFolder scratch;
    ASSERT_EQ(::mkfifo("pipe.tf", 0644), 0);
    TransferFunction tf = Startup();

    // No reader: refused at once rather than waiting for one.
    EXPECT_EQ(Logged([&] { EXPECT_FALSE(tf.Save("pipe.tf")); }), "[ WARN ] TransferFunction: File creation failed!\n");
    EXPECT_TRUE(tf.IsModified());

    const int reader = ::open("pipe.tf", O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(Logged([&] { EXPECT_TRUE(tf.Save("pipe.tf")); }), "");
    std::string received(1024, '\0');
    const ssize_t n = ::read(reader, received.data(), received.size());
    ::close(reader);
    received.resize(size_t(std::max<ssize_t>(n, 0)));
    EXPECT_EQ(received, SavedBytes(Startup()));
    EXPECT_TRUE(S_ISFIFO(Status("pipe.tf").st_mode));
}

TEST(TransferFunctionSave, DeviceNodeIsWrittenInPlaceNeverReplaced)
{
    ScratchFolder scratch;
    // Root gets a node of its own, so that a wrong save could never replace
    // the system's /dev/null; others write the system's, which they cannot replace.
    std::string device = "/dev/null";
    if (RunningAsRoot()) {
        device = scratch.Path("null");
        const int fd =
            ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 ? ::open(device.c_str(), O_WRONLY) : -1;
        if (fd < 0) {
            GTEST_SKIP() << "cannot make and open a device node here";
        }
        ::close(fd);
    }
    const struct stat before = Status(device);

    TransferFunction tf = Startup();
    EXPECT_EQ(Logged([&] { EXPECT_TRUE(tf.Save(device.c_str())); }), "");
    const struct stat after = Status(device);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(after.st_rdev, before.st_rdev);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), RunningAsRoot() ? 2 : 1);
}

TEST(TransferFunctionSave, ReplacementKeepsModeOwnerAndGroup)
{
    ScratchFolder scratch;
    WriteFile("owned.tf", LongerContent());
    ::chmod("owned.tf", 0620);
    GiveToUnprivilegedUser("owned.tf");
    const struct stat before = Status("owned.tf");

    TransferFunction tf = Startup();
    EXPECT_EQ(Logged([&] { EXPECT_TRUE(tf.Save("owned.tf")); }), "");
    const struct stat after = Status("owned.tf");
    EXPECT_EQ(ReadFile("owned.tf"), SavedBytes(Startup()));
    // A new file took the name; the old one is gone.
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 1u);
    EXPECT_EQ(after.st_mode & 07777, 0620u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
}
