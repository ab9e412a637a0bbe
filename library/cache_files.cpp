#include "library/cache_files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <optional>

#include "datatypes/file.hpp"
#include "evaluator/stack.hpp"
#include "library/routine_table.hpp"
#include "runtime/file_io.hpp"
#include "runtime/platform/formed.hpp"

namespace zel::cache_files {

bool replace_file(const std::string& os_name, std::string_view bytes) {
    // Unique per process and per call, so two writers of one entry never share a file.
    static std::atomic<unsigned> serial{0};
    std::string temp =
        os_name + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(serial.fetch_add(1));
    int fd;
    do fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    bool written = fs::write_handle(fd, reinterpret_cast<const u8*>(bytes.data()), bytes.size()) ==
                   static_cast<i64>(bytes.size());
    bool closed = ::close(fd) == 0;
    if (written && closed && ::rename(temp.c_str(), os_name.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

void replace_file_routine() {
    std::optional<std::string> name = file::to_os_text(stack::arg(0));
    routines::answer_logic(name && replace_file(*name, platform::bytes_of(stack::arg(1))));
}

void text_of_bytes_routine() {
    cell* text = fs::push_read_bytes(platform::bytes_of(stack::arg(0)), false, false);
    routines::answer(*text);
}

} // namespace zel::cache_files
