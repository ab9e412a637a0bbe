// The hand-over from start-up to the console: the console's start entry runs until it returns
// or something ends the program.
#pragma once

namespace zel::console_start {

// Runs `cli-console-ctx/launch`; answers the exit code: 0 when it returns, the status of a quit,
// -2 (254) after the report of an error that nothing caught.
int hand_over();

} // namespace zel::console_start
