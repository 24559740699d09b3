#pragma once

// Runs a piece of a test as a user without privileges, where file permissions hold: as the test's
// own user, or, when the test runs as root (which ignores them), in a child process that has
// dropped to "nobody". The piece reports failures as texts; the test turns them into failures.
#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

using Failures = std::vector<std::string>;

/// The failures `body` reported; nullopt when running as root and the privileges could not be
/// dropped (the caller skips then).
inline std::optional<Failures> RunUnprivileged(const std::function<void(Failures&)>& body)
{
    Failures failures;
    if (::geteuid() != 0) {
        body(failures);
        return failures;
    }
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr)
        return std::nullopt;
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0)
        return std::nullopt;
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(77);
        body(failures);
        for (const std::string& failure : failures) {
            const std::string line = failure + '\n';
            if (::write(pipeFds[1], line.data(), line.size()) < 0)
                break;
        }
        ::_exit(0); // no exit handlers: they belong to the parent
    }
    ::close(pipeFds[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0)
            report.append(buffer, static_cast<size_t>(n));
        else if (errno != EINTR)
            break;
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        return std::nullopt;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        failures.push_back("the unprivileged child ended abnormally");
    for (size_t start = 0; start < report.size();) {
        const size_t nl = report.find('\n', start);
        failures.push_back(report.substr(start, nl - start));
        start = nl == std::string::npos ? report.size() : nl + 1;
    }
    return failures;
}
