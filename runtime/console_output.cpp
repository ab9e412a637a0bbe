// Console output. Text is encoded into one fixed buffer and written when it fills: no allocation
// happens per call.
#include "runtime/console_output.hpp"

#include <cerrno>
#include <unistd.h>

#include "runtime/print_hooks.hpp"
#include "runtime/unicode.hpp"

namespace zel::conout {

namespace {
bool console = false;
u8 output[buffer_bytes];
u32 pending = 0;

void write_all(const u8* p, std::size_t n) {
    while (n) {
        ssize_t w = ::write(STDOUT_FILENO, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return; // a closed pipe or a full disk: the output is lost
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

void flush() {
    write_all(output, pending);
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

void write_text(const u8* start, u32 byte_length, u32 unit, bool newline) {
    u32 n = byte_length / unit;
    for (u32 i = 0; i < n; i++) {
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
    if (newline) put('\n');
    flush();
}

void print_report(std::string_view text) {
    for (char c : text) put_byte(static_cast<u8>(c));
    flush();
    print_hooks::call_text_hooks(reinterpret_cast<const u8*>(text.data()),
                                 static_cast<u32>(text.size()), 0);
}

} // namespace zel::conout
