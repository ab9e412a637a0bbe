// Console output. Text is encoded into one fixed buffer and written when it fills: no allocation
// happens per call.
#include "runtime/console_output.hpp"

#include <cerrno>
#include <unistd.h>

#include "runtime/file_io.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/unicode.hpp"

namespace zel::conout {

namespace {
bool console = false;
bool failed_stdout = false;
u8 output[buffer_bytes];
u32 pending = 0;
int target = STDOUT_FILENO;
int failure = 0; // the error of the first write that failed in this call

int write_all(int fd, const u8* p, std::size_t n) {
    return fs::write_handle(fd, p, n) < 0 ? errno : 0;
}

void flush() {
    if (pending && !failure) failure = write_all(target, output, pending);
    pending = 0;
}

void put(u32 cp) {
    if (cp >= 0xDC80 && cp <= 0xDCFF) {
        output[pending++] = static_cast<u8>(cp - 0xDC00);
    } else {
        if (cp > 0x10FFFF) cp = 0xFFFD;
        pending += utf8::encode_codepoint(cp, output + pending);
    }
    if (pending > flush_above) flush();
}

void put_byte(u8 byte) {
    output[pending++] = byte;
    if (pending > flush_above) flush();
}
} // namespace

void detect_console() {
    console = ::isatty(STDOUT_FILENO) == 1;
    pending = 0;
}

bool is_console() {
    return console;
}

bool stdout_failed() {
    return failed_stdout;
}

int write_text(const u8* start, u32 byte_length, u32 unit, bool newline, int fd) {
    target = fd;
    failure = 0;
    u32 n = byte_length / unit;
    for (u32 i = 0; i < n && !failure; i++) {
        const u8* p = start + i * unit;
        u32 cp;
        switch (unit) {
        case 1:
            cp = *p;
            break;
        case 2:
            cp = static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8;
            break;
        default:
            cp = static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 |
                 static_cast<u32>(p[2]) << 16 | static_cast<u32>(p[3]) << 24;
        }
        put(cp);
    }
    if (newline && !failure) put('\n');
    flush();
    if (fd == STDOUT_FILENO) failed_stdout = failure != 0;
    target = STDOUT_FILENO;
    return failure;
}

void print_report(std::string_view text) {
    failure = 0;
    for (char c : text) put_byte(static_cast<u8>(c));
    flush();
    print_hooks::call_text_hooks(reinterpret_cast<const u8*>(text.data()),
                                 static_cast<u32>(text.size()), 0);
}

} // namespace zel::conout
