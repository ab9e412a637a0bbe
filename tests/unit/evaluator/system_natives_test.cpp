// The system natives end to end: print and prin through the print hooks, now against Python's
// datetime in unusual zones, wait, the environment natives against a Python parent and child,
// stats and recycle, and the new-line markers.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "datatypes/context.hpp"
#include "datatypes/date.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/memory_stats.hpp"
#include "tests/unit/evaluator/eval_fixture.hpp"
#include "tests/unit/evaluator/system_support.hpp"

using namespace zel;
using test::gives;
using test::raises;

namespace {
// What `source` prints through the value hooks; the outcome goes to `result`.
std::string printed(std::string_view source, test::outcome* result = nullptr) {
    test::print_capture capture;
    test::outcome o = test::run(source);
    if (result) *result = o;
    return test::print_capture::text();
}

// The value of a source that must evaluate without an error (valid until the next allocation
// unless rooted).
cell value_of(std::string_view source) {
    test::outcome o = test::run(source);
    EXPECT_FALSE(o.raised) << source << " raised " << o.error_code;
    return o.value;
}

// The text print writes for a value.
std::string form_of(const cell& value) {
    cell* base = stack::top;
    cell* held = stack::push_value(&value);
    cell buffer;
    string::init_cell_bytes(&buffer, 16);
    cell* out = stack::push_value(&buffer);
    actions::form_typed(held, out, nullptr, 1 << 30);
    std::string text = utf8::encode_string(out);
    stack::top = base;
    return text;
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// Calls a native with arguments the way the interpreter would.
cell call_native(const char* name, std::initializer_list<cell> arguments) {
    cell w = context::global_word(symbol::intern_text(name));
    cell fn = *context::word_value_address(&w);
    cell* at = stack::push_value(&fn);
    for (const cell& a : arguments) stack::push_value(&a);
    interp::call_with_arguments(at, static_cast<u32>(arguments.size()));
    cell result = *at;
    stack::top = at;
    return result;
}

std::vector<cell> cells_of(const cell& block) {
    series_buffer* b = buffer_of(block.w2);
    return std::vector<cell>(head_cell(b) + block.w1, tail_cell(b));
}

i64 number_of(const cell& c) {
    return is(&c, type_id::integer) ? int_of(&c) : static_cast<i64>(float_of(&c));
}
} // namespace

// ---- print and prin -----------------------------------------------------------------------

TEST(SystemNatives, PrintFormsEveryKindOfValue) {
    const char* values[] = {
        "42",
        "-1.5",
        "\"é€😀 text\"",
        "#\"x\"",
        "'w",
        "1x2",
        "10%",
        "$1.50",
        "1:30",
        "%a.txt",
        "http://x.y",
        "10-Dec-2025/10:00+5:45",
        "<t>",
        "a@b.c",
        "#iss",
        "#{0102}",
        "1.2.3",
        "[[1 2] [3]]",
        "integer!",
        "make object! [a: 1]",
        "/ref",
        "'a/b",
        "none",
        "make map! [a 1]",
        "true",
        "\"\"",
        ":print",
        "make error! \"boom\"",
        "(1 + 2)",
        "@ref",
        "[\"a\" #\"b\"]",
        "make typeset! [integer!]",
        "make hash! [1 2]",
    };
    for (const char* v : values) {
        gc::rooted_cell value(value_of(v));
        // A block is reduced before it is formed; the values here reduce to themselves.
        std::string form = form_of(value.value);
        EXPECT_EQ(printed(std::string("print ") + v), form + "\n") << v;
        EXPECT_EQ(printed(std::string("prin ") + v), form) << v;
    }
}

TEST(SystemNatives, PrintReducesBlocksAndJoinsBySpaces) {
    struct row {
        const char* source;
        const char* output;
    };
    const row rows[] = {
        {"print [1 + 1 \"a\"]", "2 a\n"},
        {"print []", "\n"},
        {"prin \"x\" prin [] print \"y\"", "xy\n"},
        {"x: 5 print [x \"and\" x + 1 'x]", "5 and 6 x\n"},
        {"print [\"a\" [\"b\" \"c\"] #\"d\"]", "a b c d\n"},
        {"print [if true [\"yes\"] either false [1] [2]]", "yes 2\n"},
        // A print inside a printed expression writes its line first; the outer line keeps all
        // its values (the inner one answers unset, which forms as nothing).
        {"print [1 print [2 3] 4]", "2 3\n1  4\n"},
        {"print [1 print [2 print [3] 4] 5]", "3\n2  4\n1  5\n"},
        {"loop 3 [prin [1 2]] print \"\"", "1 21 21 2\n"},
    };
    for (const row& r : rows) {
        test::outcome o;
        EXPECT_EQ(printed(r.source, &o), r.output) << r.source;
        EXPECT_FALSE(o.raised) << r.source;
        EXPECT_EQ(type_of(&o.value), type_id::unset) << r.source;
    }
    printed("prin 1");
    EXPECT_EQ(print_hooks::last_newline, 0u);
    printed("print 1");
    EXPECT_EQ(print_hooks::last_newline, 1u);
}

TEST(SystemNatives, ExitsLeavingAPrintedBlockLeavePrintUsable) {
    test::outcome o;
    EXPECT_EQ(printed("print [1 undefined-word-here 2]", &o), "");
    EXPECT_TRUE(o.raised);
    EXPECT_EQ(o.error_code, err::E("script", "no-value").code());
    EXPECT_EQ(printed("print [1 print [2 undefined-word-here] 3]"), "");
    EXPECT_EQ(printed("f: func [] [print [1 return 2 3]] print f"), "2\n");
    EXPECT_EQ(printed("loop 2 [print [\"x\" break \"y\"]] print 'z"), "z\n");
    EXPECT_EQ(printed("print [7 8]"), "7 8\n");
    EXPECT_EQ(printed("print [\"a\" print [\"b\"] \"c\"]"), "b\na  c\n");
}

TEST(SystemNatives, PrintReachesStandardOutput) {
    std::fflush(stdout);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    int saved = dup(STDOUT_FILENO);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
    test::outcome o = test::run("prin \"é\" print [\"€\" 1] print \"😀\"");
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, n);
    close(fds[0]);
    EXPECT_FALSE(o.raised);
    EXPECT_EQ(out, "\xC3\xA9\xE2\x82\xAC 1\n\xF0\x9F\x98\x80\n");
}

