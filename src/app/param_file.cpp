// param_file.cpp - reading and the atomic writing of the parameter file.
#include "app/param_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
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
#include "base/files.h"    // folder_of, flush_to_disk
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

using ParamBytes = std::array<std::uint8_t, PARAM_FILE_SIZE>;

// True when the step should fail now (only ever for a test, which may set errno to the cause it
// plants; EIO when it does not); otherwise it runs.
bool fault(ParamWriteStep step) {
    if (!param_write_fault) return false;
    errno = EIO;
    return param_write_fault(step);
}

// The one line on standard error that says a save did not happen, and why.
void say_not_saved(const std::string& file, const char* why) {
    std::fprintf(stderr, "cncmirel: %s: the parameters were not saved: %s\n", file.c_str(), why);
}

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Whether the kernel's guard against links planted in shared folders would refuse to follow the
// link `link` at `path`: it lies in a sticky folder anyone may write (as /tmp), and neither the
// folder's owner nor this user made it.
bool planted_link(const std::string& path, const struct stat& link) {
    struct stat dir {};
    if (::stat(folder_of(path).c_str(), &dir) != 0) return true;
    const bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
    return shared && link.st_uid != dir.st_uid && link.st_uid != ::geteuid();
}

// Turns `path` into the file it stands for: the end of its chain of symbolic links (the link's
// target is written, not the link replaced), also when that end does not exist yet. False, with
// `path` the link where it stopped and `why` the cause, when a link is one the kernel would not
// follow or cannot be read.
bool resolve_links(std::string& path, std::string& why) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        if (planted_link(path, st)) {
            why = "a symbolic link of another user in a shared folder is not followed";
            return false;
        }
        std::vector<char> target(static_cast<std::size_t>(PATH_MAX) + 1);
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size() - 1);
        if (n <= 0) {
            why = std::strerror(n < 0 ? errno : ENOENT);
            return false;
        }
        const std::string link(target.data(), static_cast<std::size_t>(n));
        path = link.front() == '/' ? link : folder_of(path) + "/" + link;
    }
    why = std::strerror(ELOOP);
    return false;
}

// Temporary names: the prefix, twelve random letters and digits, the suffix. The marker makes
// them unlike any name a user would give a copy of the file, so that the clean-up can tell them.
constexpr std::string_view TEMP_PREFIX = ".Param.ini.cncmirel-";
constexpr std::string_view TEMP_SUFFIX = ".tmp";
constexpr std::size_t TEMP_RANDOM = 12;
constexpr std::string_view TEMP_LETTERS =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// A temporary name the folder does not hold yet (with a high probability; the caller creates it
// exclusively and tries again).
std::string temp_name(const std::string& folder) {
    static std::uint64_t calls = 0;
    std::uint64_t seed = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15u + ++calls;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    seed ^= static_cast<std::uint64_t>(now.tv_nsec) * 0xBF58476D1CE4E5B9u +
            static_cast<std::uint64_t>(now.tv_sec);
    std::string name = folder + "/";
    name += TEMP_PREFIX;
    for (std::size_t i = 0; i < TEMP_RANDOM; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        name.push_back(TEMP_LETTERS[(seed >> 33) % TEMP_LETTERS.size()]);
    }
    name += TEMP_SUFFIX;
    return name;
}

bool is_temp_name(std::string_view name) {
    if (name.size() != TEMP_PREFIX.size() + TEMP_RANDOM + TEMP_SUFFIX.size() ||
        !name.starts_with(TEMP_PREFIX) || !name.ends_with(TEMP_SUFFIX)) {
        return false;
    }
    const std::string_view random = name.substr(TEMP_PREFIX.size(), TEMP_RANDOM);
    return random.find_first_not_of(TEMP_LETTERS) == std::string_view::npos;
}

// Removes what an earlier write that was killed between naming its new file and renaming it
// left behind: a file of at most sixty bytes under a temporary name. Called only with the
// folder's lock held, so that no other writer's file is among them.
void remove_leftovers(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!is_temp_name(entry->d_name)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_size <= static_cast<off_t>(PARAM_FILE_SIZE)) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
    }
    ::closedir(dir);
}

// The folder's advisory lock, held from the clean-up until the folder is flushed, so that two
// controllers saving into one folder never remove each other's new file. The lock is on the
// folder because the parameter file is a new file after each save and the folder is not. A
// writer that does not get it within a second still saves, without the clean-up.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
          open_error_(fd_ < 0 ? errno : 0) {
        for (int attempt = 0; fd_ >= 0 && attempt < 100; ++attempt) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                held_ = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) return;
            const timespec pause{0, 10'000'000};
            ::nanosleep(&pause, nullptr);
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool held() const { return held_; }
    // The open folder, or -1 when it could not be opened (`open_error` says why).
    int fd() const { return fd_; }
    int open_error() const { return open_error_; }

private:
    int fd_;
    int open_error_;
    bool held_ = false;
};

