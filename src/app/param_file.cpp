// param_file.cpp - reading and the atomic writing of the parameter file.
#include "app/param_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "app/controls.h"
#include "base/helpers.h"  // open_regular_file
#include "base/texts.h"
#include "platform/window.h"

ParamValues decode_param_file(const std::uint8_t* data, std::size_t size) {
    ParamValues values{};
    for (std::size_t i = 0; i < PARAM_COUNT; ++i) {
        std::uint32_t v = 0;
        for (std::size_t b = 0; b < 4; ++b) {
            const std::size_t at = i * 4 + b;
            if (at < size) v |= static_cast<std::uint32_t>(data[at]) << (8 * b);
        }
        values[i] = static_cast<std::int32_t>(v);
    }
    return values;
}

std::array<std::uint8_t, PARAM_FILE_SIZE> encode_param_file(const ParamValues& values) {
    std::array<std::uint8_t, PARAM_FILE_SIZE> bytes{};
    for (std::size_t i = 0; i < PARAM_COUNT; ++i) {
        const auto v = static_cast<std::uint32_t>(values[i]);
        for (std::size_t b = 0; b < 4; ++b)
            bytes[i * 4 + b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    return bytes;
}

std::optional<ParamValues> read_param_file(const std::string& path) {
    // A FIFO or device under that name must not hang the start-up.
    struct stat st {};
    const int fd = open_regular_file(path.c_str(), st);
    if (fd < 0) return std::nullopt;
    std::uint8_t bytes[PARAM_FILE_SIZE];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::read(fd, bytes + got, sizeof bytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return decode_param_file(bytes, got);
}

bool (*param_write_fault)(ParamWriteStep step) = nullptr;

namespace {

// True when the step should fail now (only ever for a test); otherwise it runs.
bool fault(ParamWriteStep step) {
    return param_write_fault && param_write_fault(step);
}

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path stands for: the end of its chain of symbolic links (the link's target is
// written, not the link replaced), also when that end does not exist yet.
std::string resolve_links(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::vector<char> target(static_cast<std::size_t>(PATH_MAX) + 1);
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size() - 1);
        if (n <= 0) return path;
        const std::string link(target.data(), static_cast<std::size_t>(n));
        path = link.front() == '/' ? link : folder_of(path) + "/" + link;
    }
    return path;
}

constexpr const char* TEMP_PREFIX = ".Param.ini.";
constexpr std::size_t TEMP_SUFFIX = 6;

// A temporary name the folder does not hold yet: ".Param.ini." and six random characters.
std::string temp_name(const std::string& folder) {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uint64_t seed = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15u;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    seed ^= static_cast<std::uint64_t>(now.tv_nsec) * 0xBF58476D1CE4E5B9u +
            static_cast<std::uint64_t>(now.tv_sec);
    std::string name = folder + "/" + TEMP_PREFIX;
    for (std::size_t i = 0; i < TEMP_SUFFIX; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        name.push_back(letters[(seed >> 33) % (sizeof letters - 1)]);
    }
    return name;
}

// Removes what an earlier write that was killed between naming its new file and renaming it
// left behind.
void remove_leftovers(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    const std::size_t prefix = std::strlen(TEMP_PREFIX);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() == prefix + TEMP_SUFFIX && name.starts_with(TEMP_PREFIX)) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
    }
    ::closedir(dir);
}

void sync_folder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Whether the user may write the file: for root, only when its owner's write bit is set.
bool may_write(const std::string& path, const struct stat& st) {
    if (::geteuid() == 0) return (st.st_mode & S_IWUSR) != 0;
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// Rewrites an existing file in place: for a file whose owner a new file could not keep, or in
// a folder where no new file can be made. Sixty bytes at offset 0 in one write, then the rest
// cut off, so that the file is never shorter than sixty bytes.
bool write_in_place(const std::string& path,
                    const std::array<std::uint8_t, PARAM_FILE_SIZE>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    bool ok = !fault(ParamWriteStep::write) &&
              ::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
    ok = ok && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
    ok = ok && !fault(ParamWriteStep::flush) && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

// A new file in `folder` that has no name yet (so that nothing is left behind if the program
// is killed while it is written), or, where the file system cannot do that, one with a
// temporary name. -1 when the folder takes no new file.
int open_new_file(const std::string& folder, std::string& named) {
    named.clear();
    if (fault(ParamWriteStep::create)) return -1;
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        named = temp_name(folder);
        fd = ::open(named.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) named.clear();
    return fd;
}

// Gives the nameless file `fd` a temporary name in `folder`; false when it cannot.
bool name_new_file(int fd, const std::string& folder, std::string& named) {
    if (fault(ParamWriteStep::name)) return false;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        named = temp_name(folder);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return true;
        }
        if (errno != EEXIST) break;
    }
    named.clear();
    return false;
}

}  // namespace

