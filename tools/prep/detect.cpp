// detect.cpp - the kind of an input file from its content.
#include "detect.h"

#include <cctype>

#include "base/helpers.h"  // begins_upper
#include "model.h"

namespace prep {

namespace {

constexpr std::string_view HPGL_FIRST =
    "IN DF SP PU PD PA PR BP PG CO IP SC LT VS PS RO IW CI AA AR LB DT FS PW WU PM TR NP PC MG";

// Whether the text, upper-cased, begins with `prefix` (in capitals): the controller's own test.
bool starts(std::string_view text, std::string_view prefix) {
    return begins_upper(text, prefix);
}

bool digit_like(std::string_view text, std::size_t at) {
    if (at >= text.size()) return false;
    const char c = text[at];
    return std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// Files that are plainly something else, known by the bytes they start with.
struct Magic {
    std::string_view bytes;
    std::size_t at;  // offset of the bytes in the file
    const char* what;
    bool packed;  // an archive or compressed file, which may hold the export
};

const Magic MAGICS[] = {
    {"PK\x03\x04", 0, "a ZIP archive", true},
    {"PK\x05\x06", 0, "a ZIP archive", true},
    {"\x1f\x8b", 0, "a gzip-compressed file", true},
    {"BZh", 0, "a bzip2-compressed file", true},
    {"\xfd"
     "7zXZ",
     0, "an xz-compressed file", true},
    {"\x28\xb5\x2f\xfd", 0, "a zstd-compressed file", true},
    {"7z\xbc\xaf\x27\x1c", 0, "a 7z archive", true},
    {"Rar!\x1a\x07", 0, "a RAR archive", true},
    {"ustar", 257, "a tar archive", true},
    {"\x7f"
     "ELF",
     0, "a program (ELF), not a job export", false},
    {"%PDF-", 0, "a PDF document, not a job export: export the drill file or HP-GL instead", false},
    {"\x89PNG\r\n\x1a\n", 0, "a PNG image, not a job export", false},
    {"\xff\xd8\xff", 0, "a JPEG image, not a job export", false},
};

// The description of a file that one of MAGICS names, or nothing.
std::string known_binary(std::string_view head) {
    for (const Magic& m : MAGICS) {
        if (head.size() < m.at + m.bytes.size() || head.substr(m.at, m.bytes.size()) != m.bytes) {
            continue;
        }
        // "BZh" is also the start of a plot command: a bzip2 stream goes on with its block size
        // and the block's own magic.
        if (m.bytes == "BZh" &&
            (head.size() < 10 || head[3] < '1' || head[3] > '9' || head.substr(4, 6) != "1AY&SY")) {
            continue;
        }
        return std::string(m.what) +
               (m.packed ? ": unpack it first and give the drill or plot file inside" : "");
    }
    return {};
}

// True when the text starts with a command an HP-GL file starts with, or with an engraver
// spooler's escape ("!PZ...").
bool hpgl_mnemonic(std::string_view text) {
    if (text.size() >= 3 && text[0] == '!' && std::isalpha(static_cast<unsigned char>(text[1])) &&
        std::isalpha(static_cast<unsigned char>(text[2]))) {
        return true;
    }
    if (text.size() < 2 || !std::isalpha(static_cast<unsigned char>(text[0])) ||
        !std::isalpha(static_cast<unsigned char>(text[1]))) {
        return false;
    }
    const char m[2] = {static_cast<char>(std::toupper(static_cast<unsigned char>(text[0]))),
                       static_cast<char>(std::toupper(static_cast<unsigned char>(text[1])))};
    for (std::size_t k = 0; k + 1 < HPGL_FIRST.size(); k += 3) {
        if (HPGL_FIRST.substr(k, 2) == std::string_view(m, 2)) return true;
    }
    return false;
}

}  // namespace

InputKind detect_kind(std::string_view head, const std::string& path) {
    const std::string name = path + ": ";
    std::size_t i = head.starts_with("\xef\xbb\xbf") ? 3 : 0;
    while (i < head.size() && std::isspace(static_cast<unsigned char>(head[i]))) ++i;
    if (i == head.size()) throw PrepError(name + "the file is empty");
    if (const std::string what = known_binary(head); !what.empty()) throw PrepError(name + what);
    if (head.find('\x1b') != std::string_view::npos) {
        throw PrepError(name +
                        "PCL or printer escape sequences: the file is wrapped for a printer; "
                        "export plain HP-GL instead");
    }
    // HP-GL may hold any byte inside a label and NUL padding after its last command: its
    // reader tells those from binary data, so only a file that starts like HP-GL gets there.
    const bool hpgl_start = hpgl_mnemonic(head.substr(i));
    for (std::size_t k = 0; k < head.size() && !hpgl_start; ++k) {
        const auto c = static_cast<unsigned char>(head[k]);
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != 3) || c == 0x7f) {
            throw PrepError(name + "binary data (byte " + std::to_string(c) + " at offset " +
                            std::to_string(k) + "): not a drill, HP-GL or Gerber file");
        }
    }
    const std::string_view text = head.substr(i);
    // Gerber's format and aperture commands never occur in a drill file or HP-GL; a file that
    // opens with a Gerber comment or attribute is one too.
    if (head.find("%FS") != std::string_view::npos || head.find("%MO") != std::string_view::npos ||
        head.find("%ADD") != std::string_view::npos ||
        ((starts(text, "G04") || starts(text, "%TF")) &&
         text.find('*') != std::string_view::npos)) {
        return InputKind::gerber;
    }
    if (starts(text, "M48") || starts(text, "%") || starts(text, ";") || starts(text, "M71") ||
        starts(text, "M72") || starts(text, "METRIC") || starts(text, "INCH") ||
        starts(text, "FMAT") || starts(text, "VER,") || starts(text, "G90") ||
        starts(text, "G91") || starts(text, "G05") || starts(text, "G81") ||
        (starts(text, "T") && digit_like(text, 1)) ||
        ((starts(text, "X") || starts(text, "Y")) && digit_like(text, 1))) {
        return InputKind::excellon;
    }
    if (hpgl_start) return InputKind::hpgl;
    throw PrepError(name + "neither an Excellon drill file, HP-GL nor Gerber");
}

}  // namespace prep
