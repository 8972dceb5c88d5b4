// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>

// The file handling that the board file, the viewer and kept schedules share:
// files replaced whole, locks that name their holder, and reads that neither
// wait on a FIFO nor take in more than they can use.
namespace fenwix
{

// The folder path is in ("." for a bare name).
std::string folderOf(const std::string& path);

// Empty when path may be replaced: nothing is there, or a regular file or a
// link (the link itself is replaced); a device, FIFO or folder is left alone.
std::string replaceProblem(const std::string& path);

// Replaces the file at path atomically with mode: a temporary copy in the
// same folder, created exclusively under an unguessable name, renamed over
// it. The caller asks replaceProblem first. Returns empty or what went wrong.
std::string replaceFile(const std::string& path, std::string_view contents, mode_t mode);

// Removes the temporary copies that writers of path killed mid-replace left
// behind: this user's own regular files, of processes that no longer run.
void removeDeadTemporaries(const std::string& path);

// An exclusive advisory lock at lockPath (a regular file, never through a
// link) holding the holder's pid. fd: the open lock, or -1 with the problem,
// and the pid of the process that holds it when another does.
struct HeldLock {
    int fd;
    std::string problem;
    std::string holder;
};
HeldLock holdLock(const std::string& lockPath, mode_t mode);

// A regular file's bytes, read without waiting (a FIFO or device there is
// refused, not read) and only when it holds at most limit bytes. problem:
// empty, or why nothing was read (errno's text, "not a regular file",
// "larger than N bytes").
struct ReadFile {
    std::string bytes;
    std::string problem;
};
enum class Links { Follow, Refuse };
ReadFile readRegular(const std::string& path, std::size_t limit, Links links);

} // namespace fenwix
