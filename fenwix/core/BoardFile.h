#pragma once

#include "fenwix/fenwix_board.h"

#include <string>
#include <string_view>

namespace fenwix
{

// Replaces the file atomically: a temporary copy in the same folder, renamed
// over it. Returns 0 or an errno value.
int replaceFile(const std::string& path, std::string_view contents);

} // namespace fenwix
