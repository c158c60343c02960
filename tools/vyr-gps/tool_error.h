// The one error type of the tool: a failure worth a message and a non-zero
// exit, thrown by the commands and caught in main.
#pragma once

#include <stdexcept>

namespace vyr::tool {

struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace vyr::tool
