// Running other programs. Every descriptor the program opens for a child is close-on-exec and
// kept above the standard three, so the only descriptors a child inherits are the ones dup2'd
// onto its 0, 1 and 2.
#include "runtime/platform/child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>

extern char** environ;

namespace zel::process {

namespace {

// Moves a descriptor above 2: dup2 onto a standard stream would not clear close-on-exec when the
// descriptor already is that stream.
int above_standard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

int open_cloexec(const char* name, int flags) {
    int fd;
    do fd = ::open(name, flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return above_standard(fd);
}

// Closes what it holds when the run ends, however it ends.
struct descriptors {
    std::vector<int> held;
    int keep(int fd) {
        if (fd >= 0) held.push_back(fd);
        return fd;
    }
    void close(int& fd) {
        if (fd < 0) return;
        for (int& h : held)
            if (h == fd) h = -1;
        ::close(fd);
        fd = -1;
    }
    ~descriptors() {
        for (int fd : held)
            if (fd >= 0) ::close(fd);
    }
};

bool make_pipe(descriptors& d, int& read_end, int& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) < 0) return false;
    read_end = d.keep(above_standard(fds[0]));
    write_end = d.keep(above_standard(fds[1]));
    return read_end >= 0 && write_end >= 0;
}

void* reap(void* arg) {
    pid_t pid = static_cast<pid_t>(reinterpret_cast<std::intptr_t>(arg));
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return nullptr;
}

// A child not waited for is waited for by a small detached thread, so it never stays a zombie.
// The thread takes no signals: they stay with the interpreter's thread.
void reap_later(pid_t pid) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, 64 * 1024);
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    pthread_t thread;
    int failed = pthread_create(&thread, &attr, reap,
                                reinterpret_cast<void*>(static_cast<std::intptr_t>(pid)));
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    pthread_attr_destroy(&attr);
    // Without a thread the next sweep takes it.
    static std::vector<pid_t> pending;
    if (failed) pending.push_back(pid);
    std::erase_if(pending, [](pid_t p) {
        int status;
        return ::waitpid(p, &status, WNOHANG) != 0;
    });
}

