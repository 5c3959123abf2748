// Tests of the line reader shared by the job-file readers: terminators, exact offsets, long
// lines, buffer boundaries, and files that cannot be read.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "job_file_folder.h"
#include "jobs/line_reader.h"

namespace {

using Lines = std::vector<std::pair<std::string, std::int64_t>>;  // line, offset after it

// The lines of `data` by the plain definition, one byte at a time.
Lines reference_lines(const std::string& data) {
    Lines lines;
    std::size_t i = 0;
    while (i < data.size()) {
        std::size_t j = i;
        while (j < data.size() && data[j] != '\r' && data[j] != '\n' && data[j] != '\0') ++j;
        std::string line = data.substr(i, std::min(j - i, LineReader::LINE_LIMIT));
        if (j < data.size()) {
            j += data[j] == '\r' && j + 1 < data.size() && data[j + 1] == '\n' ? 2 : 1;
        }
        lines.emplace_back(std::move(line), static_cast<std::int64_t>(j));
        i = j;
    }
    return lines;
}

// Every line of the file; with `record`, the reading records the file there, as a scan does.
Lines read_all(const std::string& file, FileFingerprint* record = nullptr) {
    Lines lines;
    LineReader reader;
    EXPECT_TRUE(record != nullptr ? reader.open_recording(file, *record) : reader.open(file));
    while (!reader.at_end()) {
        const std::string_view line = reader.next_line();
        lines.emplace_back(std::string(line), reader.position());
    }
    EXPECT_FALSE(reader.failed());
    return lines;
}

TEST(LineReader, TerminatorsAndOffsets) {
    struct Case {
        std::string data;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"abc", {{"abc", 3}}},
        {"abc\n", {{"abc", 4}}},
        {"abc\n\n", {{"abc", 4}, {"", 5}}},
        {"a\r\nb\rc\nd", {{"a", 3}, {"b", 5}, {"c", 7}, {"d", 8}}},
        {std::string("a\0b\0", 4), {{"a", 2}, {"b", 4}}},
        {"a\n\rb", {{"a", 2}, {"", 3}, {"b", 4}}},    // LF CR is two terminators
        {"a\r\r\nb", {{"a", 2}, {"", 4}, {"b", 5}}},  // CR, then CR LF
        {std::string("a\r\0b", 4), {{"a", 2}, {"", 3}, {"b", 4}}},
        {"a\r", {{"a", 2}}},
        {"\t x \v\f", {{"\t x \v\f", 6}}},  // other control bytes are text
    };
    JobFileFolder folder;
    for (const Case& c : cases) {
        EXPECT_EQ(read_all(folder.write("t.txt", c.data)), c.lines)
            << testing::PrintToString(c.data);
    }
}

// Random text with every terminator, long lines and buffer refills at arbitrary places, read
// whole and from every line start, against the plain definition; the reads from a line start
// are checked against what the whole reading recorded, as a run's fetches are.
TEST(LineReader, MatchesPlainDefinitionOnRandomText) {
    JobFileFolder folder;
    std::mt19937 random(12345);
    for (const int terminator_rate : {3, 40, 5000}) {
        std::string data;
        while (data.size() < 300'000) {
            const auto pick = random() % static_cast<unsigned>(terminator_rate);
            if (pick == 0) {
                static const char* const terminators[] = {"\n", "\r", "\r\n", "\0"};
                const char* t = terminators[random() % 4];
                data.append(t, t[0] == '\0' ? 1 : std::char_traits<char>::length(t));
            } else {
                data += static_cast<char>('a' + pick % 26);
            }
        }
        const std::string file = folder.write("random.txt", data);
        const Lines expected = reference_lines(data);
        FileFingerprint recorded;
        ASSERT_EQ(read_all(file, &recorded), expected) << "rate " << terminator_rate;
        std::int64_t start = 0;
        for (const auto& [line, after] : expected) {
            LineReader reader;
            ASSERT_TRUE(reader.open_unchanged(file, &recorded));
            reader.seek(start);
            ASSERT_EQ(reader.next_line(), line) << "from " << start;
            ASSERT_EQ(reader.position(), after) << "from " << start;
            ASSERT_FALSE(reader.failed()) << "from " << start;
            start = after;
        }
    }
}

// A CR LF whose CR is the last byte of a read, wherever the reads end: CR LF at every offset
// around the ends of the first reads, ending a long line or a short one.
TEST(LineReader, CrLfAcrossTheEndOfARead) {
    JobFileFolder folder;
    const std::size_t first = LineReader::FIRST_READ_BYTES;
    const std::size_t buffer = LineReader::BUFFER_BYTES;
    for (const std::size_t around : {first, 3 * first, 7 * first, 15 * first, buffer}) {
        for (std::size_t cr = around - 6; cr < around + 6; ++cr) {
            for (const char filler : {'a', '\n'}) {
                const std::string data = std::string(cr - 1, filler) + "c\r\nb\n";
                ASSERT_EQ(read_all(folder.write("split.txt", data)), reference_lines(data))
                    << "CR at " << cr << " after "
                    << (filler == 'a' ? "a long line" : "empty lines");
            }
        }
    }
}

TEST(LineReader, LongLineKeepsItsHeadAndExactOffsets) {
    JobFileFolder folder;
    std::string head(LineReader::LINE_LIMIT, 'h');
    const std::string data = head + std::string(100'000, 't') + "\r\nnext";
    const Lines lines = read_all(folder.write("long.txt", data));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].first, head);
    EXPECT_EQ(lines[0].second, static_cast<std::int64_t>(data.size() - 4));
    EXPECT_EQ(lines[1], (std::pair<std::string, std::int64_t>("next", data.size())));
}

