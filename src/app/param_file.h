// param_file.h - "Param.ini": fifteen little-endian signed 32-bit values in field order,
// sixty bytes, no header. Read once at start-up, written once at exit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

inline constexpr const char* PARAM_FILE_NAME = "Param.ini";
inline constexpr std::size_t PARAM_COUNT = 15;
inline constexpr std::size_t PARAM_FILE_SIZE = PARAM_COUNT * 4;

using ParamValues = std::array<std::int32_t, PARAM_COUNT>;

// The values held by `size` bytes of a parameter file: 0 for each value beyond the end,
// bytes after the sixtieth ignored.
ParamValues decode_param_file(const std::uint8_t* data, std::size_t size);
std::array<std::uint8_t, PARAM_FILE_SIZE> encode_param_file(const ParamValues& values);

// Reads the file at `path`; nothing when it cannot be opened or read.
std::optional<ParamValues> read_param_file(const std::string& path);
// Replaces the file at `path` in one step: a new file in the same folder, written and flushed
// without a name (or under a temporary name where it cannot be named later), then renamed over
// the old one, and the folder flushed. A symbolic link is followed to the file it names, except
// where the kernel would not follow it (a link of another user in a shared sticky folder); the
// old file's permissions and owner are kept; a file the user may not write is left alone. False
// when the parameters were not written, which one line on standard error says with its cause;
// the old file is then whole, and no temporary file is left in any case. Temporary files that a
// killed write left are removed, while the folder's lock keeps other writers out.
bool write_param_file(const std::string& path, const ParamValues& values);

// The steps of that write, each of which may fail (or the program be killed at it).
enum class ParamWriteStep { create, keep_owner, write, flush, name, replace, flush_folder };
// For tests: called before each step; returning true makes the step fail, with the errno the
// hook sets (EIO when it sets none).
extern bool (*param_write_fault)(ParamWriteStep step);
// Every flush of that write to the disk, the new file's and the folder's, goes through
// flush_to_disk (base/files.h); a test may watch which descriptors are flushed.

// Where start-up reads the parameters and exit writes them: "Param.ini" in the working
// directory (a dry-run tool may point it elsewhere).
extern std::string param_file_path;

// Start-up: loads "Param.ini" of the working directory into the fifteen fields, or reports
// that it is missing and leaves the fields at their defaults.
void load_parameters();
// Exit: writes the fifteen fields to "Param.ini".
void save_parameters();
// Keeps a copy of the fifteen fields for save_remembered_parameters; the main loop calls it
// once a pass, so that the copy follows every change of a field.
void remember_parameters();
// Writes the copy to "Param.ini", from any thread, without touching the window: for a program
// that ends at once. False when nothing was remembered yet or the write failed.
bool save_remembered_parameters();
