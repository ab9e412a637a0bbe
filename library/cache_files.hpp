// The file work of the remote-file cache that the library's functions hand to the runtime: a
// cache file is replaced whole or not at all, and cached bytes become text exactly as a read of
// the URL makes it.
#pragma once
#include <string>
#include <string_view>

namespace zel::cache_files {

// Writes the bytes to a new file beside the target, then renames it over the target: a reader
// finds the old file, no file, or the whole new one, never a part. False (and no file left
// behind) when any step fails.
bool replace_file(const std::string& os_name, std::string_view bytes);

// Private routines: `_replace-file path [file!] data [binary!]` answers logic!;
// `_text-of-bytes data [binary!]` answers the string! that reading those bytes gives.
void replace_file_routine();
void text_of_bytes_routine();

} // namespace zel::cache_files
