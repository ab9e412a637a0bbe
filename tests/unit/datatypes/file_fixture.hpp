// Test fixture of the file I/O tests: a fresh temporary folder per test, source text evaluated
// with its result described, and the Python view of the folder (file_oracle.py).
#pragma once
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "datatypes/context.hpp"
#include "datatypes/date.hpp"
#include "datatypes/file.hpp"
#include "datatypes/function.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/load_text.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/file_io.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/command_output.hpp"

namespace zel::test {

inline std::string hex_decode(const std::string& hex) {
    if (hex == "-") return {};
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// What an evaluation gave.
struct outcome {
    u32 error = 0; // the code of the error raised, 0 when none
    u32 type = 0;
    std::string bytes;              // text (UTF-8, OS bytes kept) or binary bytes
    std::vector<std::string> items; // a block's texts
    std::string mold;
    i32 year = 0, month = 0, day = 0;
    i64 ms_of_day = -1; // a date's time in milliseconds
};

inline std::string text_of(const cell* c) {
    if (is(c, type_id::binary)) {
        series_buffer* b = buffer_of(c->w2);
        u32 n = used_units(b) > c->w1 ? used_units(b) - c->w1 : 0;
        return std::string(reinterpret_cast<const char*>(head_ptr(b)) + c->w1, n);
    }
    if (is_any_string_type(type_of(c))) return utf8::encode_string(c, -1, utf8::flag::lossless);
    return {};
}

// The Python facts about a folder.
struct folder_facts {
    struct entry {
        bool dir = false;
        i64 size = 0;
        i32 year = 0, month = 0, day = 0;
        i64 ms_of_day = 0;
    };
    std::map<std::string, entry> entries;
    std::map<std::string, std::string> bytes, text;
    std::map<std::string, std::set<std::string>> lists;
};

class file_test : public ::testing::Test {
  protected:
    std::string dir; // ends with "/"

    void SetUp() override {
        static bool bound = false;
        if (!bound) {
            // Bound here as start-up binds them.
            bind_routine("create-dir", R"(["Create the given directory" path [file!]])",
                         fs::routines::create_dir);
            bind_routine("exists?", R"(["Returns TRUE if the file exists" path [file!]])",
                         fs::routines::exists);
            bind_routine("write-stdout", R"(["Write data to STDOUT" data [any-type!]])",
                         fs::routines::write_stdout);
            bound = true;
        }
        char name[] = "/tmp/zel-files-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir = std::string(name) + "/";
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    static std::string oracle(const std::string& args) {
        std::string command = std::string("python3 ") + ZEL_SOURCE_DIR +
                              "/tests/unit/datatypes/file_oracle.py " + args;
        return command_output(command);
    }
    void make_fixtures() {
        oracle("setup " + dir);
        ASSERT_TRUE(std::filesystem::exists(dir + "bin.dat")) << "python3 oracle did not run";
    }
    folder_facts facts() {
        folder_facts f;
        std::istringstream in(oracle("facts " + dir));
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string kind, path;
            words >> kind >> path;
            path = hex_decode(path);
            if (kind == "entry") {
                folder_facts::entry e;
                std::string what;
                i32 h, m, s, ms;
                words >> what >> e.size >> e.year >> e.month >> e.day >> h >> m >> s >> ms;
                e.dir = what == "dir";
                e.ms_of_day = ((h * 60 + m) * 60 + s) * 1000LL + ms;
                f.entries[path] = e;
            } else if (kind == "bytes" || kind == "text") {
                std::string hex;
                words >> hex;
                (kind == "bytes" ? f.bytes : f.text)[path] = hex_decode(hex);
            } else if (kind == "list") {
                std::set<std::string>& names = f.lists[path];
                std::string hex;
                while (words >> hex) names.insert(hex_decode(hex));
            }
        }
        return f;
    }

    static void bind_routine(const char* name, const char* spec, routine::entry fn) {
        cell s;
        ASSERT_TRUE(load_text::spec_from_text(spec, &s));
        cell* held = stack::push_value(&s);
        cell* r = routine::build_value(held, nullptr, routine::add_entry(fn), 0, false);
        cell w = context::global_word(symbol::intern_text(name));
        context::set_word_value(&w, r);
        stack::top = held;
    }

    // Binds a global word to a file! of the OS name.
    static void bind(const char* word, const std::string& os_name) {
        cell value;
        file::init_cell_os_name(&value, os_name, false);
        cell* held = stack::push_value(&value);
        cell w = context::global_word(symbol::intern_text(word));
        context::set_word_value(&w, held);
        stack::top = held;
    }
    // Binds `f` to a name inside the test folder.
    void bind_in(const char* word, const std::string& name) { bind(word, dir + name); }

    static outcome run(const std::string& source) {
        outcome o;
        cell code;
        if (!load_text::block_from_text(source, &code)) {
            ADD_FAILURE() << "does not load: " << source;
            return o;
        }
        cell* holder = stack::push_value(&code);
        stack::mark m = stack::save();
        try {
            interp::evaluate_block(holder, false);
            cell* value = stack::top - 1;
            o.type = type_of(value);
            o.bytes = text_of(value);
            if (is(value, type_id::block)) {
                for (u32 i = value->w1;; i++) {
                    series_buffer* b = buffer_of(value->w2);
                    if (i >= used_units(b)) break;
                    cell item = head_cell(b)[i];
                    o.items.push_back(text_of(&item));
                }
            }
            if (is(value, type_id::date)) {
                o.year = date::packed::year(value->w1);
                o.month = date::packed::month(value->w1);
                o.day = date::packed::day(value->w1);
                o.ms_of_day = std::llround(float_of(value) * 1000.0);
            }
            cell out;
            out::new_string(&out);
            cell* molded = stack::push_value(&out);
            actions::mold_typed(value, molded, false, false, false, nullptr, 1 << 20, 0);
            o.mold = utf8::encode_string(molded);
        } catch (const unwind&) {
            stack::restore(m);
            o.error = error::last_code();
        }
        stack::top = holder;
        return o;
    }

    static u32 code(err::id id) { return id.code(); }

    std::string contents(const std::string& name) {
        std::string out;
        if (FILE* f = std::fopen((dir + name).c_str(), "rb")) {
            char buffer[4096];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
            std::fclose(f);
        }
        return out;
    }
    void put(const std::string& name, const std::string& bytes) {
        FILE* f = std::fopen((dir + name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
};

} // namespace zel::test