// Whether the user may write the file: for root, only when its owner's write bit is set.
bool may_write(const std::string& path, const struct stat& st) {
    if (::geteuid() == 0) return (st.st_mode & S_IWUSR) != 0;
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// Rewrites an existing file in place: for a file whose owner a new file could not keep, or in
// a folder where no new file can be made. Sixty bytes at offset 0 in one write, then the rest
// cut off, so that the file is never shorter than sixty bytes. False with errno set on failure.
bool write_in_place(const std::string& path, const ParamBytes& bytes) {
    if (fault(ParamWriteStep::write)) return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), 0);
    if (n >= 0 && n != static_cast<ssize_t>(bytes.size())) errno = EIO;
    bool ok = n == static_cast<ssize_t>(bytes.size());
    ok = ok && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
    ok = ok && !fault(ParamWriteStep::flush) && flush_to_disk(fd) == 0;
    const int cause = errno;
    if (::close(fd) != 0) return false;
    errno = cause;
    return ok;
}

// A new file under a temporary name in `folder`, made exclusively; -1 when none can be made.
int open_named_file(const std::string& folder, std::string& named) {
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        named = temp_name(folder);
        fd = ::open(named.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) named.clear();
    return fd;
}

// A new file in `folder` that has no name yet (so that nothing is left behind if the program
// is killed while it is written), or, where the file system cannot do that, one with a
// temporary name. -1 when the folder takes no new file.
int open_new_file(const std::string& folder, std::string& named) {
    named.clear();
    if (fault(ParamWriteStep::create)) return -1;
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    return open_named_file(folder, named);
}

// Gives the new file the old one's owner and permissions (a plain create's where there was
// none), then the sixty bytes, flushed. `owner_kept` is false when the owner could not be kept.
bool fill_new_file(int fd, const struct stat* old, const ParamBytes& bytes, bool& owner_kept) {
    owner_kept = true;
    if (fault(ParamWriteStep::keep_owner)) {
        // As a failed fchown: an old file's owner was not kept.
        owner_kept = old == nullptr;
        return false;
    }
    if (old) {
        owner_kept = (old->st_uid == ::geteuid() && old->st_gid == ::getegid()) ||
                     ::fchown(fd, old->st_uid, old->st_gid) == 0;
        if (!owner_kept || ::fchmod(fd, old->st_mode & 07777) != 0) return false;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (::fchmod(fd, 0666 & ~mask) != 0) return false;
    }
    return !fault(ParamWriteStep::write) && write_all(fd, bytes.data(), bytes.size()) &&
           !fault(ParamWriteStep::flush) && flush_to_disk(fd) == 0;
}

// Gives the nameless file `fd` a temporary name in `folder`; false when it cannot (ENOENT when
// there is no /proc to name it by).
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

// The errno of a step that just failed; EIO should the step have left none.
int cause_now() {
    return errno != 0 ? errno : EIO;
}

// Puts the new contents in place of `target` (`old` its status, or null when it does not
// exist); 0, or the errno of the step that failed, the old file then whole and no new file left.
int replace_file(const std::string& target, const std::string& folder, const struct stat* old,
                 const ParamBytes& bytes) {
    std::string named;
    int fd = open_new_file(folder, named);
    if (fd < 0) {
        // A folder that takes no new file: an existing file is rewritten where it is.
        if (old == nullptr) return cause_now();
        return write_in_place(target, bytes) ? 0 : cause_now();
    }
    bool owner_kept = true;
    bool ok = fill_new_file(fd, old, bytes, owner_kept);
    if (ok && named.empty()) {
        ok = name_new_file(fd, folder, named);
        if (!ok && errno == ENOENT) {
            // Without /proc (a chroot, a small container) the nameless file cannot be named:
            // a named one is written instead, as the file systems without nameless files have.
            ::close(fd);
            fd = open_named_file(folder, named);
            ok = fd >= 0 && fill_new_file(fd, old, bytes, owner_kept);
        }
    }
    int cause = ok ? 0 : cause_now();
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        cause = cause_now();
    }
    if (ok && (fault(ParamWriteStep::replace) || ::rename(named.c_str(), target.c_str()) != 0)) {
        ok = false;
        cause = cause_now();
    }
    if (ok) return 0;
    if (!named.empty()) ::unlink(named.c_str());
    // A file whose owner a new file could not keep is rewritten where it is.
    if (old != nullptr && !owner_kept) return write_in_place(target, bytes) ? 0 : cause_now();
    return cause;
}

}  // namespace

bool write_param_file(const std::string& path, const ParamValues& values) {
    std::string target = path;
    std::string why;
    if (!resolve_links(target, why)) {
        say_not_saved(target, why.c_str());
        return false;
    }
    const std::string folder = folder_of(target);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        say_not_saved(target, "it is not a regular file");
        return false;
    }
    if (exists && !may_write(target, old)) {
        say_not_saved(target, "it is read-only");
        return false;
    }
    const FolderLock lock(folder);
    if (lock.held()) remove_leftovers(folder);

    const int error =
        replace_file(target, folder, exists ? &old : nullptr, encode_param_file(values));
    if (error != 0) {
        say_not_saved(target, std::strerror(error));
        return false;
    }
    // The file is in place; only a crash before the folder reaches the disk could lose it.
    int unflushed = 0;
    if (fault(ParamWriteStep::flush_folder)) {
        unflushed = cause_now();
    } else if (lock.fd() < 0) {
        unflushed = lock.open_error();
    } else if (flush_to_disk(lock.fd()) != 0) {
        unflushed = cause_now();
    }
    if (unflushed != 0) {
        std::fprintf(stderr, "cncmirel: %s: saved, but its folder could not be flushed: %s\n",
                     target.c_str(), std::strerror(unflushed));
    }
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
    // A failed write has said so on standard error; the program ends anyway, and the old file
    // stays whole.
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
