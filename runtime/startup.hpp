// Start-up: system initialisation in its fixed order, then the hand-over to the console.
#pragma once

namespace zel::startup {

// System initialisation (memory, tables, datatypes, stacks, symbols, library).
void init_runtime();
// The same without the library (the build-time payload tool).
void init_core();

// The whole program after process set-up: initialise, run the console or script, answer the
// exit code. Every non-local exit that nothing caught ends here (the outermost frame).
int run(int argc, char** argv);

} // namespace zel::startup
