// Start-up: the global context's word order, the system object as built, the module loader's
// failures, and library functions behaving as compiled ones (hidden calls, no trace events, the
// user's position in errors).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "runtime/modules.hpp"
#include "tests/unit/library/library_fixture.hpp"

namespace zel {
namespace {

using libtest::gives;
using libtest::raises;
using libtest::run;

std::vector<std::string> words_of(const std::string& molded_block) {
    std::string inner = molded_block.substr(1, molded_block.size() - 2);
    std::istringstream in(inner);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// Where `sequence` starts in `words`, or -1.
long find_run(const std::vector<std::string>& words, const std::vector<std::string>& sequence) {
    for (size_t i = 0; i + sequence.size() <= words.size(); i++) {
        bool all = true;
        for (size_t k = 0; k < sequence.size() && all; k++) all = words[i + k] == sequence[k];
        if (all) return static_cast<long>(i);
    }
    return -1;
}

TEST(GlobalWords, TypeNamesThenRuntimeWordsThenTheLibraryHead) {
    libtest::outcome o = run("copy/part words-of system/words 400");
    ASSERT_FALSE(o.raised) << o.molded;
    std::vector<std::string> words = words_of(o.molded);
    // The type names first, in type-id order.
    std::vector<std::string> types = {"datatype!", "unset!",  "none!", "logic!", "block!",
                                      "paren!",    "string!", "file!", "url!",   "char!"};
    EXPECT_EQ(find_run(words, types), 0);
    long runtime = find_run(words, {"Windows", "Syllable", "macOS", "Linux", "NetBSD", "to", "thru",
                                    "not", "remove", "while", "collect", "keep"});
    long past_forms = find_run(words, {"put", "put-ed", "removed", "random", "randomized"});
    long internal = find_run(words, {"paren", "<anon>", "<body>", "<not-found>", "end", "add"});
    long categories = find_run(words, {"throw", "expr", "<interp-callback>", "<lexer-callback>"});
    long applied = find_run(words, {"local", "<applied>", "make", "event!", "none", "true", "false",
                                    "reflect", "form", "mold"});
    long natives = find_run(words, {"unless", "either", "all", "until", "loop"});
    long routines = find_run(words, {"quit-return", "set-quiet", "set-slot-quiet"});
    EXPECT_GT(runtime, 0);
    EXPECT_LT(runtime, past_forms);
    EXPECT_LT(past_forms, internal);
    EXPECT_LT(internal, categories);
    EXPECT_LT(categories, applied);
    EXPECT_LT(applied, natives);
    EXPECT_LT(natives, routines);
    // Every type name comes before the runtime's words.
    for (long i = 0; i < runtime; i++) EXPECT_EQ(words[i].back(), '!') << words[i];
}

TEST(SystemObject, FieldsInOrder) {
    EXPECT_TRUE(gives("words-of system",
                      "[version build words platform catalog state modules codecs schemes ports "
                      "locale options script standard lexer console view reactivity tools]"));
    EXPECT_TRUE(gives("words-of system/options",
                      "[boot home path script cache thru-cache args do-arg debug secure quiet "
                      "binary-base decimal-digits money-digits module-paths file-types float "
                      "on-change* on-deep-change*]"));
    EXPECT_TRUE(gives("words-of system/state",
                      "[interpreted? last-error stack-trace source-files callbacks GC]"));
    EXPECT_TRUE(gives("words-of system/state/callbacks",
                      "[lexer? parse? sort? change? deep? port? bits on-change*]"));
    EXPECT_TRUE(gives("words-of system/catalog", "[datatypes actions natives accessors errors]"));
    EXPECT_TRUE(gives("words-of system/catalog/errors",
                      "[throw note syntax script math access reserved1 reserved2 user internal]"));
    EXPECT_TRUE(
        gives("words-of system/standard", "[header port error file-info url-parts scheme]"));
    EXPECT_TRUE(gives("words-of system/standard/error",
                      "[code type id arg1 arg2 arg3 near where stack files]"));
    EXPECT_TRUE(gives("words-of system/locale",
                      "[language language* locale locale* months days currencies]"));
    EXPECT_TRUE(gives("words-of system/lexer", "[pre-load err-pos exit-states trapper tracer]"));
    EXPECT_TRUE(gives("length? words-of system/standard/header", "20"));
}

TEST(SystemObject, InitialValues) {
    libtest::check_all({
        {"system/version", "0.1.0"},
        {"system/platform", "Linux"},
        {"type? system/platform", "word!"},
        {"system/options/binary-base", "16"},
        {"system/options/decimal-digits", "15"},
        {"system/options/money-digits", "2"},
        {"system/options/quiet", "false"},
        {"system/options/module-paths", "[]"},
        {"system/state/stack-trace", "1"},
        {"system/state/last-error", "none"},
        {"system/options/float/pretty?", "true"},
        {"system/options/float/full?", "false"},
        {"reduce [object? system/console object? system/view object? system/reactivity system/tools]",
         "[true true true none]"},
        {"words-of system/reactivity",
         "[relations queue eat-events? debug? types! not-safe! add-relation identify-sources "
         "eval eval-reaction pending? check]"},
        {"words-of preprocessor",
         "[exec protos macros stack syms depth active? trace? s do-quit throw-error syntax-error "
         "do-safe do-code rebind-all count-args arg-mode? func-arity? value-path? fetch-next eval "
         "do-macro register-macro reset expand]"},
        {"reduce [type? system/codecs type? system/modules type? system/ports]",
         "[map! block! object!]"},
        {"words-of system/ports", "[]"},
        {"length? system/locale/currencies/list", "170"},
        {"first system/locale/months", "\"January\""},
        {"last system/locale/days", "\"Sunday\""},
        {"type? system/build/date", "date!"},
        {"type? :system/state/GC/active?", "routine!"},
        {"system/state/GC/active?", "true"},
        {"integer? system/state/GC/series-cycles", "true"},
        {"system/state/interpreted?", "true"},
        {"system/catalog/errors/script/invalid-arg", "[\"invalid argument:\" :arg1]"},
        {"type? system/words", "object!"},
        {"same? :system/words/probe :probe", "true"},
        {"length? system/lexer/exit-states", "36"},
        {"first system/lexer/exit-states", "eof"},
    });
    // The current directory at start, as a directory file!.
    libtest::outcome dir = run("get-current-dir");
    EXPECT_TRUE(gives("system/options/path", dir.molded));
    EXPECT_TRUE(gives("dir? system/options/path", "true"));
}

TEST(SystemObject, ChangeHandlers) {
    // The callback switches keep `bits` in step, one bit per switch.
    libtest::check_all({
        {"system/state/callbacks/parse?: true system/state/callbacks/bits", "2"},
        {"system/state/callbacks/deep?: true system/state/callbacks/bits", "18"},
        {"system/state/callbacks/parse?: false system/state/callbacks/bits", "16"},
        {"system/state/callbacks/deep?: false system/state/callbacks/bits", "0"},
    });
    // path accepts only a file!, and moves the process's directory.
    libtest::outcome before = run("system/options/path");
    EXPECT_TRUE(raises("system/options/path: 10", err::E("script", "invalid-type")));
    EXPECT_TRUE(gives("system/options/path", before.molded));
    EXPECT_TRUE(gives("system/options/path: %/ get-current-dir", "%/"));
    EXPECT_TRUE(gives("system/options/path: " + before.molded + " get-current-dir", before.molded));
    // The currency list only grows by new three-letter codes, which it upper-cases.
    if (!run("uppercase \"a\"").raised) {
        EXPECT_TRUE(gives("append system/locale/currencies/list 'abc "
                          "last system/locale/currencies/list",
                          "ABC"));
        EXPECT_TRUE(gives("length? system/locale/currencies/list", "171"));
    }
    EXPECT_TRUE(raises("append system/locale/currencies/list 'usd", err::E("script", "protected")));
    EXPECT_TRUE(raises("append system/locale/currencies/list 'ab", err::E("script", "protected")));
    EXPECT_TRUE(raises("clear system/locale/currencies/list", err::E("script", "protected")));
    EXPECT_TRUE(raises("system/locale/currencies/list: []", err::E("script", "protected")));
    EXPECT_TRUE(gives("type? system/locale/currencies/list", "block!"));
}

TEST(SystemObject, TrapperRecordsTheErrorPosition) {
    EXPECT_TRUE(gives("f: :system/lexer/trapper first body-of :f", "[error]"));
    EXPECT_TRUE(gives("system/lexer/trapper 'error \"abc\" none 1 none", "true"));
    EXPECT_TRUE(gives("system/lexer/err-pos", "1"));
}

TEST(ModuleLoader, FailuresNameTheModuleAndTheError) {
    std::string failure;
    EXPECT_TRUE(modules::evaluate_source("test/ok.zel", "x-loaded: 1 + 1", &failure));
    EXPECT_TRUE(gives("x-loaded", "2"));
    EXPECT_FALSE(modules::evaluate_source("test/syntax.zel", "a: [1 2", &failure));
    EXPECT_NE(failure.find("test/syntax.zel: *** Syntax Error"), std::string::npos) << failure;
    EXPECT_FALSE(modules::evaluate_source("test/error.zel", "1 / 0", &failure));
    EXPECT_NE(failure.find("test/error.zel: *** Math Error"), std::string::npos) << failure;
    EXPECT_FALSE(modules::evaluate_source("test/throw.zel", "throw 1", &failure));
    EXPECT_NE(failure.find("test/throw.zel: *** Throw Error"), std::string::npos) << failure;
    // The stacks are as they were: evaluation goes on.
    EXPECT_TRUE(gives("1 + 1", "2"));
    EXPECT_TRUE(modules::embedded_text("library/none.zel").empty());
    EXPECT_FALSE(modules::embedded_text("library/core.zel").empty());
}

TEST(LibraryCode, CallsOfLibraryFunctionsAreNotListed) {
    // `attempt` and `probe` are between the user's functions and collect-calls.
    EXPECT_TRUE(gives("f: func [] [g] g: func [] [attempt [h]] h: func [] [extract-calls] "
                      "extract-calls: func [/local b] [b: collect-calls copy [] "
                      "remove-each x b [integer? x] b] f",
                      "[extract-calls h g f]"));
}

TEST(LibraryCode, NoTraceEventsInsideLibraryBodies) {
    // probe's own steps are not events; the user's block run by attempt is traced.
    const char* tracer = "r: copy [] t: func [event code offset value ref frame] [append r event] ";
    EXPECT_TRUE(gives(std::string(tracer) + "do/trace [probe 1] :t r",
                      "[init enter fetch open fetch push return expr exit end]"));
    libtest::outcome o = run(std::string(tracer) + "do/trace [attempt [1 + 2]] :t r");
    ASSERT_FALSE(o.raised) << o.molded;
    // The inner block's steps are there.
    EXPECT_NE(o.molded.find("enter fetch push fetch open fetch push return expr exit"),
              std::string::npos)
        << o.molded;
}

TEST(LibraryCode, ErrorsNearTheUsersCode) {
    libtest::outcome o = run("x: 0 first 5");
    ASSERT_TRUE(o.raised);
    EXPECT_NE(o.molded.find("*** Near : first 5"), std::string::npos) << o.molded;
    o = run("cause-error 'script 'invalid-arg [1]");
    EXPECT_NE(o.molded.find("*** Near : cause-error 'script"), std::string::npos) << o.molded;
    // An error in user code that library code runs keeps its own position.
    o = run("probe 1 attempt [y: 1] z: 2 also 1 [first 5]");
    EXPECT_FALSE(o.raised);
    o = run("f: func [] [1 / 0] attempt [f] also 1 do [f]");
    ASSERT_TRUE(o.raised);
    EXPECT_NE(o.molded.find("*** Near : 1 / 0"), std::string::npos) << o.molded;
}

TEST(LibraryCode, BodiesStayAvailable) {
    EXPECT_TRUE(gives("body-of :probe", "[\n    print mold :value\n    get/any 'value\n]"));
    EXPECT_TRUE(gives("spec-of :also",
                      "[\n    {Returns the first value, but also evaluates the second}\n"
                      "    value1 [any-type!] value2 [any-type!]\n]"));
    // A user function made from a library body is the user's.
    EXPECT_TRUE(gives("r: copy [] t: func [e c o v [any-type!] f g] [append r e] "
                      "f: func [value] body-of :probe do/trace [f 1] :t "
                      "to logic! find r 'prolog",
                      "true"));
}

} // namespace
} // namespace zel