// ---- now and wait -------------------------------------------------------------------------

TEST(SystemNatives, NowRefinementsCombineOnlyAsSpecified) {
    for (const char* s : {"now/year/month", "now/time/zone", "now/date/precise",
                          "now/weekday/yearday/utc", "now/day/time/precise"})
        EXPECT_TRUE(raises(s, err::E("script", "bad-refines")));
    struct row {
        const char* source;
        u32 type;
    };
    const row rows[] = {
        {"now", type_id::date},
        {"now/utc", type_id::date},
        {"now/precise/utc", type_id::date},
        {"now/year", type_id::integer},
        {"now/month", type_id::integer},
        {"now/day/utc", type_id::integer},
        {"now/time", type_id::time},
        {"now/time/precise", type_id::time},
        {"now/zone", type_id::time},
        {"now/date", type_id::date},
        {"now/weekday", type_id::integer},
        {"now/yearday", type_id::integer},
    };
    for (const row& r : rows) EXPECT_TRUE(test::gives_type(r.source, r.type));
    cell d = value_of("now/date");
    EXPECT_EQ(d.w1 & (date::packed::has_time | date::packed::zone_mask), 0u);
    cell t = value_of("now/time");
    EXPECT_EQ(float_of(&t), std::floor(float_of(&t)));
    EXPECT_TRUE(gives("now/utc/zone", "0:00:00"));
}