TEST(LineReader, RefusesWhatIsNotARegularFile) {
    JobFileFolder folder;
    LineReader missing;
    EXPECT_FALSE(missing.open(folder.path("missing.txt")));
    LineReader directory;
    EXPECT_FALSE(directory.open(folder.path("")));
    LineReader fifo;  // would wait for a writer if opened in blocking mode
    EXPECT_FALSE(fifo.open(folder.fifo("pipe")));
}

TEST(LineReader, ReadsNoFurtherThanTheLengthAtOpen) {
    JobFileFolder folder;
    const std::string file = folder.write("grow.txt", "one\n");
    LineReader reader;
    ASSERT_TRUE(reader.open(file));
    std::ofstream(file, std::ios::app) << "two\n";
    EXPECT_EQ(reader.next_line(), "one");
    EXPECT_TRUE(reader.at_end());
    EXPECT_EQ(reader.position(), 4);
}

TEST(LineReader, FileShorterThanAtOpenEndsTheReadingAsFailed) {
    JobFileFolder folder;
    const std::string file = folder.write("shrink.txt", "one\ntwo\n");
    LineReader reader;
    ASSERT_TRUE(reader.open(file));
    folder.write("shrink.txt", "");
    EXPECT_EQ(reader.next_line(), "");
    EXPECT_TRUE(reader.failed());
    EXPECT_TRUE(reader.at_end());
}

// One line of 100 bytes at every multiple of 100, 20 000 bytes: four whole blocks and a partial
// one.
std::string hundred_byte_lines() {
    std::string data;
    while (data.size() < 20'000) {
        const std::string number = std::to_string(data.size());
        data += "X" + number + std::string(98 - number.size(), 'y') + "\n";
    }
    return data;
}

// A file that has the recorded identity but other bytes. No real edit leaves that (the
// status-change time moves), so a record of file A is given the identity of file B, a copy of A
// with one byte changed: a read fails before handing out anything of a block that differs,
// wherever in the file that block lies; blocks it does not read cost nothing.
TEST(LineReader, BytesOtherThanRecordedEndTheReading) {
    struct Case {
        const char* what;
        std::int64_t from;
        std::int64_t changed;
        bool fails;
    };
    const Case cases[] = {
        {"in the line read", 0, 10, true},
        {"before the offset, in the block it starts in", 5000, 4100, true},
        {"in the next block, where the line runs on", 4000, 4150, true},
        {"in the partial last block", 19'900, 19'990, true},
        {"in a block the read never reaches", 0, 10'000, false},
    };
    JobFileFolder folder;
    const std::string data = hundred_byte_lines();
    FileFingerprint recorded;
    read_all(folder.write("a.txt", data), &recorded);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string other = data;
        other[static_cast<std::size_t>(c.changed)] = '#';
        const std::string file = folder.write("b.txt", other);
        LineReader probe;
        ASSERT_TRUE(probe.open(file));
        FileFingerprint faked = recorded;
        faked.identity = probe.identity();

        LineReader reader;
        ASSERT_TRUE(reader.open_unchanged(file, &faked));
        reader.seek(c.from);
        const std::string_view line = reader.next_line();
        EXPECT_EQ(reader.failed(), c.fails);
        EXPECT_EQ(line, c.fails ? "" : data.substr(static_cast<std::size_t>(c.from), 99));
    }
}

// An edit that puts the times back, made after a fetch's check at open and far from the bytes
// it reads: its read still fails, as the file is no longer the one recorded; and the next
// fetch's open already refuses it.
TEST(LineReader, EditWithTimesPutBackIsCaughtAfterTheReadAndAtTheNextOpen) {
    JobFileFolder folder;
    const std::string file = folder.write("a.txt", hundred_byte_lines());
    FileFingerprint recorded;
    read_all(file, &recorded);
    LineReader reader;
    ASSERT_TRUE(reader.open_unchanged(file, &recorded));
    ASSERT_TRUE(edit_keeping_times(file, 15'000, "#"));
    EXPECT_EQ(reader.next_line(), "");
    EXPECT_TRUE(reader.failed());

    LineReader next;
    EXPECT_FALSE(next.open_unchanged(file, &recorded));
}

// Two looks at a file are the same file only when nothing of the identity differs, down to the
// nanosecond of either time: an edit within the same second still shows.
TEST(FileIdentity, AnyFieldDownToTheNanosecondMakesAnotherFile) {
    struct stat base {};
    base.st_dev = 8;
    base.st_ino = 1234;
    base.st_size = 4096;
    base.st_mtim = {1'700'000'000, 100};
    base.st_ctim = {1'700'000'000, 200};
    EXPECT_EQ(identity_of(base), identity_of(base));
    struct Change {
        const char* name;
        void (*apply)(struct stat&);
    };
    const Change changes[] = {
        {"device", [](struct stat& st) { st.st_dev = 9; }},
        {"inode", [](struct stat& st) { st.st_ino = 1235; }},
        {"size", [](struct stat& st) { st.st_size = 4097; }},
        {"modified second", [](struct stat& st) { st.st_mtim.tv_sec += 1; }},
        {"modified nanosecond", [](struct stat& st) { st.st_mtim.tv_nsec += 1; }},
        {"changed second", [](struct stat& st) { st.st_ctim.tv_sec += 1; }},
        {"changed nanosecond", [](struct stat& st) { st.st_ctim.tv_nsec += 1; }},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        struct stat other = base;
        change.apply(other);
        EXPECT_NE(identity_of(base), identity_of(other));
    }
}

}  // namespace
