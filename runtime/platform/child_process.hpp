// Running other programs: posix_spawn with pipes, and one poll loop that writes the input while
// it reads the output and the error output, so that no child blocks on a full pipe while the
// program blocks on another. Children that are not waited for are reaped in the background.
#pragma once
#include <string>
#include <vector>

namespace zel::process {

// What a child's standard stream is connected to.
enum class stream { inherit, null, memory, file };

struct request {
    std::vector<std::string> argv; // argv[0] is looked up on PATH
    // With `shell_retry`, a program that is not found is tried once more as "/bin/sh -c" and
    // `shell_text`.
    bool shell_retry = false;
    std::string shell_text;
    stream input = stream::inherit;
    std::string input_bytes; // memory: the bytes to send; file: the OS name to read
    stream output = stream::inherit;
    std::string output_file; // file: appended to, made when missing
    stream error = stream::inherit;
    std::string error_file;
    bool wait = true;
    // Milliseconds after which a waited-for child is killed; negative: no limit.
    int timeout_ms = -1;
};

struct outcome {
    // The exit code (128 + the signal number for a child ended by a signal), the process id
    // when not waiting, or -1 when the child could not be started.
    int status = -1;
    bool started = false;
    bool timed_out = false;
    std::string output; // collected when the stream was `memory`
    std::string error;
};

outcome run(const request& r);

// Splits a command line into arguments as a shell would split a simple command: blanks separate
// them; single quotes keep everything up to the next one, double quotes keep everything but a
// backslash before `"`, `\`, `$` or a backquote; a backslash outside quotes keeps the next
// character.
std::vector<std::string> split_command(std::string_view text);

// Starts a program with the arguments without waiting and without a shell; its standard streams
// go to /dev/null. Answers false when it cannot be started.
bool start_detached(const std::vector<std::string>& argv);

// Whether a program of that name is found on PATH (an executable regular file).
bool on_path(const std::string& name);

} // namespace zel::process
