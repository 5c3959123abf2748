// param_file.cpp - reading and the atomic writing of the parameter file.
#include "app/param_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "app/ids.h"
#include "app/texts.h"
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
        for (std::size_t b = 0; b < 4; ++b) bytes[i * 4 + b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    return bytes;
}

std::optional<ParamValues> read_param_file(const std::string& path) {
    // O_NONBLOCK: a FIFO or device under that name must not hang the start-up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
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

namespace {

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

}  // namespace

bool write_param_file(const std::string& path, const ParamValues& values) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string temp_name = folder + ".Param.ini.XXXXXX";
    std::vector<char> temp(temp_name.begin(), temp_name.end());
    temp.push_back('\0');
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    // The new file gets the permissions a plain create would have given it.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    const auto bytes = encode_param_file(values);
    const bool written = write_all(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temp.data(), path.c_str()) != 0) {
        ::unlink(temp.data());
        return false;
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

void save_parameters() {
    ParamValues values{};
    for (int i = 0; i < ids::FIELD_COUNT; ++i) {
        values[static_cast<std::size_t>(i)] = platform::control_value(ids::FIELD_FIRST + i);
    }
    // A failed write is not reported: the program ends anyway, and the old file stays whole.
    write_param_file(param_file_path, values);
}
