// The file! I/O actions and the file natives against Python's view of the same folder: reads,
// listings, sizes and dates of a fixture tree, writes read back by Python, deletes and renames
// checked by Python, and the failures that must raise rather than pass for success.
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/unit/datatypes/file_fixture.hpp"

using namespace zel;
using namespace zel::test;

namespace {

const u32 cannot_open = err::E("access", "cannot-open").code();
const u32 cannot_write = err::E("access", "cannot-write").code();
const u32 no_create = err::E("access", "no-create").code();
const u32 invalid_utf8 = err::E("access", "invalid-utf8").code();
const u32 not_done = err::E("internal", "not-done").code();
const u32 refine_arg = err::E("script", "invalid-refine-arg").code();
const u32 expect_arg = err::E("script", "expect-arg").code();
const u32 size_limit = err::E("script", "size-limit").code();

TEST_F(file_test, reads_sizes_and_dates_match_python) {
    make_fixtures();
    folder_facts f = facts();
    ASSERT_GT(f.entries.size(), 10u);
    for (const auto& [path, e] : f.entries) {
        SCOPED_TRACE(path);
        bind_in("f", path);
        outcome when = run("query f");
        ASSERT_EQ(when.type, type_id::date);
        EXPECT_EQ(when.year, e.year);
        EXPECT_EQ(when.month, e.month);
        EXPECT_EQ(when.day, e.day);
        EXPECT_EQ(when.ms_of_day, e.ms_of_day);
        EXPECT_EQ(run("exists? f").mold, "true");
        if (e.dir) {
            EXPECT_EQ(run("size? f").type, type_id::none);
            continue;
        }
        EXPECT_EQ(run("size? f").mold, std::to_string(e.size));
        outcome bytes = run("read/binary f");
        EXPECT_EQ(bytes.type, type_id::binary);
        EXPECT_EQ(bytes.bytes, f.bytes[path]);
        outcome text = run("read f");
        if (f.text.count(path)) {
            EXPECT_EQ(text.type, type_id::string);
            EXPECT_EQ(text.bytes, f.text[path]);
        } else {
            EXPECT_EQ(text.error, invalid_utf8);
        }
    }
}

TEST_F(file_test, listings_match_python) {
    make_fixtures();
    folder_facts f = facts();
    ASSERT_TRUE(f.lists.count(""));
    for (const auto& [path, names] : f.lists) {
        SCOPED_TRACE(path);
        bind_in("d", path);
        outcome listing = run("read d");
        ASSERT_EQ(listing.error, 0u);
        ASSERT_EQ(listing.type, type_id::block);
        std::set<std::string> got(listing.items.begin(), listing.items.end());
        EXPECT_EQ(got.size(), listing.items.size());
        EXPECT_EQ(got, names);
    }
    // A folder named without its final "/" is read as a file, which it is not.
    bind_in("d", "sub");
    EXPECT_EQ(run("read d").error, cannot_open);
    // "." and ".." name folders too.
    EXPECT_EQ(run("read %.").type, type_id::block);
    bind_in("d", "sub/deeper/..");
    std::vector<std::string> items = run("read d").items;
    EXPECT_EQ(std::set<std::string>(items.begin(), items.end()), f.lists["sub/"]);
}

TEST_F(file_test, root_lists_the_file_system_root) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator("/")) {
        std::error_code ec;
        names.insert(e.path().filename().string() + (e.is_directory(ec) ? "/" : ""));
    }
    std::vector<std::string> items = run("read %/").items;
    EXPECT_EQ(std::set<std::string>(items.begin(), items.end()), names);
}

// /part and /seek against Python's slices of the same bytes.
TEST_F(file_test, part_and_seek) {
    make_fixtures();
    std::string big = facts().bytes["big.dat"];
    ASSERT_EQ(big.size(), 300000u);
    struct row {
        const char* refinements;
        const char* arguments;
        i64 part, seek;
    } rows[] = {
        {"", "", -1, -1},
        {"/part", "0", 0, -1},
        {"/part", "10", 10, -1},
        {"/part", "70000", 70000, -1},
        {"/part", "400000", 400000, -1},
        {"/seek", "100", -1, 100},
        {"/seek", "0", -1, 0},
        {"/part/seek", "5 299995", 5, 299995},
        {"/part/seek", "10 299995", 10, 299995},
        {"/seek", "300000", -1, 300000},
        {"/seek", "400000", -1, 400000},
        {"/seek/part", "1.5 3.9", 3, 1},
        {"/part", "-3", -1, -1},
        {"/seek", "-3", -1, -1},
    };
    bind_in("f", "big.dat");
    for (const row& r : rows) {
        std::string source = std::string("read/binary") + r.refinements + " f " + r.arguments;
        SCOPED_TRACE(source);
        std::string expected = big.substr(r.seek < 0 ? 0 : std::min<i64>(r.seek, 300000));
        if (r.part >= 0) expected = expected.substr(0, r.part);
        outcome o = run(source);
        ASSERT_EQ(o.type, type_id::binary);
        EXPECT_EQ(o.bytes, expected);
    }
    // read's type list for /part (number!, a typeset of the library) refuses a pair.
    EXPECT_EQ(run("read/part f 1x2").error, err::E("script", "expect-arg").code());
    // A text cut by /part inside a character leaves that character out.
    bind_in("f", "utf8.txt");
    EXPECT_EQ(run("read/part f 2").bytes, "h");
    EXPECT_EQ(run("read/part f 3").bytes, "h\u00e9");
}

