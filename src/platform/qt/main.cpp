// main.cpp - the controller's entry point: takes the controller's own options, hands the rest
// to the window layer and runs the program.
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/linux/command_line.h"
#include "platform/port.h"
#include "platform/qt/qt_platform.h"
#include "version.h"  // CNCMIREL_VERSION

namespace {

const char* home_folder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0') return home;
    const passwd* entry = ::getpwuid(::getuid());
    return entry ? entry->pw_dir : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const command_line::Options options = command_line::parse(argc, argv);
    switch (options.action) {
        case command_line::Action::help:
            std::fputs(command_line::usage_text().c_str(), stdout);
            return 0;
        case command_line::Action::version:
            std::printf("cncmirel %s\n", CNCMIREL_VERSION);
            return 0;
        case command_line::Action::usage_error:
            std::fprintf(stderr, "cncmirel: %s\nTry 'cncmirel --help'.\n", options.error.c_str());
            return 2;
        case command_line::Action::run:
            break;
    }
    if (options.user_folder) {
        const std::string folder =
            command_line::user_folder(std::getenv("XDG_DATA_HOME"), home_folder());
        std::string error = "no home folder to work in";
        if (folder.empty() || !command_line::enter_folder(folder, error)) {
            std::fprintf(stderr, "cncmirel: %s\n", error.c_str());
            return 1;
        }
    }
    if (!options.folder.empty()) {
        std::string error;
        if (!command_line::enter_existing_folder(options.folder, error)) {
            std::fprintf(stderr, "cncmirel: %s\n", error.c_str());
            return 1;
        }
    }
    if (!options.port_device.empty()) platform::set_port_device(options.port_device.c_str());

    // The toolkit keeps argc and argv for the whole run.
    static std::vector<std::string> toolkit_args = options.toolkit_args;
    static std::vector<char*> toolkit_argv;
    for (std::string& arg : toolkit_args) toolkit_argv.push_back(arg.data());
    toolkit_argv.push_back(nullptr);
    static int toolkit_argc = static_cast<int>(toolkit_args.size());
    qt_platform::set_arguments(toolkit_argc, toolkit_argv.data());
    return run_program();
}
