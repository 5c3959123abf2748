// command_line.cpp - parsing the controller's options and entering the menu start's folder.
#include "platform/linux/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace command_line {

namespace {

// The toolkit's standard options, without their leading dash: those that take a value, then
// flags. Anything else that starts with a dash is refused, so that a misspelt --port never
// leaves the controller on the default device unnoticed.
constexpr std::array<std::string_view, 26> TOOLKIT_VALUE_OPTIONS = {"platform",
                                                                    "platformpluginpath",
                                                                    "platformtheme",
                                                                    "plugin",
                                                                    "qwindowgeometry",
                                                                    "geometry",
                                                                    "qwindowtitle",
                                                                    "title",
                                                                    "qwindowicon",
                                                                    "icon",
                                                                    "display",
                                                                    "style",
                                                                    "stylesheet",
                                                                    "session",
                                                                    "name",
                                                                    "dialogs",
                                                                    "fn",
                                                                    "font",
                                                                    "bg",
                                                                    "background",
                                                                    "fg",
                                                                    "foreground",
                                                                    "btn",
                                                                    "button",
                                                                    "qmljsdebugger",
                                                                    "visual"};
constexpr std::array<std::string_view, 5> TOOLKIT_FLAGS = {"reverse", "widgetcount", "nograb",
                                                           "dograb", "sync"};

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& list, std::string_view name) {
    for (std::string_view entry : list) {
        if (entry == name) return true;
    }
    return false;
}

constexpr const char* BOTH_FOLDERS = "--folder and --user-folder both name the folder to work in";

Options usage_error(std::string message) {
    Options options;
    options.action = Action::usage_error;
    options.error = std::move(message);
    return options;
}

}  // namespace

Options parse(int argc, const char* const* argv) {
    Options options;
    options.toolkit_args.emplace_back(argc > 0 && argv[0] ? argv[0] : "cncmirel");
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.action = Action::help;
            return options;
        }
        if (arg == "--version") {
            options.action = Action::version;
            return options;
        }
        if (arg == "--user-folder") {
            if (!options.folder.empty()) return usage_error(BOTH_FOLDERS);
            options.user_folder = true;
        } else if (arg == "--folder" || arg.starts_with("--folder=")) {
            std::string_view folder;
            if (arg == "--folder") {
                if (i + 1 >= argc) return usage_error("--folder needs a folder");
                folder = argv[++i];
            } else {
                folder = arg.substr(std::strlen("--folder="));
            }
            if (folder.empty()) return usage_error("--folder needs a folder");
            if (options.user_folder) return usage_error(BOTH_FOLDERS);
            options.folder = folder;
        } else if (arg == "--port" || arg.starts_with("--port=")) {
            std::string_view device;
            if (arg == "--port") {
                if (i + 1 >= argc) return usage_error("--port needs a device, e.g. /dev/parport1");
                device = argv[++i];
            } else {
                device = arg.substr(std::strlen("--port="));
            }
            if (device.empty()) return usage_error("--port needs a device, e.g. /dev/parport1");
            options.port_device = device;
        } else if (arg.size() > 1 && arg[0] == '-') {
            // The toolkit takes its options with one dash or two.
            std::string_view name = arg.substr(arg[1] == '-' ? 2 : 1);
            if (contains(TOOLKIT_FLAGS, name)) {
                options.toolkit_args.emplace_back(arg);
            } else if (contains(TOOLKIT_VALUE_OPTIONS, name)) {
                if (i + 1 >= argc)
                    return usage_error("option " + std::string(arg) + " needs a value");
                options.toolkit_args.emplace_back(arg);
                options.toolkit_args.emplace_back(argv[++i]);
            } else {
                return usage_error("unknown option " + std::string(arg));
            }
        } else {
            return usage_error("unexpected argument " + std::string(arg) +
                               " (jobs are opened with the open-file button)");
        }
    }
    return options;
}

std::string usage_text() {
    return "Usage: cncmirel [--port DEVICE] [--user-folder | --folder DIR]\n"
           "       cncmirel --help | --version\n"
           "\n"
           "Controller for a small three-axis machine that drills and mills printed circuit\n"
           "boards, driven from the PC's parallel port. Param.ini (the machine's parameters)\n"
           "is read from and written to the folder the controller works in.\n"
           "\n"
           "  --port DEVICE   use this parallel-port device instead of /dev/parport0\n"
           "                  (a PCIe card is often /dev/parport1)\n"
           "  --user-folder   work in $XDG_DATA_HOME/cncmirel (~/.local/share/cncmirel),\n"
           "                  created when missing, instead of the current folder\n"
           "  --folder DIR    work in the existing folder DIR: its Param.ini, and the file\n"
           "                  dialog opens there (a folder cncmirel-prep made for a job unit)\n"
           "  -h, --help      print this text and exit\n"
           "  --version       print the version and exit\n"
           "\n"
           "The toolkit's standard options, such as -platform and -display, are accepted.\n";
}

std::string user_folder(const char* xdg_data_home, const char* home) {
    if (xdg_data_home && xdg_data_home[0] == '/') return std::string(xdg_data_home) + "/cncmirel";
    if (home && home[0] == '/') return std::string(home) + "/.local/share/cncmirel";
    return {};
}

bool enter_folder(const std::string& path, std::string& error) {
    // Each missing folder on the way is made in turn, as mkdir -p would.
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        if (!part.empty() && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
        if (end == std::string::npos) break;
    }
    if (::chdir(path.c_str()) != 0) {
        error = "cannot work in " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool enter_existing_folder(const std::string& path, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "no folder " + path + " to work in";
        return false;
    }
    if (::chdir(path.c_str()) != 0) {
        error = "cannot work in " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace command_line