TEST(SystemNatives, NowMatchesPythonInUnusualZones) {
    struct reading {
        std::string tz;
        i64 instant;   // seconds since 1970 of plain `now`
        i64 fields[7]; // year month day local-seconds offset weekday yearday
    };
    std::vector<reading> readings;
    const char* saved_tz = std::getenv("TZ");
    std::string saved = saved_tz ? saved_tz : "";
    for (const char* tz : {"Asia/Kathmandu", "America/St_Johns", "Pacific/Chatham"}) {
        setenv("TZ", tz, 1);
        tzset();
        reading r{tz, 0, {}};
        cell now = value_of("now");
        u32 p = now.w1;
        r.instant = (i64(date::day_number_of(p)) - date::day_number(1970, 1, 1)) * 86400 +
                    static_cast<i64>(float_of(&now));
        const char* refinements[] = {"now/year", "now/month",   "now/day",    "now/time",
                                     "now/zone", "now/weekday", "now/yearday"};
        for (int i = 0; i < 7; i++) {
            cell v = value_of(refinements[i]);
            r.fields[i] = is(&v, type_id::integer) ? int_of(&v) : static_cast<i64>(float_of(&v));
        }
        readings.push_back(r);
    }
    if (saved_tz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    std::string args;
    for (const reading& r : readings) args += " " + r.tz + " " + std::to_string(r.instant);
    const std::string script =
        "import os, sys, time, datetime\n"
        "a = sys.argv[1:]\n"
        "for tz, t in zip(a[0::2], a[1::2]):\n"
        "    os.environ['TZ'] = tz\n"
        "    time.tzset()\n"
        "    d = datetime.datetime.fromtimestamp(int(t), datetime.timezone.utc).astimezone()\n"
        "    print(d.year, d.month, d.day, d.hour * 3600 + d.minute * 60 + d.second,\n"
        "          int(d.utcoffset().total_seconds()), d.isoweekday(),\n"
        "          d.timetuple().tm_yday, int(time.time()))\n";
    std::istringstream expected(test::command_output("python3 -c \"" + script + "\"" + args));
    // Python's clock is read later than ours, by however long a loaded machine takes to start it.
    const i64 after = static_cast<i64>(time(nullptr));
    for (const reading& r : readings) {
        i64 want[7], python_now;
        for (i64& w : want) ASSERT_TRUE(expected >> w) << r.tz;
        ASSERT_TRUE(expected >> python_now);
        EXPECT_GE(python_now, r.instant - 1) << r.tz;
        EXPECT_LE(python_now, after + 1) << r.tz;
        // The fields were read an instant after `now`: only the seconds may have moved on.
        for (int i = 0; i < 7; i++) {
            if (i == 3)
                EXPECT_LT(std::llabs(r.fields[i] - want[i]) % 86399, 3) << r.tz;
            else
                EXPECT_EQ(r.fields[i], want[i]) << r.tz << " field " << i;
        }
    }
}

TEST(SystemNatives, WaitSleepsAndRefusesOtherValues) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(gives("wait 0.0005", "none"));
    EXPECT_TRUE(gives("wait 0:00:00.002", "none"));
    EXPECT_TRUE(gives("wait 0", "none"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4));
    for (const char* s : {"wait [1]", "wait 10%", "wait none"})
        EXPECT_TRUE(raises(s, err::E("script", "invalid-arg")));
}

// ---- the environment ----------------------------------------------------------------------

// Run as the child of env_oracle.py, which gives it an environment of its own and checks this
// report against it.
TEST(SystemNativesChild, ReportsTheEnvironment) {
    if (!std::getenv("ZEL_ENV_CHILD")) GTEST_SKIP() << "run by env_oracle.py";
    gc::rooted_cell listed(value_of("list-env"));
    ASSERT_EQ(type_of(&listed.value), type_id::map);
    std::string report;
    std::vector<gc::rooted_cell*> keys;
    u32 pairs = used_units(buffer_of(listed.value.w2)) / 2;
    for (u32 i = 0; i < pairs; i++) {
        cell* kv = head_cell(buffer_of(listed.value.w2)) + 2 * i;
        if (kv[1].header == 0) continue;
        report += "ENV " + hex(utf8::encode_string(kv, -1, utf8::flag::lossless)) + " " +
                  hex(utf8::encode_string(kv + 1, -1, utf8::flag::lossless)) + "\n";
        keys.push_back(new gc::rooted_cell(kv[0]));
    }
    keys.push_back(new gc::rooted_cell(value_of("\"ZEL_NOT_SET\"")));
    for (gc::rooted_cell* key : keys) {
        cell v = call_native("get-env", {key->value});
        report += "GET " + hex(utf8::encode_string(&key->value, -1, utf8::flag::lossless)) + " " +
                  (is_none(&v) ? "NONE" : hex(utf8::encode_string(&v, -1, utf8::flag::lossless))) +
                  "\n";
    }
    // Roots are released in the reverse order of their making.
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) delete *it;
    std::printf("%s", report.c_str());
    std::fflush(stdout);
}

TEST(SystemNatives, EnvironmentAgainstPythonParent) {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    exe[n] = 0;
    EXPECT_EQ(test::command_output("python3 " ZEL_SOURCE_DIR
                                   "/tests/unit/evaluator/env_oracle.py " +
                                   std::string(exe)),
              "ok\n");
}

