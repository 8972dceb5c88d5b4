#include "fenwix/core/BoardFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fenwix
{

namespace
{

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "<path>.<pid>.": the start of every temporary copy this process makes.
std::string temporaryPrefix(const std::string& path, pid_t pid)
{
    return path + "." + std::to_string(pid) + ".";
}

std::string failed(const char* what, int err)
{
    return std::string(what) + ": " + std::strerror(err);
}

} // namespace

std::string replaceProblem(const std::string& path)
{
    struct stat st {
    };
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
        return "not a regular file; it is left as it is";
    return {};
}

std::string replaceFile(const std::string& path, std::string_view contents)
{
    std::string temp = temporaryPrefix(path, ::getpid()) + "XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    auto fail = [&](const char* what, int err) {
        ::unlink(temp.c_str());
        return failed(what, err);
    };
    ::fchmod(fd, 0644); // readable by the viewer of another session, as before
    std::size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            return fail("write", err);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0)
        return fail("close", errno);
    if (::rename(temp.c_str(), path.c_str()) != 0)
        return fail("rename", errno);
    return {};
}

void removeDeadTemporaries(const std::string& path)
{
    const std::string folder = folderOf(path);
    const std::string prefix = nameOf(path) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        // <name>.<pid>.<anything>
        const std::size_t digits = name.find_first_not_of("0123456789", prefix.size());
        if (digits == prefix.size() || digits == std::string::npos || name[digits] != '.' ||
            digits + 1 == name.size())
            continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        const std::string full = folder + "/" + name;
        struct stat st {
        };
        if (pid <= 0 || ::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::getuid())
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            ::unlink(full.c_str());
    }
    ::closedir(dir);
}

} // namespace fenwix
