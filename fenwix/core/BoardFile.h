#pragma once

#include "fenwix/fenwix_board.h"

#include <string>
#include <string_view>

namespace fenwix
{

// Empty when path may be replaced: nothing is there, or a regular file or a
// link (the link itself is replaced); a device, FIFO or folder is left alone.
std::string replaceProblem(const std::string& path);

// Replaces the file at path atomically: a temporary copy in the same folder,
// created exclusively under an unguessable name, renamed over it. The caller
// asks replaceProblem first. Returns empty or what went wrong.
std::string replaceFile(const std::string& path, std::string_view contents);

// Removes the temporary copies that writers of path killed mid-replace left
// behind: this user's own regular files, of processes that no longer run.
void removeDeadTemporaries(const std::string& path);

} // namespace fenwix
