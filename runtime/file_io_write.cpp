// Writing files. A write either lands whole or leaves the file as it was: a plain write goes to a
// new file beside the target, flushed to the disk, and is renamed over the target only once every
// byte is there; a write into an existing file (append, seek, or a file that cannot be replaced by
// renaming) keeps the bytes it overwrites and puts them and the old length back when it fails.
// A file the write made is removed again when the write fails.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/file_io.hpp"
#include "runtime/unicode.hpp"

namespace zel::fs {

namespace {

// TEST-ONLY switch: with ZEL_TEST_WRITE_FAIL_AFTER=<n> in the environment, each write to a file
// puts at most n bytes into it and then fails as a full disk does (ENOSPC). It lets the tests
// show what a failed write leaves behind where no small file system can be mounted. Nothing
// else reads it; standard output is not affected.
i64 test_write_budget() {
    static const i64 budget = [] {
        const char* text = std::getenv("ZEL_TEST_WRITE_FAIL_AFTER");
        if (!text || !*text) return i64(-1);
        char* end = nullptr;
        long long n = std::strtoll(text, &end, 10);
        return *end || n < 0 ? i64(-1) : i64(n);
    }();
    return budget;
}

// Writes all the bytes at the descriptor's position, within what the test switch allows;
// answers 0 or the OS error number.
int put_bytes(int fd, const u8* data, u64 n, i64& budget) {
    u64 allowed = budget < 0 ? n : std::min<u64>(n, static_cast<u64>(budget));
    if (write_handle(fd, data, allowed) < 0) return errno ? errno : EIO;
    if (budget >= 0) budget -= static_cast<i64>(allowed);
    return allowed < n ? ENOSPC : 0;
}

// Writes `n` bytes at `offset` (pwrite loops over short counts and EINTR).
bool put_back(int fd, const u8* data, u64 n, i64 offset) {
    while (n) {
        ssize_t w = ::pwrite(fd, data, n, offset);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        offset += w;
        n -= static_cast<u64>(w);
    }
    return true;
}

struct fd_guard {
    int fd = -1;
    ~fd_guard() {
        if (fd >= 0) close_handle(fd);
    }
    // Closes now, reporting a failure the file system kept until the close.
    int close_now() {
        int f = fd;
        fd = -1;
        return close_handle(f) ? 0 : errno;
    }
};

std::string folder_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Where a chain of links that leads nowhere (yet) points: writing through it makes that file.
// None when the chain loops or cannot be read.
std::optional<std::string> end_of_links(std::string path) {
    for (int hops = 0; hops < 40; hops++) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            return errno == ENOENT ? std::optional(path) : std::nullopt;
        if (!S_ISLNK(st.st_mode)) return path;
        std::string target(PATH_MAX, '\0');
        ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return std::nullopt;
        target.resize(static_cast<std::size_t>(n));
        path = target[0] == '/' ? target : folder_of(path) + target;
    }
    return std::nullopt;
}

// A new file beside `path`, only its owner may open it; -1 when the folder refuses it.
int temporary_beside(const std::string& path, std::string& name) {
    std::string base = path.substr(folder_of(path).size());
    if (base.size() > 200) base.resize(200); // the suffix must fit in a file name
    name = folder_of(path) + "." + base + ".zel-XXXXXX";
    return ::mkostemp(name.data(), O_CLOEXEC);
}

// The file's bytes from `offset` (at most n), read before a write overwrites them.
bool save_range(int fd, i64 offset, u64 n, std::string& saved) {
    saved.resize(n);
    u64 done = 0;
    while (done < n) {
        ssize_t got = ::pread(fd, saved.data() + done, n - done, offset + static_cast<i64>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        done += static_cast<u64>(got);
    }
    saved.resize(done);
    return true;
}

// Writes into the open file at `offset` (its end when `append`; a file that cannot seek takes the
// bytes where it stands). With `whole` the file ends after the bytes (a plain write done in
// place). A regular file that fails part-way gets back what the write overwrote and its old
// length. Answers 0 or the OS error number.
int write_into(int fd, std::string_view bytes, std::optional<i64> offset, bool append, bool whole) {
    const u8* data = reinterpret_cast<const u8*>(bytes.data());
    i64 budget = test_write_budget();
    struct stat st;
    if (::fstat(fd, &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) {
        if (offset && *offset > 0 && seek_handle(fd, *offset) < 0) return errno;
        return put_bytes(fd, data, bytes.size(), budget);
    }
    i64 old_size = st.st_size;
    i64 at = append ? old_size : offset.value_or(0);
    if (at < 0) at = 0;
    // What the bytes will cover of the old content, to put back on failure.
    std::string saved;
    u64 covered = at < old_size ? std::min<u64>(bytes.size(), static_cast<u64>(old_size - at)) : 0;
    if (covered && !save_range(fd, at, covered, saved)) {
        if (errno != EBADF) return errno;
        saved.clear(); // a write-only file: its old length at least comes back
    }
    auto restore = [&](int failure) {
        if (!saved.empty())
            put_back(fd, reinterpret_cast<const u8*>(saved.data()), saved.size(), at);
        while (::ftruncate(fd, old_size) != 0 && errno == EINTR) {
        }
        return failure;
    };
    if (seek_handle(fd, at) < 0) return errno;
    if (int failure = put_bytes(fd, data, bytes.size(), budget)) return restore(failure);
    i64 end = at + static_cast<i64>(bytes.size());
    if (whole && end < old_size && ::ftruncate(fd, end) != 0) return restore(errno);
    // A write that replaces content is on the disk before it counts as done.
    if (whole && ::fsync(fd) != 0 && errno != EINVAL) return restore(errno);
    return 0;
}

int open_retrying(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens the file for writing in place, making it when missing (`made` tells). It is opened for
// reading too, so that what the write overwrites can be kept; a file that may only be written
// is written without that.
int open_in_place(const std::string& path, bool& made) {
    int fd = open_retrying(path, O_RDWR | O_CREAT | O_EXCL);
    made = fd >= 0;
    if (fd >= 0 || errno != EEXIST) return fd;
    fd = open_retrying(path, O_RDWR);
    if (fd >= 0 || errno != EACCES) return fd;
    return open_retrying(path, O_WRONLY);
}

i64 write_in_place(const std::string& path, std::string_view bytes, std::optional<i64> seek,
                   bool append, bool whole, write_failure* why) {
    bool made = false;
    fd_guard h{open_in_place(path, made)};
    if (h.fd < 0) {
        if (why) *why = {false, errno};
        return -1;
    }
    int failure = write_into(h.fd, bytes, seek, append, whole);
    int closing = h.close_now();
    if (!failure) failure = closing;
    if (!failure) return static_cast<i64>(bytes.size());
    if (made) ::unlink(path.c_str());
    if (why) *why = {true, failure};
    return -1;
}

// Whether the file is what one of the standard streams is open on (a write to /dev/stdout
// redirected to a file): replacing it would leave the stream writing to a file no name leads to.
bool is_standard_stream(const struct stat& st) {
    for (int fd = 0; fd <= 2; fd++) {
        struct stat s;
        if (::fstat(fd, &s) == 0 && s.st_dev == st.st_dev && s.st_ino == st.st_ino) return true;
    }
    return false;
}

// A plain write: the bytes go to a new file beside the target, which takes the target's place
// when they are all on the disk. The target keeps its permissions (a new file gets the usual
// ones); a link is written through, not replaced. A target that is no regular file, has other
// names (hard links), is open as a standard stream, belongs to someone the new file could not be
// given to, or sits in a folder that takes no new file is written in place instead.
i64 replace_file(const std::string& name, std::string_view bytes, write_failure* why) {
    struct stat st;
    bool exists = ::stat(name.c_str(), &st) == 0;
    std::optional<std::string> target;
    if (exists) {
        if (S_ISREG(st.st_mode) && st.st_nlink == 1 && !is_standard_stream(st)) {
            if (char* real = ::realpath(name.c_str(), nullptr)) {
                target = real;
                std::free(real);
            }
        }
        // Replacing the file must not get round its own refusal to be written.
        fd_guard probe{open_handle(name, mode::write | mode::seek)};
        if (probe.fd < 0) {
            if (why) *why = {false, errno};
            return -1;
        }
    } else if (errno == ENOENT) {
        target = end_of_links(name);
    }
    std::string temp;
    fd_guard h{target ? temporary_beside(*target, temp) : -1};
    if (h.fd < 0) return write_in_place(name, bytes, std::nullopt, false, true, why);
    bool kept = true;
    if (exists) {
        ::fchmod(h.fd, st.st_mode & 07777);
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid())
            kept = ::fchown(h.fd, st.st_uid, st.st_gid) == 0;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(h.fd, 0666 & ~mask);
    }
    if (!kept) {
        h.close_now();
        ::unlink(temp.c_str());
        return write_in_place(name, bytes, std::nullopt, false, true, why);
    }
    i64 budget = test_write_budget();
    int failure = put_bytes(h.fd, reinterpret_cast<const u8*>(bytes.data()), bytes.size(), budget);
    if (!failure && exists && ::fsync(h.fd) != 0) failure = errno;
    int closing = h.close_now();
    if (!failure) failure = closing;
    if (!failure && ::rename(temp.c_str(), target->c_str()) != 0) failure = errno;
    if (!failure) return static_cast<i64>(bytes.size());
    ::unlink(temp.c_str());
    if (why) *why = {true, failure};
    return -1;
}

} // namespace

i64 write_file_bytes(const std::string* os_name, std::string_view bytes, std::optional<i64> seek,
                     bool append, write_failure* why) {
    if (!os_name) {
        std::fflush(stdout);
        i64 n =
            write_handle(STDOUT_FILENO, reinterpret_cast<const u8*>(bytes.data()), bytes.size());
        if (n < 0 && why) *why = {true, errno};
        return n;
    }
    if (seek || append) return write_in_place(*os_name, bytes, seek, append, false, why);
    return replace_file(*os_name, bytes, why);
}

void raise_write_failure(const cell* file, int error_number) {
    cell target = file ? *file : cell{type_id::word, 0, symbol::intern_text("stdout"), 0xFFFFFFFF};
    cell* held = stack::push_value(&target);
    std::string_view reason = std::strerror(error_number);
    cell text;
    utf8::decode_to_new_string(&text, reinterpret_cast<const u8*>(reason.data()),
                               static_cast<u32>(reason.size()));
    cell* because = stack::push_value(&text);
    error::raise(err::E("access", "cannot-write"), held, because);
}

} // namespace zel::fs