TEST(SystemNatives, SetEnvReachesChildProcesses) {
    setenv("ZEL_RAW_SOURCE", "\xFF\xFE raw", 1);
    EXPECT_TRUE(gives("set-env \"ZEL_T1\" \"x=y é\"", "\"x=y é\""));
    EXPECT_TRUE(gives("set-env 'ZEL_T2 \"two\" get-env 'ZEL_T2", "\"two\""));
    EXPECT_TRUE(gives("set-env \"ZEL_T3\" \"gone\" get-env \"ZEL_T3\"", "\"gone\""));
    EXPECT_TRUE(gives("set-env 'ZEL_T3 none get-env 'ZEL_T3", "none"));
    EXPECT_TRUE(gives("set-env \"ZEL_EMPTY\" \"\" get-env \"ZEL_EMPTY\"", "none"));
    EXPECT_FALSE(test::run("set-env \"ZEL_RAW_COPY\" get-env \"ZEL_RAW_SOURCE\"").raised);
    EXPECT_STREQ(std::getenv("ZEL_RAW_COPY"), "\xFF\xFE raw");
    EXPECT_EQ(test::command_output("python3 -c 'import os; e = os.environb; "
                                   "print(e.get(b\"ZEL_T1\"), e.get(b\"ZEL_T3\"), "
                                   "e.get(b\"ZEL_EMPTY\"))'"),
              "b'x=y \\xc3\\xa9' None b''\n");
    // Names the OS cannot take are refused instead of being reported as set.
    for (const char* s :
         {"set-env \"A=B\" \"x\"", "set-env \"\" \"x\"", "set-env \"ZEL_NUL\" \"a^@b\""})
        EXPECT_TRUE(raises(s, err::E("script", "invalid-arg")));
    EXPECT_EQ(std::getenv("ZEL_NUL"), nullptr);
}

// ---- stats and recycle --------------------------------------------------------------------

TEST(SystemNatives, StatsInfoDescribesEveryFrame) {
    gc::rooted_cell big{cell{type_id::binary, 0, memory::new_series(3000000, 1, 0), 0}};
    cell info = value_of("stats/info");
    EXPECT_EQ(cells_of(info).size(), 5u);

    gc::rooted_cell parent{cell{type_id::block, 0, memory::new_cell_series(5), 0}};
    cell used = memory::usage_stats(nullptr, 1);
    memory::usage_stats(&parent.value, 2);
    std::vector<cell> parts = cells_of(parent.value);
    ASSERT_EQ(parts.size(), 5u);
    for (int i = 0; i < 3; i++) ASSERT_EQ(type_of(&parts[i]), type_id::block);
    for (int i = 3; i < 5; i++) EXPECT_EQ(type_of(&parts[i]), type_id::integer);

    const u32 counts[] = {memory::count_node_frames(), memory::count_series_frames(),
                          memory::count_big_series()};
    i64 in_use = 0;
    for (int group = 0; group < 2; group++) {
        std::vector<cell> rows = cells_of(parts[group]);
        EXPECT_EQ(rows.size(), counts[group]);
        for (const cell& row : rows) {
            EXPECT_TRUE(cell_ops::has_newline(&row));
            std::vector<cell> f = cells_of(row);
            ASSERT_EQ(f.size(), 3u);
            EXPECT_EQ(number_of(f[0]) + number_of(f[1]), number_of(f[2]));
            in_use += group == 0 ? 4 * number_of(f[1]) : number_of(f[1]);
        }
    }
    std::vector<cell> bigs = cells_of(parts[2]);
    EXPECT_EQ(bigs.size(), counts[2]);
    bool found = false;
    for (const cell& b : bigs) {
        EXPECT_TRUE(cell_ops::has_newline(&b));
        in_use += number_of(b);
        found = found || number_of(b) >= 3000000;
    }
    EXPECT_TRUE(found);
    // The figures describe the memory as it was before the block was built.
    EXPECT_EQ(number_of(used), in_use);
    EXPECT_GT(number_of(parts[3]), in_use);
    EXPECT_GE(number_of(parts[3]), number_of(parts[4]));

    cell limit = memory::number_cell(2147483647u);
    EXPECT_EQ(type_of(&limit), type_id::integer);
    cell large = memory::number_cell(3000000000u);
    EXPECT_EQ(type_of(&large), type_id::float_);
    EXPECT_EQ(float_of(&large), 3000000000.0);
}

