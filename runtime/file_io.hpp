// File and directory I/O over POSIX: handles, whole-file reads and writes, listings, removal,
// dates and renaming. Every transfer loops over EINTR and short counts, sizes and offsets are
// 64-bit, and a failed transfer is never reported as done. OS failures come back as -1, false or
// none; the operations on cells decide which of them become language errors.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::fs {

// Open modes (bit set).
namespace mode {
constexpr u32 read = 1, write = 2, append = 4, seek = 8;
}

// Handle level. A read opens an existing file (a directory is refused, as no file can be read
// from it); a write creates the file and truncates it unless append or seek is asked for.
int open_handle(const std::string& os_name, u32 modes); // -1 on failure
i64 handle_size(int handle);                            // -1 on failure or for a directory
i64 seek_handle(int handle, i64 offset);                // from the beginning; -1 on failure
// Reads until n bytes or the end of the file; answers the count, -1 on failure.
i64 read_handle(int handle, u8* buffer, u64 n);
// Writes all n bytes; answers n, or -1 when any of them could not be written.
i64 write_handle(int handle, const u8* bytes, u64 n);
bool close_handle(int handle);
bool create_directory(const std::string& os_path);
bool path_exists(const std::string& os_path);

// The most bytes one read gives: every series index must fit in 31 bits.
constexpr u64 max_read_bytes = 0x7FFFFFFF;

// Byte level. `part` < 0 reads to the end of the file, `seek` < 0 reads from its start; a seek
// at or past the end gives no bytes. `whole` tells whether the read stopped at the end of the
// file rather than at the part limit.
enum class read_status { done, failed, too_large };
read_status read_file_bytes(const std::string& os_name, i64 part, i64 seek, std::string& bytes,
                            bool& whole);
// Why a write failed: the file could not be opened or made (`opened` false), or it did not take
// every byte (the OS error number).
struct write_failure {
    bool opened = false;
    int error = 0;
};
// Writes the bytes to the file (to standard output when `os_name` is null): after moving to
// `seek` when given (the file is then not truncated), or to the end with `append`. A write that
// fails leaves the file as it was (file_io_write.cpp says how). Answers the byte count, -1 when
// the file could not be opened or a byte could not be written (`why` says which).
i64 write_file_bytes(const std::string* os_name, std::string_view bytes, std::optional<i64> seek,
                     bool append, write_failure* why = nullptr);
// Raises access/cannot-write with the file (the word `stdout` when null) and the OS reason.
[[noreturn]] void raise_write_failure(const cell* file, int error_number);

// Whether the name names a folder: it ends with "/", is "." or "..", or ends with "/." or "/..".
bool names_dir(std::string_view os_name);

// Path level: the file layer under the file! actions. Each answers a cell on the data stack.
// `read_path` lists a folder name, else reads the file (/part and /seek cells or null) as
// string!, binary! or a block of lines; it raises access/cannot-open when the file cannot be
// read.
cell* read_path(const cell* file, const cell* part, const cell* seek, bool binary, bool lines);
// Bytes read in, as `read_path` gives them: a binary!, a block of lines, or text with CR LF and a
// lone CR turned into LF (invalid UTF-8 raises access/invalid-utf8; a sequence cut off at the
// end is invalid only when `whole`). Answers the cell on the data stack.
cell* push_read_bytes(const std::string& bytes, bool binary, bool lines, bool whole = true);
// Raises access/cannot-open when the folder cannot be listed.
cell* list_directory(const cell* file);
// `file` null writes to standard output. A string! goes out as UTF-8 with its line ends as they
// are (so `binary` changes nothing), a binary! as its bytes, any other value molded; with `lines`
// each value of a block, or the one value, is followed by LF. Everything is converted before the
// file is opened. Answers the count of bytes written, -1 when nothing could be written or a write
// failed (`why` tells the two failures apart). A /part that is not an integer! of 0 or more
// raises script/invalid-refine-arg.
i64 write_path(const cell* file, const cell* data, const cell* part, const cell* seek, bool binary,
               bool append, bool lines, write_failure* why = nullptr);
bool remove_path(const cell* file);
// The last-write time as a date! in UTC to the millisecond, or none! (also for "name/" when
// name is no folder).
cell* stat_path(const cell* file);
bool move_path(const cell* from, const cell* to);
// The size of a file in bytes, -1 when it is a folder or cannot be opened or sized.
i64 file_size(const cell* file);

// The routines `create-dir`, `exists?` and `write-stdout`, as functions of their argument.
// `create_dir` raises access/no-create when the OS refuses; `write_stdout` writes a string! as
// UTF-8, a binary! as its bytes, and any other value molded, raising access/cannot-write when
// standard output refuses the bytes.
void create_dir(const cell* path);
bool exists(const cell* path);
void write_stdout(const cell* data);

// The same as routine entries: each reads its argument at the current frame's arguments and
// leaves its result there (unset!, logic!, unset!).
namespace routines {
void create_dir();
void exists();
void write_stdout();
} // namespace routines

} // namespace zel::fs