// Text in: CR LF and a lone CR become LF; lines end at LF only, a CR before it going too.
TEST_F(file_test, text_and_lines) {
    make_fixtures();
    bind_in("f", "crlf.txt");
    EXPECT_EQ(run("read f").bytes, "a\nb\nc\nd\n\ne");
    EXPECT_EQ(run("read/lines f").items, (std::vector<std::string>{"a", "b\rc", "d", "", "e"}));
    bind_in("f", "lines.txt");
    EXPECT_EQ(run("read/lines f").items,
              (std::vector<std::string>{"one", "two", "three\rstill three", "", "last"}));
    bind_in("f", "bom.txt");
    EXPECT_EQ(run("read/lines f").items, (std::vector<std::string>{"bom"}));
    bind_in("f", "empty.txt");
    EXPECT_EQ(run("read f").mold, "\"\"");
    EXPECT_EQ(run("read/binary f").mold, "#{}");
    EXPECT_EQ(run("read/lines f").mold, "[]");
    put("cut.txt", "ok\xe2\x82");
    bind_in("f", "cut.txt");
    EXPECT_EQ(run("read f").error, invalid_utf8);
    EXPECT_EQ(run("read/binary f").bytes, "ok\xe2\x82");
}

// Writes, read back by Python. Each row writes to a file of its own holding "abcdef".
TEST_F(file_test, writes_read_back_by_python) {
    struct row {
        const char* source;
        std::string expected;
    } rows[] = {
        {"write f {a^/b^M^/c}", "a\nb\r\nc"},
        {"write/binary f #{00FF0D0A}", std::string("\x00\xff\r\n", 4)},
        {"write/lines f [\"x\" 1 #{41} [a \"b\"]]", "x\n1\nA\n[a \"b\"]\n"},
        {"write/lines f \"solo\"", "solo\n"},
        {"write/part f \"h\u00e9llo\" 2", "h\u00e9"},
        {"write/part f #{010203} 2", "\x01\x02"},
        {"write/lines/part f [\"xyz\" \"uvw\"] 1", "x\nu\n"},
        {"write f \"\"", ""},
        {"write f 12.5", "12.5"},
        {"write f %a/b", "%a/b"},
        {"write/append f \"gh\"", "abcdefgh"},
        {"write/seek f \"XY\" 2", "abXYef"},
        {"write/seek f \"XY\" 0", "XYcdef"},
        {"write/seek f \"XY\" 8", std::string("abcdef\0\0XY", 10)},
        {"write/append/seek f \"XY\" 1", "abcdefXY"},
    };
    for (std::size_t i = 0; i < std::size(rows); i++) {
        std::string name = "out" + std::to_string(i);
        put(name, "abcdef");
        bind_in("f", name);
        outcome o = run(rows[i].source);
        EXPECT_EQ(o.error, 0u) << rows[i].source;
        EXPECT_EQ(o.type, type_id::unset) << rows[i].source;
    }
    // Append to a missing file makes it.
    bind_in("f", "new.txt");
    EXPECT_EQ(run("write/append f \"one\" write/append f \"two\"").error, 0u);
    folder_facts f = facts();
    for (std::size_t i = 0; i < std::size(rows); i++)
        EXPECT_EQ(f.bytes["out" + std::to_string(i)], rows[i].expected) << rows[i].source;
    EXPECT_EQ(f.bytes["new.txt"], "onetwo");
}

TEST_F(file_test, binary_round_trip_is_exact) {
    bind_in("f", "all.bin");
    std::string all;
    for (int i = 0; i < 256 * 40; i++) all += static_cast<char>((i * 7 + i / 256) & 0xFF);
    put("src.bin", all);
    bind_in("src", "src.bin");
    EXPECT_EQ(run("write/binary f read/binary src").error, 0u);
    EXPECT_EQ(facts().bytes["all.bin"], all);
    EXPECT_EQ(run("read/binary f").bytes, all);
    // Text: what goes out keeps LF, what comes back in has every line end as LF.
    EXPECT_EQ(run("write f {one^M^/two^Mthree^/} read f").bytes, "one\ntwo\nthree\n");
}

