// Bringing the library's manager up and down on the device path, with
// failures explained in the device's own terms.
#pragma once

#include <cstdint>
#include <string>

namespace vyr::tool {

[[nodiscard]] std::string hex(uint32_t code);

// Init and Start. ToolError when either fails (nothing is left running).
void startLibrary(const std::string& device);
// Why Init failed, in the device's own terms (missing, not accessible).
[[nodiscard]] std::string initFailure(const std::string& device, uint32_t code);
// Stop and Deinit. ToolError when either fails.
void stopLibrary();

}  // namespace vyr::tool