bool write_param_file(const std::string& path, const ParamValues& values) {
    const std::string target = resolve_links(path);
    const std::string folder = folder_of(target);
    const auto bytes = encode_param_file(values);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) return false;
    if (exists && !may_write(target, old)) {
        std::fprintf(stderr, "cncmirel: %s is read-only: the parameters were not saved\n",
                     target.c_str());
        return false;
    }
    remove_leftovers(folder);

    std::string named;
    const int fd = open_new_file(folder, named);
    if (fd < 0) return exists && write_in_place(target, bytes);
    // The new file takes the old one's permissions and owner; a plain create's where there was
    // none.
    bool owner_kept = true;
    if (exists) {
        owner_kept = !fault(ParamWriteStep::keep_owner) &&
                     ((old.st_uid == ::geteuid() && old.st_gid == ::getegid()) ||
                      ::fchown(fd, old.st_uid, old.st_gid) == 0);
        ::fchmod(fd, old.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    bool ok =
        owner_kept && !fault(ParamWriteStep::write) && write_all(fd, bytes.data(), bytes.size());
    ok = ok && !fault(ParamWriteStep::flush) && ::fsync(fd) == 0;
    ok = ok && (!named.empty() || name_new_file(fd, folder, named));
    ok = ::close(fd) == 0 && ok;
    ok = ok && !fault(ParamWriteStep::replace) && ::rename(named.c_str(), target.c_str()) == 0;
    if (!ok) {
        if (!named.empty()) ::unlink(named.c_str());
        // A file whose owner a new file could not keep is rewritten where it is.
        return exists && !owner_kept && write_in_place(target, bytes);
    }
    if (!fault(ParamWriteStep::flush_folder)) sync_folder(folder);
    return true;
}

std::string param_file_path = PARAM_FILE_NAME;

void load_parameters() {
    const std::optional<ParamValues> values = read_param_file(param_file_path);
    if (!values) {
        platform::message_box(texts::PARAMETERS_NOT_FOUND, texts::PARAMETERS_NOT_FOUND);
        return;
    }
    for (int i = 0; i < ids::FIELD_COUNT; ++i) {
        // The field brings a value outside its range to the nearest bound.
        platform::set_control_value(ids::FIELD_FIRST + i, (*values)[static_cast<std::size_t>(i)]);
        platform::set_back_colour(ids::FIELD_FIRST + i, ids::COLOUR_APPLIED);
    }
}

namespace {

ParamValues field_values() {
    ParamValues values{};
    for (int i = 0; i < ids::FIELD_COUNT; ++i) {
        values[static_cast<std::size_t>(i)] = platform::control_value(ids::FIELD_FIRST + i);
    }
    return values;
}

// The fields as last remembered, for a save made on another thread.
std::mutex remembered_mutex;
std::optional<ParamValues> remembered;

}  // namespace

void save_parameters() {
    // A failed write is not reported: the program ends anyway, and the old file stays whole.
    write_param_file(param_file_path, field_values());
}

void remember_parameters() {
    const ParamValues values = field_values();
    const std::lock_guard lock(remembered_mutex);
    remembered = values;
}

bool save_remembered_parameters() {
    std::optional<ParamValues> values;
    {
        const std::lock_guard lock(remembered_mutex);
        values = remembered;
    }
    return values && write_param_file(param_file_path, *values);
}
