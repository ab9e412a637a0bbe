// Lexer callbacks written in the language: `transcode/trace` with a function! or routine!.
#pragma once

namespace zel::lexer_callback {

// Makes `transcode` accept function values as its /trace callback.
void install();

} // namespace zel::lexer_callback