TEST_F(file_test, write_failures_raise) {
    ::mkdir((dir + "folder").c_str(), 0777);
    put("keep.txt", "kept");
    struct row {
        std::string target;
        const char* source;
        u32 error;
    } rows[] = {
        {dir + "folder", "write f \"x\"", cannot_open},
        {dir + "folder/", "write f \"x\"", cannot_open},
        {dir + "missing/x.txt", "write f \"x\"", cannot_open},
        // The file opens and refuses the bytes: a write error, not an open error.
        {"/dev/full", "write f \"x\"", cannot_write},         // no space left
        {"/proc/self/status", "write f \"x\"", cannot_write}, // refuses every byte
        {dir + "keep.txt", "write/part f \"abc\" -1", refine_arg},
        {dir + "keep.txt", "write/part f \"abc\" 1.5", refine_arg},
        {dir + "keep.txt", "write/allow f \"abc\" []", not_done},
        {dir + "keep.txt", "write/as f \"abc\" 'utf-8", not_done},
        {dir + "keep.txt", "read/as f 'utf-8", not_done},
        {dir + "keep.txt", "open f", expect_arg},
        {dir + "keep.txt", "create f", expect_arg},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.target + " " + r.source);
        bind("f", r.target);
        EXPECT_EQ(run(r.source).error, r.error);
    }
    EXPECT_EQ(facts().bytes["keep.txt"], "kept");
}

// Without write permission, or, where the permission bits do not bind (the superuser), with the
// file marked immutable.
TEST_F(file_test, read_only_target) {
    put("ro.txt", "ro");
    std::string path = dir + "ro.txt";
    ::chmod(path.c_str(), 0444);
    int fd = -1;
    int flags = 0;
    if (::access(path.c_str(), W_OK) == 0) {
        fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0 || ::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) GTEST_SKIP() << "no file flags";
        int immutable = flags | FS_IMMUTABLE_FL;
        if (::ioctl(fd, FS_IOC_SETFLAGS, &immutable) != 0) GTEST_SKIP() << "cannot mark immutable";
    }
    bind_in("f", "ro.txt");
    outcome plain = run("write f \"x\"");
    outcome appended = run("write/append f \"x\"");
    if (fd >= 0) {
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        ::close(fd);
    }
    EXPECT_EQ(plain.error, cannot_open);
    EXPECT_EQ(appended.error, cannot_open);
    EXPECT_EQ(facts().bytes["ro.txt"], "ro");
}

TEST_F(file_test, read_failures) {
    bind_in("f", "missing.txt");
    EXPECT_EQ(run("read f").error, cannot_open);
    EXPECT_EQ(run("read/binary f").error, cannot_open);
    EXPECT_EQ(run("size? f").type, type_id::none);
    EXPECT_EQ(run("query f").type, type_id::none);
    EXPECT_EQ(run("exists? f").mold, "false");
    bind_in("d", "missing/");
    EXPECT_EQ(run("read d").error, cannot_open);
    // A plain file named as a folder.
    put("plain.txt", "x");
    bind_in("f", "plain.txt/");
    EXPECT_EQ(run("query f").type, type_id::none);
    EXPECT_EQ(run("read f").error, cannot_open);
    EXPECT_EQ(run("size? f").type, type_id::none);
}

// A name holding a NUL is refused before the OS sees it; the name cut at the NUL is untouched.
TEST_F(file_test, nul_in_name_is_refused) {
    put("a", "untouched");
    ::mkdir((dir + "d").c_str(), 0777);
    bind("f", dir + std::string("a\0b", 3));
    bind("g", dir + std::string("d\0/", 3));
    bind("h", dir + "z");
    EXPECT_EQ(run("read f").error, cannot_open);
    EXPECT_EQ(run("write f \"x\"").error, cannot_open);
    EXPECT_EQ(run("write/append f \"x\"").error, cannot_open);
    EXPECT_EQ(run("delete f").mold, "false");
    EXPECT_EQ(run("size? f").type, type_id::none);
    EXPECT_EQ(run("query f").type, type_id::none);
    EXPECT_EQ(run("exists? f").mold, "false");
    EXPECT_EQ(run("rename f h").mold, "false");
    EXPECT_EQ(run("read g").error, cannot_open);
    EXPECT_EQ(run("delete g").mold, "false");
    EXPECT_EQ(run("create-dir g").error, no_create);
    folder_facts f = facts();
    EXPECT_EQ(f.bytes["a"], "untouched");
    EXPECT_TRUE(f.entries["d"].dir);
    EXPECT_FALSE(f.entries.count("z"));
}

