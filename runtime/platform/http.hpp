// One synchronous HTTP request through libcurl, for read and write of http URLs. Redirects are
// followed; the headers kept are those of the final response.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "runtime/cell.hpp"

namespace zel::http {

// Sends the request and answers the response on the data stack: the body as string! (UTF-8,
// CR LF as LF), binary! or a block of lines, or with `info` the block [status headers body]
// whose headers are a map! of word keys. Answers null when no response came (refused
// connection, unknown host, time-out). The method is a word: get and head send no body, post
// and any other word (upper-cased) send `data` when given. Without a headers block three
// defaults are sent; with one, its name/value pairs in order and nothing else.
cell* send_request(const cell* url, const cell* method, const cell* data, const cell* headers,
                   bool binary, bool lines, bool info);

// One response header line split at its first colon, both sides trimmed; false for a line
// without a colon.
bool split_header(std::string_view line, std::string& name, std::string& value);

} // namespace zel::http
