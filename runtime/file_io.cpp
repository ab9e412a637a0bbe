// File and directory I/O over POSIX. Transfers loop until every byte has moved or the OS reports
// a failure, so a short count never passes for a whole file.
#include "runtime/file_io.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/date.hpp"
#include "datatypes/file.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zel::fs {

int open_handle(const std::string& os_name, u32 modes) {
    int flags = O_CLOEXEC;
    if (modes == mode::read) {
        flags |= O_RDONLY;
    } else {
        flags |= O_WRONLY | O_CREAT;
        if (!(modes & (mode::append | mode::seek))) flags |= O_TRUNC;
    }
    int fd;
    do {
        fd = ::open(os_name.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st;
    if (modes == mode::read && (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
        ::close(fd);
        errno = EISDIR;
        return -1;
    }
    return fd;
}

i64 handle_size(int handle) {
    struct stat st;
    if (::fstat(handle, &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return st.st_size;
}

i64 seek_handle(int handle, i64 offset) {
    off_t at = ::lseek(handle, static_cast<off_t>(offset), SEEK_SET);
    return at < 0 ? -1 : static_cast<i64>(at);
}

i64 read_handle(int handle, u8* buffer, u64 n) {
    u64 done = 0;
    while (done < n) {
        u64 want = n - done;
        if (want > 0x40000000) want = 0x40000000;
        ssize_t got = ::read(handle, buffer + done, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<u64>(got);
    }
    return static_cast<i64>(done);
}

i64 write_handle(int handle, const u8* bytes, u64 n) {
    u64 done = 0;
    while (done < n) {
        u64 want = n - done;
        if (want > 0x40000000) want = 0x40000000;
        ssize_t put = ::write(handle, bytes + done, want);
        if (put < 0) {
            if (errno == EINTR) continue;
            // A descriptor in non-blocking mode (a terminal or pipe shared with another
            // program) is waited for rather than given up on.
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd ready{handle, POLLOUT, 0};
                if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
            }
            return -1;
        }
        // No progress on a non-empty write would loop for ever.
        if (put == 0) {
            errno = EIO;
            return -1;
        }
        done += static_cast<u64>(put);
    }
    return static_cast<i64>(done);
}

bool close_handle(int handle) {
    // A close interrupted by a signal has still released the descriptor: never retry it.
    return ::close(handle) == 0 || errno == EINTR;
}

bool create_directory(const std::string& os_path) {
    return ::mkdir(os_path.c_str(), 0777) == 0;
}

bool path_exists(const std::string& os_path) {
    struct stat st;
    return ::stat(os_path.c_str(), &st) == 0;
}

namespace {
// Closes a descriptor on every way out.
struct handle_guard {
    int fd;
    ~handle_guard() {
        if (fd >= 0) close_handle(fd);
    }
};

// Skips n bytes of a stream that cannot seek.
bool skip_bytes(int fd, i64 n) {
    u8 scrap[65536];
    while (n > 0) {
        i64 got = read_handle(fd, scrap, static_cast<u64>(n < 65536 ? n : 65536));
        if (got < 0) return false;
        if (got == 0) break;
        n -= got;
    }
    return true;
}
} // namespace

read_status read_file_bytes(const std::string& os_name, i64 part, i64 seek, std::string& bytes,
                            bool& whole) {
    bytes.clear();
    whole = true;
    handle_guard h{open_handle(os_name, mode::read)};
    if (h.fd < 0) return read_status::failed;
    struct stat st;
    if (::fstat(h.fd, &st) != 0) return read_status::failed;
    // Files of the proc and sys kinds report a size of 0 and still have content: the reported
    // size is only a first guess at the buffer.
    i64 expected = S_ISREG(st.st_mode) && st.st_size > 0 ? st.st_size : -1;
    if (seek > 0) {
        if (expected >= 0 && seek >= expected) return read_status::done;
        if (seek_handle(h.fd, seek) < 0) {
            if (errno != ESPIPE || !skip_bytes(h.fd, seek)) return read_status::failed;
        }
        if (expected >= 0) expected -= seek;
    }
    if (part == 0) {
        whole = false;
        return read_status::done;
    }
    // A part beyond what a series can hold is no limit at all.
    if (part > static_cast<i64>(max_read_bytes)) part = -1;
    u64 limit = part > 0 ? static_cast<u64>(part) : max_read_bytes + 1;
    if (expected >= 0 && part < 0 && static_cast<u64>(expected) > max_read_bytes)
        return read_status::too_large;
    u64 chunk = expected > 0 ? static_cast<u64>(expected) : 65536;
    for (;;) {
        u64 want = std::min<u64>(chunk, limit - bytes.size());
        std::size_t old = bytes.size();
        bytes.resize(old + want);
        i64 got = read_handle(h.fd, reinterpret_cast<u8*>(bytes.data()) + old, want);
        if (got < 0) return read_status::failed;
        bytes.resize(old + static_cast<std::size_t>(got));
        if (static_cast<u64>(got) < want) break; // the end of the file
        if (bytes.size() >= limit) {
            if (part < 0) return read_status::too_large;
            whole = false;
            break;
        }
        chunk = 65536;
    }
    return read_status::done;
}

bool names_dir(std::string_view name) {
    auto ends = [&](std::string_view tail) {
        return name.size() >= tail.size() && name.substr(name.size() - tail.size()) == tail;
    };
    return ends("/") || name == "." || name == ".." || ends("/.") || ends("/..");
}

namespace {
[[noreturn]] void cannot_open(const cell* file) {
    if (file) error::raise(err::E("access", "cannot-open"), file);
    cell none;
    init_none(&none);
    error::raise(err::E("access", "cannot-open"), &none);
}

// The integer of a /part or /seek argument of a read: a float counts by its whole part.
i64 read_count(const cell* value, std::string_view name) {
    if (!value) return -1;
    if (is(value, type_id::integer)) return int_of(value);
    if (is(value, type_id::float_)) {
        double d = float_of(value);
        if (std::isfinite(d) && std::fabs(d) < 9.0e18) return static_cast<i64>(d);
    }
    series::raise_refine_arg(name, value);
}

// A text read in: CR LF and a lone CR become LF. A sequence cut off by the end of the file is
// invalid text; one cut off by a /part limit is left out.
cell* push_text(const std::string& bytes, bool whole, u32 flags) {
    cell text;
    u32 left = 0;
    utf8::decode_to_new_string(&text, reinterpret_cast<const u8*>(bytes.data()),
                               static_cast<u32>(bytes.size()), flags, &left);
    cell* slot = stack::push_value(&text);
    if (left && whole) {
        cell* tail = binary::push_from_bytes(
            reinterpret_cast<const u8*>(bytes.data()) + bytes.size() - left, left);
        error::raise(err::E("access", "invalid-utf8"), tail);
    }
    return slot;
}

// The text cut at each LF into a block of strings; a CR just before an LF goes with it, and a
// last LF gives no empty last line.
cell* push_lines(const std::string& bytes, bool whole) {
    cell* text = push_text(bytes, whole, 0);
    cell made;
    block::init_cell(&made, 8);
    cell* lines = stack::push_value(&made);
    u32 units = used_units(buffer_of(text->w2));
    u32 start = 0;
    while (start < units) {
        i32 lf = string::find_codepoint(text, '\n');
        u32 end = lf < 0 ? units : start + static_cast<u32>(lf);
        u32 next = lf < 0 ? units : end + 1;
        if (lf >= 0 && end > start && string::char_at_index(text, end - 1) == '\r') end--;
        cell line;
        string::init_cell_unit(&line, end - start, unit_of(buffer_of(text->w2)));
        cell* held = stack::push_value(&line);
        string::append_text_part(held, text, static_cast<i32>(end - start), false);
        block::append_value_copy(lines, held);
        stack::top = held;
        start = next;
        text->w1 = next;
    }
    *text = *lines;
    stack::top = text + 1;
    return text;
}

cell* push_empty(bool binary, bool lines) {
    cell made;
    if (lines)
        block::init_cell(&made, 1);
    else if (binary)
        binary::init_cell_bytes(&made, 0);
    else
        string::init_cell_bytes(&made, 0);
    return stack::push_value(&made);
}
} // namespace

cell* read_path(const cell* file, const cell* part, const cell* seek, bool binary, bool lines) {
    i64 part_n = read_count(part, "part");
    i64 seek_n = read_count(seek, "seek");
    std::optional<std::string> name = file::to_os_text(file);
    if (!name) cannot_open(file);
    if (names_dir(*name)) return list_directory(file);
    std::string bytes;
    bool whole = true;
    switch (read_file_bytes(*name, part_n, seek_n, bytes, whole)) {
    case read_status::failed:
        cannot_open(file);
    case read_status::too_large:
        error::raise(err::E("script", "size-limit"), file);
    case read_status::done:
        break;
    }
    return push_read_bytes(bytes, binary, lines, whole);
}

cell* push_read_bytes(const std::string& bytes, bool binary, bool lines, bool whole) {
    if (bytes.empty()) return push_empty(binary, lines);
    if (binary)
        return binary::push_from_bytes(reinterpret_cast<const u8*>(bytes.data()),
                                       static_cast<u32>(bytes.size()));
    if (lines) return push_lines(bytes, whole);
    return push_text(bytes, whole, utf8::flag::crlf);
}

cell* list_directory(const cell* file) {
    std::optional<std::string> name = file::to_os_text(file);
    if (!name) cannot_open(file);
    std::string path = name->empty() ? std::string("./") : *name;
    if (path.back() != '/') path += '/';
    DIR* dir = ::opendir(path.c_str());
    if (!dir) cannot_open(file);
    struct dir_guard {
        DIR* d;
        ~dir_guard() { ::closedir(d); }
    } guard{dir};
    cell made;
    block::init_cell(&made, 16);
    cell* names = stack::push_value(&made);
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0) cannot_open(file);
            break;
        }
        std::string_view entry_name = entry->d_name;
        if (entry_name == "." || entry_name == "..") continue;
        bool folder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            // A link counts as what it leads to.
            struct stat st;
            std::string full = path + std::string(entry_name);
            folder = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        cell item;
        file::init_cell_os_name(&item, entry_name, folder);
        cell* held = stack::push_value(&item);
        block::append_value_copy(names, held);
        stack::top = held;
    }
    return names;
}

namespace {
// The bytes of one value as written: a string! as UTF-8, a binary! as its bytes, anything else
// molded first; /part limits units of the text or bytes of the binary. Bytes that came in from
// the OS undecoded (a program's output, a file name) go out as they came, as print writes them.
void append_value_bytes(std::string& out, const cell* value, i32 part) {
    if (is(value, type_id::binary)) {
        series_buffer* b = buffer_of(value->w2);
        u32 n = used_units(b) > value->w1 ? used_units(b) - value->w1 : 0;
        if (part >= 0 && static_cast<u32>(part) < n) n = static_cast<u32>(part);
        out.append(reinterpret_cast<const char*>(head_ptr(b)) + value->w1, n);
        return;
    }
    if (is(value, type_id::string)) {
        out += utf8::encode_string(value, part, utf8::flag::lossless);
        return;
    }
    cell* held = stack::push_value(value);
    cell text;
    out::new_string(&text);
    cell* molded = stack::push_value(&text);
    actions::mold_typed(held, molded, false, false, false, nullptr, INT32_MAX, 0);
    out += utf8::encode_string(molded, part, utf8::flag::lossless);
    stack::top = held;
}
} // namespace

i64 write_path(const cell* file, const cell* data, const cell* part, const cell* seek, bool,
               bool append, bool lines, write_failure* why) {
    i32 part_n = -1;
    if (part) {
        // A negative count is refused as the argument it is: reported as a file that cannot be
        // opened, it would send the user looking for a fault in the file.
        if (!is(part, type_id::integer) || int_of(part) < 0) series::raise_refine_arg("part", part);
        part_n = int_of(part);
    }
    std::optional<i64> seek_n;
    if (seek) seek_n = read_count(seek, "seek");
    std::optional<std::string> name;
    if (file) {
        name = file::to_os_text(file);
        if (!name) return -1;
    }
    // Everything is converted before the file is opened: a value that cannot be molded must not
    // leave the file truncated.
    std::string bytes;
    if (lines && is(data, type_id::block)) {
        cell* block = stack::push_value(data);
        for (u32 i = block->w1;; i++) {
            series_buffer* b = buffer_of(block->w2);
            if (i >= used_units(b)) break;
            cell item = head_cell(b)[i];
            append_value_bytes(bytes, &item, part_n);
            bytes += '\n';
        }
        stack::top = block;
    } else {
        append_value_bytes(bytes, data, part_n);
        if (lines) bytes += '\n';
    }
    return write_file_bytes(name ? &*name : nullptr, bytes, seek_n, append, why);
}

bool remove_path(const cell* file) {
    std::optional<std::string> name = file::to_os_text(file);
    if (!name) return false;
    if (names_dir(*name)) return ::rmdir(name->c_str()) == 0;
    return ::unlink(name->c_str()) == 0;
}

cell* stat_path(const cell* file) {
    cell result;
    init_none(&result);
    std::optional<std::string> name = file::to_os_text(file);
    struct stat st;
    struct tm t;
    if (name && ::stat(name->c_str(), &st) == 0 &&
        (S_ISDIR(st.st_mode) || name->empty() || name->back() != '/') &&
        ::gmtime_r(&st.st_mtim.tv_sec, &t)) {
        i64 ms = st.st_mtim.tv_nsec / 1000000;
        date::init_cell_hms(&result, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                            t.tm_sec, ms * 1000000);
    }
    return stack::push_value(&result);
}

bool move_path(const cell* from, const cell* to) {
    std::optional<std::string> old_name = file::to_os_text(from);
    std::optional<std::string> new_name = file::to_os_text(to);
    if (!old_name || !new_name) return false;
    // An existing target is kept: renaming never destroys another file.
    if (::renameat2(AT_FDCWD, old_name->c_str(), AT_FDCWD, new_name->c_str(), RENAME_NOREPLACE) ==
        0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat st;
    if (::lstat(new_name->c_str(), &st) == 0) return false;
    return ::rename(old_name->c_str(), new_name->c_str()) == 0;
}

i64 file_size(const cell* file) {
    std::optional<std::string> name = file::to_os_text(file);
    if (!name || names_dir(*name)) return -1;
    // Opened without waiting: a named pipe with no writer would otherwise block for ever.
    int fd;
    do {
        fd = ::open(name->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    handle_guard h{fd};
    if (h.fd < 0) return -1;
    return handle_size(h.fd);
}

void create_dir(const cell* path) {
    std::optional<std::string> name = file::to_os_text(path);
    if (!name || !create_directory(*name)) error::raise(err::E("access", "no-create"), path);
}

bool exists(const cell* path) {
    std::optional<std::string> name = file::to_os_text(path);
    return name && path_exists(*name);
}

void write_stdout(const cell* data) {
    write_failure why;
    if (write_path(nullptr, data, nullptr, nullptr, false, false, false, &why) < 0)
        raise_write_failure(nullptr, why.error);
}

namespace routines {
void create_dir() {
    fs::create_dir(stack::arg(0));
    init_unset(stack::arg(0));
    stack::keep_result_only();
}
void exists() {
    init_logic(stack::arg(0), fs::exists(stack::arg(0)));
    stack::keep_result_only();
}
void write_stdout() {
    fs::write_stdout(stack::arg(0));
    init_unset(stack::arg(0));
    stack::keep_result_only();
}
} // namespace routines

} // namespace zel::fs