TEST_F(file_test, delete_and_rename_seen_by_python) {
    make_fixtures();
    ::mkdir((dir + "empty").c_str(), 0777);
    struct row {
        const char* source;
        const char* result;
    } rows[] = {
        {"delete x", "true"},    // x: crlf.txt
        {"delete x", "false"},   // already gone
        {"delete e", "true"},    // e: empty/
        {"delete s", "false"},   // s: sub/ is not empty
        {"rename b n", "true"},  // b: bin.dat, n: renamed.dat
        {"rename b n", "false"}, // b is gone
        {"rename u l", "false"}, // l exists: it stays
        {"rename r q", "true"},  // names that are not UTF-8 go back to the OS as they came
    };
    bind_in("x", "crlf.txt");
    bind_in("e", "empty/");
    bind_in("s", "sub/");
    bind_in("b", "bin.dat");
    bind_in("n", "renamed.dat");
    bind_in("u", "utf8.txt");
    bind_in("l", "lines.txt");
    bind_in("r", "raw-\xff\xfe.bin");
    bind_in("q", "raw-\xfe\xff.bin");
    folder_facts before = facts();
    for (const row& r : rows) EXPECT_EQ(run(r.source).mold, r.result) << r.source;
    folder_facts f = facts();
    EXPECT_FALSE(f.entries.count("crlf.txt"));
    EXPECT_FALSE(f.entries.count("empty"));
    EXPECT_TRUE(f.entries.count("sub"));
    EXPECT_FALSE(f.entries.count("bin.dat"));
    EXPECT_EQ(f.bytes["renamed.dat"], before.bytes["bin.dat"]);
    EXPECT_EQ(f.bytes["lines.txt"], before.bytes["lines.txt"]);
    EXPECT_EQ(f.bytes["utf8.txt"], before.bytes["utf8.txt"]);
    EXPECT_EQ(f.bytes["raw-\xfe\xff.bin"], "raw");
}

TEST_F(file_test, create_dir_and_exists) {
    bind_in("d", "made");
    bind_in("deep", "no/such/parent");
    EXPECT_EQ(run("exists? d").mold, "false");
    EXPECT_EQ(run("create-dir d").type, type_id::unset);
    EXPECT_EQ(run("exists? d").mold, "true");
    EXPECT_EQ(run("create-dir d").error, no_create);
    EXPECT_EQ(run("create-dir deep").error, no_create);
    bind_in("d", "made/also/");
    EXPECT_EQ(run("create-dir d").type, type_id::unset);
    folder_facts f = facts();
    EXPECT_TRUE(f.entries["made"].dir);
    EXPECT_TRUE(f.entries["made/also"].dir);
    EXPECT_EQ(f.lists["made/also/"], std::set<std::string>{});
}

TEST_F(file_test, sizes_beyond_32_bits) {
    bind_in("f", "sparse.dat");
    int fd = ::open((dir + "sparse.dat").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 5368709120LL), 0);
    ::close(fd);
    EXPECT_EQ(facts().entries["sparse.dat"].size, 5368709120LL);
    outcome size = run("size? f");
    EXPECT_EQ(size.type, type_id::float_);
    EXPECT_EQ(size.mold, "5368709120.0");
    EXPECT_EQ(run("read f").error, size_limit);
    EXPECT_EQ(run("read/binary/part f 4").bytes, std::string(4, '\0'));
}

TEST_F(file_test, to_local_file) {
    std::string cwd = hex_decode(oracle("cwd").substr(0, oracle("cwd").find('\n')));
    struct row {
        const char* source;
        std::string expected;
    } rows[] = {
        {"to-local-file %/c/dir/file.txt", "/c/dir/file.txt"},
        {"to-local-file %rel/x.txt", "rel/x.txt"},
        {"to-local-file \"a/b\"", "a/b"},
        {"to-local-file/full %rel/x.txt", cwd + "/rel/x.txt"},
        {"to-local-file/full \"x\"", cwd + "/x"},
        {"to-local-file/full %/abs", "/abs"},
        {"to-local-file/full %\"\"", cwd + "/"},
    };
    for (const row& r : rows) {
        outcome o = run(r.source);
        EXPECT_EQ(o.type, type_id::string) << r.source;
        EXPECT_EQ(o.bytes, r.expected) << r.source;
    }
    // The argument is copied, not changed.
    EXPECT_EQ(run("f: %a/b  to-local-file/full f  f").bytes, "a/b");
}

} // namespace
