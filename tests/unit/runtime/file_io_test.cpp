// The file layer under the actions: transfers that arrive in pieces, streams that cannot seek,
// files that report no size, failed writes, standard output, and the folder-name rule.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "datatypes/binary.hpp"
#include "datatypes/string_buffer.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/file_io.hpp"
#include "runtime/unicode.hpp"

using namespace zel;

namespace {

class file_layer : public ::testing::Test {
  protected:
    std::string dir;
    void SetUp() override {
        char name[] = "/tmp/zel-fs-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir = std::string(name) + "/";
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

// A writer that hands the bytes over in small pieces with pauses, so that every read returns
// short.
std::thread slow_writer(const std::string& fifo, const std::string& bytes) {
    return std::thread([fifo, bytes] {
        int fd = ::open(fifo.c_str(), O_WRONLY);
        // The reader may stop early (a /part read): the writer then stops too.
        for (std::size_t i = 0; i < bytes.size(); i += 1000) {
            std::string piece = bytes.substr(i, 1000);
            if (::write(fd, piece.data(), piece.size()) < 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ::close(fd);
    });
}

std::string pattern(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; i++) s += static_cast<char>((i * 131 + i / 97) & 0xFF);
    return s;
}

TEST_F(file_layer, short_reads_are_joined) {
    ::signal(SIGPIPE, SIG_IGN);
    std::string fifo = dir + "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct row {
        i64 part, seek;
    } rows[] = {{-1, -1}, {25000, -1}, {-1, 12345}, {700, 40000}};
    std::string all = pattern(50000);
    for (const row& r : rows) {
        std::thread writer = slow_writer(fifo, all);
        std::string bytes;
        bool whole = false;
        EXPECT_EQ(fs::read_file_bytes(fifo, r.part, r.seek, bytes, whole), fs::read_status::done);
        writer.join();
        std::string expected = all.substr(r.seek < 0 ? 0 : r.seek);
        if (r.part >= 0) expected = expected.substr(0, r.part);
        EXPECT_EQ(bytes, expected) << r.part << " " << r.seek;
        EXPECT_EQ(whole, r.part < 0);
    }
}

TEST_F(file_layer, files_that_report_no_size_are_read_whole) {
    struct stat st;
    ASSERT_EQ(::stat("/proc/self/maps", &st), 0);
    ASSERT_EQ(st.st_size, 0);
    std::string bytes;
    bool whole = false;
    EXPECT_EQ(fs::read_file_bytes("/proc/self/maps", -1, -1, bytes, whole), fs::read_status::done);
    EXPECT_GT(bytes.size(), 1000u);
    EXPECT_EQ(bytes.back(), '\n');
}

TEST_F(file_layer, handles) {
    EXPECT_EQ(fs::open_handle(dir, fs::mode::read), -1); // a folder is no file to read
    EXPECT_EQ(fs::open_handle(dir + "missing", fs::mode::read), -1);
    int fd = fs::open_handle(dir + "f", fs::mode::write);
    ASSERT_GE(fd, 0);
    std::string data = pattern(3 << 20);
    EXPECT_EQ(fs::write_handle(fd, reinterpret_cast<const u8*>(data.data()), data.size()),
              static_cast<i64>(data.size()));
    EXPECT_EQ(fs::handle_size(fd), static_cast<i64>(data.size()));
    EXPECT_TRUE(fs::close_handle(fd));
    fd = fs::open_handle(dir + "f", fs::mode::read);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fs::seek_handle(fd, 100), 100);
    std::string back(data.size(), '\0');
    EXPECT_EQ(fs::read_handle(fd, reinterpret_cast<u8*>(back.data()), back.size()),
              static_cast<i64>(data.size()) - 100);
    EXPECT_EQ(back.substr(0, data.size() - 100), data.substr(100));
    EXPECT_TRUE(fs::close_handle(fd));
    EXPECT_TRUE(fs::create_directory(dir + "sub"));
    EXPECT_FALSE(fs::create_directory(dir + "sub"));
    EXPECT_TRUE(fs::path_exists(dir + "sub"));
    EXPECT_FALSE(fs::path_exists(dir + "none"));
}

TEST_F(file_layer, failed_writes_are_failures) {
    EXPECT_EQ(fs::write_file_bytes(&(const std::string&)std::string("/dev/full"), "x", {}, false),
              -1);
    std::string folder = dir;
    EXPECT_EQ(fs::write_file_bytes(&folder, "x", {}, false), -1);
    std::string missing = dir + "no/such";
    EXPECT_EQ(fs::write_file_bytes(&missing, "x", {}, true), -1);
    std::string good = dir + "ok";
    EXPECT_EQ(fs::write_file_bytes(&good, "four", {}, false), 4);
    EXPECT_EQ(fs::write_file_bytes(&good, "", {}, false), 0);
    EXPECT_EQ(std::filesystem::file_size(good), 0u);
}

// Standard output gets the bytes as they are; a standard output that refuses them raises.
TEST_F(file_layer, write_stdout) {
    std::string path = dir + "out";
    std::fflush(stdout);
    int saved = ::dup(STDOUT_FILENO);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDOUT_FILENO);
    cell text;
    std::string source = "line\nnext \u00e9\r\n";
    utf8::decode_to_new_string(&text, reinterpret_cast<const u8*>(source.data()),
                               static_cast<u32>(source.size()));
    cell* held = stack::push_value(&text);
    fs::write_stdout(held);
    const u8 raw[] = {0x00, 0xFF};
    cell* bytes = binary::push_from_bytes(raw, 2);
    fs::write_stdout(bytes);
    cell number;
    fs::write_stdout(init_integer(&number, 42));
    int full = ::open("/dev/full", O_WRONLY);
    ::dup2(full, STDOUT_FILENO);
    bool raised = false;
    try {
        fs::write_stdout(held);
    } catch (const unwind&) {
        raised = error::last_code() == err::E("access", "cannot-write").code();
    }
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(fd);
    ::close(full);
    stack::top = held;
    EXPECT_TRUE(raised);
    FILE* f = std::fopen(path.c_str(), "rb");
    char buffer[64];
    std::size_t n = std::fread(buffer, 1, sizeof buffer, f);
    std::fclose(f);
    EXPECT_EQ(std::string(buffer, n), source + std::string("\0\xff", 2) + "42");
}

TEST(file_names, folder_names) {
    struct row {
        const char* name;
        bool folder;
    } rows[] = {
        {"dir/", true}, {"/", true},    {".", true},    {"..", true},    {"a/.", true},
        {"a/..", true}, {"a", false},   {"", false},    {"a.", false},   {"a/...", false},
        {"a/b", false}, {"a\\", false}, {"...", false}, {"/x/y/", true},
    };
    for (const row& r : rows) EXPECT_EQ(fs::names_dir(r.name), r.folder) << r.name;
}

} // namespace
