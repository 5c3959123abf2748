// command_line.h - the controller's own options (--help, --version, --port, --user-folder,
// --folder) and the folder a start from the desktop menu works in. The toolkit's standard options
// (-platform, -display, ...) are passed on to it unchanged.
#pragma once

#include <string>
#include <vector>

namespace command_line {

enum class Action { run, help, version, usage_error };

struct Options {
    Action action = Action::run;
    std::string port_device;   // empty: the port layer's default device
    bool user_folder = false;  // work in user_folder() instead of the current folder
    std::string folder;        // work in this existing folder (a prepared one) instead
    std::string error;         // what was wrong, for usage_error
    // The program name followed by the toolkit's options, in their order.
    std::vector<std::string> toolkit_args;
};

Options parse(int argc, const char* const* argv);
// The text of --help.
std::string usage_text();
// $XDG_DATA_HOME/cncmirel; HOME/.local/share/cncmirel when XDG_DATA_HOME is unset, empty or
// relative (the base directory rules ignore a relative one); empty when neither is an absolute
// path. Either argument may be null.
std::string user_folder(const char* xdg_data_home, const char* home);
// Creates `path` with any missing parents and makes it the working folder; on failure false
// and a one-line reason in `error`.
bool enter_folder(const std::string& path, std::string& error);
// Makes the existing folder `path` the working folder, creating nothing: a misspelt name must
// not start the controller on an empty folder with default parameters. On failure false and a
// one-line reason in `error`.
bool enter_existing_folder(const std::string& path, std::string& error);

}  // namespace command_line
