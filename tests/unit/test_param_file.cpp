// test_param_file.cpp - Param.ini is written back where it is and as it was (through a symbolic
// link, with its permissions and owner), never over a read-only file, and a write that fails
// or is killed at any step leaves the old file whole and no temporary file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "app/param_file.h"
#include "job_file_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr ParamValues OLD = {1, 2, 3, 10, 10, 10, 100, 100, 50, 1, 3, 100, 0, 0, 10};
constexpr ParamValues NEW = {4, 5, 6, 20, 20, 20, 200, 200, 60, 2, 4, 90, 1, 1, 11};

class ParamFileWrite : public ::testing::Test {
protected:
    void TearDown() override { param_write_fault = nullptr; }

    std::string path(const std::string& name) const { return folder_.path(name); }

    // The names the folder holds.
    std::set<std::string> names() const {
        std::set<std::string> result;
        for (const auto& entry : fs::directory_iterator(path(""))) {
            result.insert(entry.path().filename().string());
        }
        return result;
    }

    mode_t mode(const std::string& name) const {
        struct stat st {};
        ::stat(path(name).c_str(), &st);
        return st.st_mode & 07777;
    }

    JobFileFolder folder_;
};

TEST_F(ParamFileWrite, KeepsPermissionsAndWritesThroughSymbolicLinks) {
    const std::string file = path("Param.ini");
    ASSERT_TRUE(write_param_file(file, OLD));
    ::chmod(file.c_str(), 0640);
    ASSERT_TRUE(write_param_file(file, NEW));
    EXPECT_EQ(read_param_file(file), NEW);
    EXPECT_EQ(mode("Param.ini"), 0640u);

    // A link is followed to its file, also a link to a link and one whose file is missing.
    fs::create_directory(path("machine"));
    ASSERT_TRUE(write_param_file(path("machine/shared.ini"), OLD));
    fs::create_symlink("shared.ini", path("machine/link.ini"));
    fs::remove(file);
    fs::create_symlink("machine/link.ini", file);
    ASSERT_TRUE(write_param_file(file, NEW));
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(read_param_file(path("machine/shared.ini")), NEW);
    fs::remove(path("machine/shared.ini"));
    ASSERT_TRUE(write_param_file(file, OLD));
    EXPECT_TRUE(fs::is_symlink(path("machine/link.ini")));
    EXPECT_EQ(read_param_file(path("machine/shared.ini")), OLD);
    EXPECT_EQ(names(), (std::set<std::string>{"Param.ini", "machine"}));
}

TEST_F(ParamFileWrite, LeavesAReadOnlyFileAlone) {
    const std::string file = path("Param.ini");
    ASSERT_TRUE(write_param_file(file, OLD));
    ::chmod(file.c_str(), 0444);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(write_param_file(file, NEW));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("read-only"), std::string::npos) << said;
    EXPECT_EQ(read_param_file(file), OLD);
    EXPECT_EQ(mode("Param.ini"), 0444u);
    EXPECT_EQ(names(), std::set<std::string>{"Param.ini"});
}

// Only root can give a file to another user; the new file must keep that owner.
TEST_F(ParamFileWrite, KeepsTheOwnerOfAFileOfAnotherUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
    const std::string file = path("Param.ini");
    ASSERT_TRUE(write_param_file(file, OLD));
    ASSERT_EQ(::chown(file.c_str(), 4321, 4322), 0);
    ASSERT_TRUE(write_param_file(file, NEW));
    struct stat st {};
    ::stat(file.c_str(), &st);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
    EXPECT_EQ(read_param_file(file), NEW);
}

const ParamWriteStep ALL_STEPS[] = {
    ParamWriteStep::create,       ParamWriteStep::keep_owner, ParamWriteStep::write,
    ParamWriteStep::flush,        ParamWriteStep::name,       ParamWriteStep::replace,
    ParamWriteStep::flush_folder,
};
ParamWriteStep chosen_step;

// A step that fails leaves the old file whole and nothing else. Two have a way round, the file
// rewritten where it is: a folder that takes no new file, and an owner a new file cannot keep.
// The folder's flush comes after the rename.
TEST_F(ParamFileWrite, AFailureAtAnyStepLeavesTheOldFileWhole) {
    const std::string file = path("Param.ini");
    for (const ParamWriteStep step : ALL_STEPS) {
        SCOPED_TRACE(static_cast<int>(step));
        param_write_fault = nullptr;
        ASSERT_TRUE(write_param_file(file, OLD));
        chosen_step = step;
        param_write_fault = [](ParamWriteStep s) { return s == chosen_step; };
        const bool written = write_param_file(file, NEW);
        const bool goes_on = step == ParamWriteStep::create || step == ParamWriteStep::keep_owner ||
                             step == ParamWriteStep::flush_folder;
        EXPECT_EQ(written, goes_on);
        EXPECT_EQ(read_param_file(file), goes_on ? NEW : OLD);
        EXPECT_EQ(names(), std::set<std::string>{"Param.ini"});
    }
}

// The program killed at any step (SIGKILL, which no program can catch): the old file stays
// whole; the new file has no name until just before the rename, and a name left by a kill
// right there is cleared by the next write.
TEST_F(ParamFileWrite, AKillAtAnyStepLeavesTheOldFileWhole) {
    const std::string file = path("Param.ini");
    for (const ParamWriteStep step : ALL_STEPS) {
        SCOPED_TRACE(static_cast<int>(step));
        ASSERT_TRUE(write_param_file(file, OLD));
        chosen_step = step;
        const pid_t child = ::fork();
        if (child == 0) {
            param_write_fault = [](ParamWriteStep s) {
                if (s == chosen_step) ::raise(SIGKILL);
                return false;
            };
            write_param_file(file, NEW);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(read_param_file(file), step == ParamWriteStep::flush_folder ? NEW : OLD);
        if (step == ParamWriteStep::replace) {
            EXPECT_EQ(names().size(), 2u);
            ASSERT_TRUE(write_param_file(file, OLD));
        }
        EXPECT_EQ(names(), std::set<std::string>{"Param.ini"});
    }
}

}  // namespace
