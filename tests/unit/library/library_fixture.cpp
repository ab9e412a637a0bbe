// Running source text through the full start-up environment in tests.
#include "tests/unit/library/library_fixture.hpp"

#include <cstdio>
#include <unistd.h>

#include "datatypes/error.hpp"
#include "datatypes/string_buffer.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/load_text.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/unicode.hpp"

namespace zel::libtest {

namespace {

std::string mold_of(const cell* value, bool report) {
    cell* base = stack::top;
    cell* held = stack::push_value(value);
    cell buffer;
    string::init_cell_bytes(&buffer, 16);
    cell* out = stack::push_value(&buffer);
    if (report)
        error::form_report(held, out, nullptr, 1 << 20);
    else
        actions::mold_typed(held, out, false, false, false, nullptr, 1 << 30, 0);
    std::string text = utf8::encode_string(out);
    stack::top = base;
    return text;
}

} // namespace

outcome run(std::string_view text) {
    outcome o;
    cell* base = stack::top;
    stack::mark mark = stack::save();
    u32 depth = cycle_stack::depth();
    try {
        cell none{type_id::none, 0, 0, 0};
        cell* code = stack::push_value(&none);
        if (!load_text::block_from_text(text, code)) {
            ADD_FAILURE() << "does not load: " << text;
            stack::top = base;
            return o;
        }
        interp::evaluate_block(code, false);
        o.pending = interp::pending;
        cell value = stack::top[-1];
        o.type = type_of(&value);
        o.molded = mold_of(&value, false);
    } catch (const unwind& u) {
        stack::restore(mark);
        if (cycle_stack::depth() > depth) cycle_stack::drop_nodes(cycle_stack::depth() - depth);
        o.raised = u.code == throw_code::error;
        o.error_code = error::last_code();
        if (o.raised && is(error::thrown(), type_id::error))
            o.molded = mold_of(error::thrown(), true);
        if (!o.raised) {
            o.pending = u.code;
            o.status = u.status;
        }
    }
    interp::pending = 0;
    stack::top = base;
    return o;
}

::testing::AssertionResult gives(std::string_view text, std::string_view molded) {
    outcome o = run(text);
    if (o.raised)
        return ::testing::AssertionFailure()
               << text << " raised " << o.error_code << ": " << o.molded;
    if (o.pending)
        return ::testing::AssertionFailure() << text << " left exit " << std::hex << o.pending;
    if (o.molded != molded)
        return ::testing::AssertionFailure()
               << text << " gave " << o.molded << ", wanted " << molded;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult raises(std::string_view text, err::id id) {
    outcome o = run(text);
    if (!o.raised) return ::testing::AssertionFailure() << text << " raised nothing: " << o.molded;
    if (o.error_code != id.code())
        return ::testing::AssertionFailure() << text << " raised " << o.error_code << " ("
                                             << o.molded << "), wanted " << id.code();
    return ::testing::AssertionSuccess();
}

void check_all(std::initializer_list<case_> cases) {
    for (const case_& c : cases) EXPECT_TRUE(gives(c.source, c.molded));
}

std::string captured_output(void (*fn)(std::string_view), std::string_view text) {
    std::fflush(stdout);
    std::FILE* tmp = std::tmpfile();
    int saved = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(tmp), STDOUT_FILENO);
    fn(text);
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::string out;
    std::rewind(tmp);
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, tmp)) > 0) out.append(chunk, n);
    std::fclose(tmp);
    return out;
}

std::string printed(std::string_view text) {
    return captured_output([](std::string_view t) { run(t); }, text);
}

} // namespace zel::libtest
