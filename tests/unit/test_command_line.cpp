// test_command_line.cpp - the controller's options and the folder a menu start works in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "job_file_folder.h"
#include "platform/linux/command_line.h"

using command_line::Action;

namespace {

command_line::Options parse(std::vector<const char*> args) {
    args.insert(args.begin(), "cncmirel");
    return command_line::parse(static_cast<int>(args.size()), args.data());
}

struct ParseCase {
    std::vector<const char*> args;
    Action action;
    std::string port;
    bool user_folder;
    std::vector<std::string> toolkit;  // after the program name
    std::string folder = "";
};

}  // namespace

TEST(CommandLine, OptionsAndTheToolkitsOwn) {
    const ParseCase cases[] = {
        {{}, Action::run, "", false, {}},
        {{"--help"}, Action::help, "", false, {}},
        {{"-h"}, Action::help, "", false, {}},
        {{"--port", "/dev/parport1", "--version"}, Action::version, "/dev/parport1", false, {}},
        {{"--port", "/dev/parport1"}, Action::run, "/dev/parport1", false, {}},
        {{"--port=/dev/parport2", "--user-folder"}, Action::run, "/dev/parport2", true, {}},
        {{"--folder", "jobs/board"}, Action::run, "", false, {}, "jobs/board"},
        {{"--folder=/srv/board", "-platform", "xcb"},
         Action::run,
         "",
         false,
         {"-platform", "xcb"},
         "/srv/board"},
        // The toolkit's options keep their order and values, with one dash or two.
        {{"-platform", "offscreen", "--user-folder", "--display", ":3", "-reverse"},
         Action::run,
         "",
         true,
         {"-platform", "offscreen", "--display", ":3", "-reverse"}},
        // Usage errors: a misspelt or valueless option, or a job named on the command line.
        {{"--prot", "/dev/parport1"}, Action::usage_error, "", false, {}},
        {{"--port"}, Action::usage_error, "", false, {}},
        {{"--port="}, Action::usage_error, "", false, {}},
        {{"-platform"}, Action::usage_error, "", false, {}},
        {{"board.drl"}, Action::usage_error, "", false, {}},
        {{"-"}, Action::usage_error, "", false, {}},
        {{"--folder"}, Action::usage_error, "", false, {}},
        {{"--folder="}, Action::usage_error, "", false, {}},
        {{"--folder", "a", "--user-folder"}, Action::usage_error, "", false, {}},
        {{"--user-folder", "--folder", "a"}, Action::usage_error, "", false, {}},
    };
    for (const ParseCase& c : cases) {
        std::string joined;
        for (const char* a : c.args) joined += std::string(a) + " ";
        SCOPED_TRACE(joined);
        const command_line::Options options = parse(c.args);
        EXPECT_EQ(options.action, c.action);
        if (c.action == Action::usage_error) {
            EXPECT_FALSE(options.error.empty());
            continue;
        }
        EXPECT_EQ(options.port_device, c.port);
        EXPECT_EQ(options.user_folder, c.user_folder);
        EXPECT_EQ(options.folder, c.folder);
        std::vector<std::string> toolkit{"cncmirel"};
        toolkit.insert(toolkit.end(), c.toolkit.begin(), c.toolkit.end());
        if (c.action == Action::run) {
            EXPECT_EQ(options.toolkit_args, toolkit);
        }
    }
}

TEST(CommandLine, UserFolderFollowsTheBaseDirectoryRules) {
    EXPECT_EQ(command_line::user_folder("/data/u", "/home/u"), "/data/u/cncmirel");
    EXPECT_EQ(command_line::user_folder(nullptr, "/home/u"), "/home/u/.local/share/cncmirel");
    EXPECT_EQ(command_line::user_folder("", "/home/u"), "/home/u/.local/share/cncmirel");
    EXPECT_EQ(command_line::user_folder("rel/data", "/home/u"), "/home/u/.local/share/cncmirel");
    EXPECT_EQ(command_line::user_folder(nullptr, nullptr), "");
    EXPECT_EQ(command_line::user_folder("", "relative"), "");
}

TEST(CommandLine, EnterFolderCreatesItAndWorksThere) {
    const auto before = std::filesystem::current_path();
    const JobFileFolder folder;
    const std::filesystem::path base = folder.path("");
    std::string error;

    const std::filesystem::path nested = base / "share" / "cncmirel";
    ASSERT_TRUE(command_line::enter_folder(nested.string(), error)) << error;
    EXPECT_EQ(std::filesystem::current_path(), nested);
    // An existing folder is simply entered.
    std::filesystem::current_path(before);
    ASSERT_TRUE(command_line::enter_folder(nested.string(), error)) << error;
    EXPECT_EQ(std::filesystem::current_path(), nested);

    // A file in the way: refused, the working folder unchanged, the reason named.
    std::filesystem::current_path(before);
    std::ofstream(base / "plain").put('x');
    EXPECT_FALSE(command_line::enter_folder((base / "plain" / "cncmirel").string(), error));
    EXPECT_NE(error.find("plain"), std::string::npos);
    EXPECT_EQ(std::filesystem::current_path(), before);
}

TEST(CommandLine, FolderOptionEntersOnlyAnExistingFolder) {
    const auto before = std::filesystem::current_path();
    const JobFileFolder folder;
    const std::filesystem::path board = folder.path("board");
    std::filesystem::create_directory(board);
    std::string error;
    ASSERT_TRUE(command_line::enter_existing_folder(board.string(), error)) << error;
    EXPECT_EQ(std::filesystem::current_path(), board);

    // A misspelt folder, or a file, is refused and nothing is made.
    std::filesystem::current_path(before);
    std::ofstream(folder.path("plain")).put('x');
    for (const char* name : {"bord", "plain", "bord/inner"}) {
        EXPECT_FALSE(command_line::enter_existing_folder(folder.path(name), error)) << name;
        EXPECT_NE(error.find(name), std::string::npos) << error;
        EXPECT_EQ(std::filesystem::current_path(), before);
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path("bord")));
}