TEST(SystemNatives, StatsAnswersAndHoldsTheCollector) {
    cell plain = value_of("stats");
    EXPECT_EQ(type_of(&plain), type_id::integer);
    EXPECT_GT(int_of(&plain), 0);
    for (bool active : {true, false}) {
        gc::active = active;
        gc::rooted_cell parent{cell{type_id::block, 0, memory::new_cell_series(8), 0}};
        memory::usage_stats(&parent.value, 2);
        EXPECT_EQ(gc::active, active);
    }
    gc::active = true;
}

TEST(SystemNatives, StatsShowHandsTheBlockToTheLibrary) {
    EXPECT_TRUE(
        test::gives_type("show-memory-stats: func [b] [shown: b] stats/show", type_id::unset));
    cell shown = value_of("shown");
    ASSERT_EQ(type_of(&shown), type_id::block);
    EXPECT_EQ(cells_of(shown).size(), 5u);
}

TEST(SystemNatives, RecycleFreesGarbageAndSwitchesTheCollector) {
    gc::active = false;
    for (int i = 0; i < 300; i++) memory::new_cell_series(1000); // 16,000 bytes each, unreachable
    gc::active = true;
    i64 before = number_of(memory::usage_stats(nullptr, 1));
    cell after = value_of("recycle");
    EXPECT_LT(number_of(after), before - 4000000);

    struct row {
        const char* source;
        bool active;
    };
    const row rows[] = {{"recycle/off", false},
                        {"recycle/on", true},
                        {"recycle/off", false},
                        {"recycle/on/off", true}};
    for (const row& r : rows) {
        EXPECT_TRUE(test::gives_type(r.source, type_id::unset));
        EXPECT_EQ(gc::active, r.active) << r.source;
    }
}

// ---- new-line markers ---------------------------------------------------------------------

TEST(SystemNatives, NewLineMarkers) {
    struct row {
        const char* source;
        const char* marks; // new-line mark of each cell of b afterwards
    };
    const row rows[] = {
        {"b: [1 2 3 4 5] new-line b true", "10000"},
        {"b: [1 2 3 4 5] new-line/all b true", "11111"},
        {"b: [1 2 3 4 5] new-line/skip b true 2", "10101"},
        {"b: [1 2 3 4 5] new-line/skip b false 2", "01010"},
        {"b: [1 2 3 4 5] new-line/all/skip b true 3", "10010"},
        {"b: [1 2 3 4 5] new-line/all b true new-line/all b false", "00000"},
    };
    for (const row& r : rows) {
        cell b = value_of(std::string(r.source) + " b");
        std::string marks;
        for (const cell& c : cells_of(b)) marks += cell_ops::has_newline(&c) ? '1' : '0';
        EXPECT_EQ(marks, r.marks) << r.source;
    }
    EXPECT_TRUE(gives("b: [1 2] new-line b true new-line? b", "true"));
    EXPECT_TRUE(gives("b: [1 2] new-line? b", "false"));
    EXPECT_TRUE(gives("b: [1 2] same? b new-line b true", "true"));

    // At the tail nothing is marked or read; the result is the position given.
    gc::rooted_cell b(value_of("[1 2 3]"));
    cell tail = b.value;
    tail.w1 = 3;
    cell truth;
    init_logic(&truth, true);
    cell same = call_native("new-line", {tail, truth});
    EXPECT_TRUE(same.header == tail.header && same.w1 == 3 && same.w2 == tail.w2);
    for (const cell& c : cells_of(b.value)) EXPECT_FALSE(cell_ops::has_newline(&c));
    cell_ops::set_newline(head_cell(buffer_of(tail.w2)) + 2, true);
    cell answer = call_native("new-line?", {tail});
    EXPECT_TRUE(is(&answer, type_id::logic) && answer.w1 == 0);
    tail.w1 = 2;
    answer = call_native("new-line?", {tail});
    EXPECT_TRUE(is(&answer, type_id::logic) && answer.w1 == 1);

    for (const char* s : {"new-line/skip [1 2] true 0", "new-line/skip [1 2] true -1"})
        EXPECT_TRUE(raises(s, err::E("script", "out-of-range")));
}
