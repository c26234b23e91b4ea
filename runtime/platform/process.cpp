// Child processes through posix_spawn, with one poll loop serving every pipe.
#include "runtime/platform/process.h"
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <new>
#include <utility>

extern char** environ;

namespace kem::platform {

namespace {

// Children started without waiting that have not been reaped yet.
std::vector<pid_t> unreaped;

class Fd {
public:
    Fd() = default;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Our descriptors never take the number of a standard stream: the child's
// streams are set up by dup2 onto 0, 1 and 2, which must not overwrite one
// still to be copied (as when the caller runs with a standard stream closed).
int above_standard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

void open_into(Fd& fd, const char* path, int flags, mode_t mode = 0) {
    int got;
    do got = open(path, flags | O_CLOEXEC, mode);
    while (got < 0 && errno == EINTR);
    fd.reset(above_standard(got));
}

// The child's end of one standard stream (none: inherited) and, for a pipe,
// ours. False when it cannot be had.
bool plumb(ChildStream& s, bool input, Fd& child, Fd& ours) {
    using Kind = ChildStream::Kind;
    switch (s.kind) {
    case Kind::inherit:
        return true;
    case Kind::null_device:
        open_into(child, "/dev/null", O_RDWR);
        return bool(child);
    case Kind::file: {
        if (s.path.find('\0') != std::string::npos) return false;
        if (input) {
            open_into(child, s.path.c_str(), O_RDONLY);
            struct stat st;
            // A folder opens for reading but gives the child nothing to read.
            return child && fstat(child.get(), &st) == 0 && !S_ISDIR(st.st_mode);
        }
        open_into(child, s.path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
        return bool(child);
    }
    case Kind::pipe: {
        if (!input) s.data.clear();
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0) return false;
        child.reset(above_standard(input ? p[0] : p[1]));
        ours.reset(above_standard(input ? p[1] : p[0]));
        if (!child || !ours) return false;
        // Never blocks: the loop writes what fits and reads what is there.
        return fcntl(ours.get(), F_SETFL, fcntl(ours.get(), F_GETFL) | O_NONBLOCK) == 0;
    }
    }
    return false;
}

// Starts argv with the standard streams given (-1: inherited). Without a
// path, argv[0] is searched for in PATH. Returns 0 or the errno of the failure.
int spawn(pid_t* pid, const std::vector<std::string>& argv, const char* path, const int child_fds[3]) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return ENOMEM;
    }
    int rc = 0;
    for (int i = 0; i < 3 && rc == 0; i++)
        if (child_fds[i] >= 0) rc = posix_spawn_file_actions_adddup2(&actions, child_fds[i], i);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Ours are close-on-exec already; a library's descriptor may not be, and
    // a pipe or socket held open by the child would never see its end.
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    // The interpreter ignores SIGPIPE and handles others: the child starts
    // with every signal at its default and none blocked.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    if (rc == 0) rc = posix_spawnattr_setsigmask(&attr, &none);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr, &all);
    if (rc == 0) rc = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (rc == 0) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        rc = path ? posix_spawn(pid, path, &actions, &attr, args.data(), environ)
                  : posix_spawnp(pid, args[0], &actions, &attr, args.data(), environ);
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

// A write to a pipe whose reader has gone raises SIGPIPE, which ends a process
// that does not ignore it. While the input is written the signal is blocked,
// and one that the writes raised is taken back before the mask is restored.
class SigpipeBlocked {
public:
    SigpipeBlocked() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeBlocked() {
        sigset_t pending;
        sigpending(&pending);
        if (!was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{};
            sigtimedwait(&set_, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

private:
    sigset_t set_, old_;
    bool was_pending_ = false;
};

// Sends the input and collects output and error until the child has closed
// every pipe, serving whichever is ready. A pipe that fails is given up,
// keeping what it had received.
void serve_pipes(Fd ours[3], ChildStream* streams[3]) {
    size_t sent = 0;
    if (ours[0] && streams[0]->data.empty()) ours[0].reset();
    std::vector<uint8_t> chunk(size_t(1) << 16);
    for (;;) {
        pollfd fds[3];
        int which[3];
        nfds_t n = 0;
        for (int i = 0; i < 3; i++) {
            if (!ours[i]) continue;
            fds[n] = {ours[i].get(), short(i == 0 ? POLLOUT : POLLIN), 0};
            which[n++] = i;
        }
        if (n == 0) return;
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (nfds_t k = 0; k < n; k++) {
            if (fds[k].revents == 0) continue;
            const int i = which[k];
            std::vector<uint8_t>& data = streams[i]->data;
            if (i == 0) {
                const ssize_t w = write(fds[k].fd, data.data() + sent, data.size() - sent);
                if (w > 0) sent += size_t(w);
                else if (w < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                // Written in full, or the child closed its input (EPIPE).
                if (w <= 0 || sent == data.size()) ours[0].reset();
            } else {
                const ssize_t r = read(fds[k].fd, chunk.data(), chunk.size());
                if (r > 0) {
                    try {
                        data.insert(data.end(), chunk.data(), chunk.data() + r);
                    } catch (const std::bad_alloc&) {
                        streams[i]->out_of_memory = true;
                        ours[i].reset();
                    }
                } else if (r < 0 && (errno == EAGAIN || errno == EINTR)) {
                    continue;
                } else {
                    ours[i].reset();
                }
            }
        }
    }
}

int exit_status(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

std::optional<std::vector<std::string>> split_command_line(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    for (size_t i = 0; i < line.size(); i++) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
            continue;
        }
        in_word = true;
        if (c == '\\') {
            if (i + 1 == line.size()) word += c;
            else if (line[++i] != '\n') word += line[i];
        } else if (c == '\'') {
            const size_t end = line.find('\'', i + 1);
            if (end == std::string_view::npos) return std::nullopt;
            word.append(line.substr(i + 1, end - i - 1));
            i = end;
        } else if (c == '"') {
            for (i++;; i++) {
                if (i == line.size()) return std::nullopt;
                const char d = line[i];
                if (d == '"') break;
                if (d == '\\' && i + 1 < line.size()) {
                    const char e = line[i + 1];
                    if (e == '$' || e == '`' || e == '"' || e == '\\' || e == '\n') {
                        i++;
                        if (e != '\n') word += e;
                        continue;
                    }
                }
                word += d;
            }
        } else {
            word += c;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

std::string quote_word(std::string_view word) {
    std::string out = "'";
    for (const char c : word) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

int run_command(std::string_view command, bool shell, bool wait, ChildStream& input, ChildStream& output,
                ChildStream& error) {
    reap_children();
    if (command.find('\0') != std::string_view::npos) return -1;
    ChildStream* streams[3] = {&input, &output, &error};
    Fd child[3], ours[3];
    for (int i = 0; i < 3; i++)
        if (!plumb(*streams[i], i == 0, child[i], ours[i])) return -1;
    const int child_fds[3] = {child[0].get(), child[1].get(), child[2].get()};

    pid_t pid = 0;
    int rc = ENOENT;
    if (!shell) {
        const std::optional<std::vector<std::string>> words = split_command_line(command);
        if (words && !words->empty()) rc = spawn(&pid, *words, nullptr, child_fds);
    }
    if (rc == ENOENT || rc == ENOEXEC) rc = spawn(&pid, {"sh", "-c", std::string(command)}, "/bin/sh", child_fds);
    if (rc != 0) return -1;
    for (Fd& fd : child) fd.reset();

    {
        std::optional<SigpipeBlocked> quiet;
        if (ours[0]) quiet.emplace();
        serve_pipes(ours, streams);
    }
    if (wait) return exit_status(pid);
    unreaped.push_back(pid);
    return int(pid);
}

int start_program(const std::vector<std::string>& argv) {
    reap_children();
    if (argv.empty()) return ENOENT;
    for (const std::string& a : argv)
        if (a.find('\0') != std::string::npos) return EINVAL;
    const int inherited[3] = {-1, -1, -1};
    pid_t pid = 0;
    const int rc = spawn(&pid, argv, nullptr, inherited);
    if (rc == 0) unreaped.push_back(pid);
    return rc;
}

size_t reap_children() {
    std::erase_if(unreaped, [](pid_t pid) {
        int r;
        do r = waitpid(pid, nullptr, WNOHANG);
        while (r < 0 && errno == EINTR);
        return r != 0;  // reaped, or no longer ours to reap
    });
    return unreaped.size();
}

} // namespace kem::platform
