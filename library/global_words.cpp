// The fixed head of the global context's word order.
#include "library/global_words.hpp"

#include <string_view>

#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"

namespace zel::global_words {

namespace {

// The runtime's words: the OS names and parse keywords, the series and ownership-event names,
// `end`, then the action, port, event and error-category names. A name listed twice is one word.
// clang-format off
constexpr std::string_view runtime_words[] = {
    "Windows", "Syllable", "macOS", "Linux", "NetBSD", "to", "thru", "not", "remove", "while",
    "collect", "keep", "ahead", "|", "any", "some", "copy", "opt", "into", "insert", "if", "quote",
    "collect", "set", "case",
    // series actions and their past forms, as the ownership events name them
    "at", "back", "find", "head", "head?", "index?", "length?", "next", "pick", "skip", "select",
    "tail", "tail?", "change", "changed", "clear", "cleared", "set-path", "append", "appended",
    "move", "moved", "poke", "poked", "put", "put-ed", "removed", "random", "randomized",
    "reverse", "reversed", "sort", "sorted", "swap", "swaped", "take", "taken", "trim", "trimmed",
    "inserted", "uppercase", "lowercase", "checksum", "push", "pop", "fetch", "match", "iterate",
    "paren", "<anon>", "<body>", "<not-found>", "end", "add", "subtract", "divide",
    "on-parse-event", "on-change*", "on-deep-change*", "type", "id", "try", "catch", "name",
    "multiply", "browse", "open", "create", "close", "delete", "modify", "query", "read", "rename",
    "update", "write", "prescan", "scan", "load", "error", "comment", "init", "exec", "call",
    "return", "enter", "exit", "prolog", "epilog", "throw", "expr", "<interp-callback>",
    "<lexer-callback>", "<parse-callback>", "<compare-callback>", "throw", "note", "syntax",
    "script", "math", "access", "user", "internal", "invalid-error", "local", "<applied>",
};
// clang-format on

// The library's first words, in the order of their first use: the datatypes, the base values,
// the actions, the natives, then the routines.
// clang-format off
constexpr std::string_view library_head[] = {
    "datatype!", "make", "unset!", "none!", "logic!", "block!", "string!", "integer!", "word!",
    "error!", "typeset!", "file!", "url!", "set-word!", "get-word!", "lit-word!", "refinement!",
    "binary!", "paren!", "char!", "issue!", "path!", "set-path!", "get-path!", "lit-path!",
    "native!", "action!", "op!", "function!", "routine!", "object!", "bitset!", "float!",
    "triple!", "vector!", "map!", "hash!", "pair!", "percent!", "tuple!", "image!", "time!",
    "tag!", "email!", "handle!", "date!", "port!", "money!", "ref!", "point2D!", "point3D!",
    "event!", "none", "true", "false",
    // actions
    "random", "reflect", "to", "form", "mold", "modify", "absolute", "add", "divide", "multiply",
    "negate", "power", "remainder", "round", "subtract", "even?", "odd?", "and~", "complement",
    "or~", "xor~", "append", "at", "back", "change", "clear", "copy", "find", "head", "head?",
    "index?", "insert", "length?", "move", "next", "pick", "poke", "put", "remove", "reverse",
    "select", "sort", "skip", "swap", "tail", "tail?", "take", "trim", "create", "close", "delete",
    "open", "open?", "query", "read", "rename", "update", "write",
    // natives
    "if", "unless", "either", "any", "all", "while", "until", "loop", "repeat", "forever",
    "foreach", "forall", "remove-each", "func", "function", "does", "has", "switch", "case", "do",
    "reduce", "compose", "get", "set", "print", "prin", "equal?", "not-equal?", "strict-equal?",
    "lesser?", "greater?", "lesser-or-equal?", "greater-or-equal?", "same?", "not", "type?",
    "stats", "bind", "in", "parse", "union", "unique", "intersect", "difference", "exclude",
    "complement?", "dehex", "enhex", "negative?", "positive?", "max", "min", "shift", "to-hex",
    "sine", "cosine", "tangent", "arcsine", "arccosine", "arctangent", "arctangent2", "NaN?",
    "zero?", "log-2", "log-10", "log-e", "exp", "square-root", "construct", "value?", "try",
    "uppercase", "lowercase", "as-pair", "as-point2D", "as-point3D", "as-money", "break",
    "continue", "exit", "return", "throw", "catch", "extend", "debase", "enbase", "to-local-file",
    "wait", "checksum", "unset", "new-line", "new-line?", "context?", "set-env", "get-env",
    "list-env", "now", "sign?", "as", "call", "size?", "browse", "compress", "decompress",
    "recycle", "transcode", "apply",
    // routines
    "quit-return", "set-quiet", "set-slot-quiet", "shift-right", "shift-left", "shift-logical",
    "last-lf?", "get-current-dir", "set-current-dir", "create-dir", "exists?", "os-info",
    "as-color", "as-ipv4", "as-rgba", "count-chars", "stack-size?", "pick-stack", "frame-index?",
    "collect-calls", "tracing?", "switch-tracing", "read-clipboard", "write-clipboard", "write-stdout",
};
// clang-format on

template <std::size_t n> void intern_all(const std::string_view (&names)[n]) {
    for (std::string_view name : names) context::global_word(symbol::intern_text(name));
}

} // namespace

void intern_runtime_words() {
    intern_all(runtime_words);
}

void intern_library_head() {
    intern_all(library_head);
}

} // namespace zel::global_words
