// A batch (-t): every name an input, each output in the target directory,
// up to -j conversions at once, each input's texts printed together.
#pragma once

#include "command_line.hpp"
#include "conversion.hpp"

namespace dsd {

// Returns the exit status: 0 when every input was converted or skipped.
int run_batch(const Direction& direction, const MakeConversion& make,
              const ConverterCommand& command, const char* program);

}  // namespace dsd
