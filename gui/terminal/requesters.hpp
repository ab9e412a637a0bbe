// The platform's file and folder requesters: windows of faces made by the TUI helpers' scripts,
// which get every argument the caller gave, so a title or a filter is not lost on the way.
#pragma once

namespace zel::requesters {

void request_file();
void request_dir();

} // namespace zel::requesters
