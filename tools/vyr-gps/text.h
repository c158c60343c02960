// The plain-text form of the fixes: one line per fix under a header, in the
// units a person reads (decimal degrees and degrees/minutes/seconds, km/h).
#pragma once

#include <string>

#include "fix.h"

namespace vyr::tool {

// "48°07'02\"N" through the library's convert_ddd_dms; positive is N/E.
[[nodiscard]] std::string formatDms(double decimalDegrees, char positive, char negative);

[[nodiscard]] std::string textHeader();
// sky: the same epoch's sky view, if it had one (the satellites in view).
[[nodiscard]] std::string textLine(const Fix& fix, const Sky* sky);

}  // namespace vyr::tool