int exit_code(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

using clock = std::chrono::steady_clock;

int remaining_ms(bool limited, clock::time_point deadline) {
    if (!limited) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Feeds the input and drains both outputs until every pipe is closed or the time is up.
bool exchange(int& in, int& out, int& err, descriptors& d, const std::string& input,
              std::string& output, std::string& error, bool limited, clock::time_point deadline) {
    std::size_t sent = 0;
    if (in >= 0 && input.empty()) d.close(in);
    if (in >= 0) ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) | O_NONBLOCK);
    char chunk[65536];
    while (in >= 0 || out >= 0 || err >= 0) {
        pollfd fds[3];
        int n = 0;
        if (in >= 0) fds[n++] = {in, POLLOUT, 0};
        if (out >= 0) fds[n++] = {out, POLLIN, 0};
        if (err >= 0) fds[n++] = {err, POLLIN, 0};
        int ready = ::poll(fds, static_cast<nfds_t>(n), remaining_ms(limited, deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return true;
        }
        if (ready == 0) return false;
        for (int i = 0; i < n; i++) {
            if (!fds[i].revents) continue;
            int fd = fds[i].fd;
            if (fd == in) {
                std::size_t rest = input.size() - sent;
                ssize_t k =
                    ::write(in, input.data() + sent, rest < sizeof chunk ? rest : sizeof chunk);
                if (k > 0) sent += static_cast<std::size_t>(k);
                // A child that closed its input (EPIPE) has taken all it wants.
                if (sent == input.size() || (k < 0 && errno != EAGAIN && errno != EINTR))
                    d.close(in);
            } else {
                ssize_t k = ::read(fd, chunk, sizeof chunk);
                if (k > 0)
                    (fd == out ? output : error).append(chunk, static_cast<std::size_t>(k));
                else if (k == 0 || (errno != EAGAIN && errno != EINTR))
                    d.close(fd == out ? out : err);
            }
        }
    }
    return true;
}

// Waits for the child within the time left; false when the time ran out.
bool wait_for(pid_t pid, int& status, bool limited, clock::time_point deadline) {
    for (;;) {
        pid_t done = ::waitpid(pid, &status, limited ? WNOHANG : 0);
        if (done == pid) return true;
        if (done < 0 && errno != EINTR) {
            status = -1;
            return true;
        }
        if (limited) {
            if (clock::now() >= deadline) return false;
            ::usleep(2000);
        }
    }
}

std::vector<char*> argv_pointers(const std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    for (const std::string& a : argv) pointers.push_back(const_cast<char*>(a.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// posix_spawnp with the streams set; answers the errno of a failed start (0 when started).
int spawn(pid_t& pid, const std::vector<std::string>& argv, const int child_fds[3]) {
    if (argv.empty() || argv[0].empty()) return ENOENT;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int i = 0; i < 3; i++)
        if (child_fds[i] >= 0) posix_spawn_file_actions_adddup2(&actions, child_fds[i], i);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The child starts with every signal at its default (this program ignores SIGPIPE) and none
    // blocked.
    sigset_t defaults, empty;
    sigfillset(&defaults);
    sigdelset(&defaults, SIGKILL);
    sigdelset(&defaults, SIGSTOP);
    sigemptyset(&empty);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> pointers = argv_pointers(argv);
    int failed = ::posix_spawnp(&pid, pointers[0], &actions, &attr, pointers.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return failed;
}

} // namespace

outcome run(const request& r) {
    outcome result;
    descriptors d;
    int child[3] = {-1, -1, -1};
    int in = -1, out = -1, err = -1;

    switch (r.input) {
    case stream::inherit:
        break;
    case stream::null:
        child[0] = d.keep(open_cloexec("/dev/null", O_RDONLY));
        break;
    case stream::file:
        child[0] = d.keep(open_cloexec(r.input_bytes.c_str(), O_RDONLY));
        if (child[0] < 0) return result;
        break;
    case stream::memory:
        if (!make_pipe(d, child[0], in)) return result;
        break;
    }
    auto sink = [&](stream kind, const std::string& name, int& parent_end, int& child_end) {
        switch (kind) {
        case stream::inherit:
            return true;
        case stream::memory:
            return make_pipe(d, parent_end, child_end);
        case stream::file:
            child_end = d.keep(open_cloexec(name.c_str(), O_WRONLY | O_CREAT | O_APPEND));
            if (child_end >= 0) return true;
            // A target that cannot be opened leaves the stream with nowhere to go.
            [[fallthrough]];
        case stream::null:
            child_end = d.keep(open_cloexec("/dev/null", O_WRONLY));
            return child_end >= 0;
        }
        return false;
    };
    if (!sink(r.output, r.output_file, out, child[1]) ||
        !sink(r.error, r.error_file, err, child[2]))
        return result;

    pid_t pid = 0;
    int failed = spawn(pid, r.argv, child);
    if (failed == ENOENT && r.shell_retry)
        failed = spawn(pid, {"/bin/sh", "-c", r.shell_text}, child);
    if (failed) return result;
    result.started = true;
    for (int& fd : child) d.close(fd);

    bool redirected = r.input == stream::memory || r.input == stream::file ||
                      r.output == stream::memory || r.output == stream::file ||
                      r.error == stream::memory || r.error == stream::file;
    if (!r.wait && !redirected) {
        reap_later(pid);
        result.status = static_cast<int>(pid);
        return result;
    }
    bool limited = r.timeout_ms >= 0;
    clock::time_point deadline =
        clock::now() + std::chrono::milliseconds(limited ? r.timeout_ms : 0);
    int status = 0;
    if (!exchange(in, out, err, d, r.input_bytes, result.output, result.error, limited, deadline) ||
        !wait_for(pid, status, limited, deadline)) {
        ::kill(pid, SIGKILL);
        wait_for(pid, status, false, deadline);
        result.timed_out = true;
    }
    result.status = status < 0 ? -1 : exit_code(status);
    return result;
}

std::vector<std::string> split_command(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    std::size_t i = 0, n = text.size();
    while (i < n) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
            i++;
            continue;
        }
        in_word = true;
        if (c == '\'') {
            std::size_t close = text.find('\'', i + 1);
            if (close == std::string_view::npos) close = n;
            word.append(text.substr(i + 1, close - i - 1));
            i = close + 1;
        } else if (c == '"') {
            i++;
            while (i < n && text[i] != '"') {
                if (text[i] == '\\' && i + 1 < n &&
                    (text[i + 1] == '"' || text[i + 1] == '\\' || text[i + 1] == '$' ||
                     text[i + 1] == '`'))
                    i++;
                word += text[i++];
            }
            i++;
        } else if (c == '\\' && i + 1 < n) {
            word += text[i + 1];
            i += 2;
        } else {
            word += c;
            i++;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

bool start_detached(const std::vector<std::string>& argv) {
    request r;
    r.argv = argv;
    r.input = r.output = r.error = stream::null;
    r.wait = false;
    return run(r).started;
}

bool on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        std::size_t colon = rest.find(':');
        std::string dir(rest.substr(0, colon));
        std::string full = (dir.empty() ? std::string(".") : dir) + "/" + name;
        struct stat st;
        if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(full.c_str(), X_OK) == 0)
            return true;
        if (colon == std::string_view::npos) return false;
        rest.remove_prefix(colon + 1);
    }
}

} // namespace zel::process
