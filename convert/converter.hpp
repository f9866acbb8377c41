// The command-line driver both converters share.
#pragma once

#include <cstdint>

namespace dsd {

struct ConverterVariant {
    const char* usage;         // printf text with the program name as %s
    std::uint32_t fixed_rate;  // 0: declare the input's own rate
};

// Runs one conversion for the given command line; returns the exit status.
int run_converter(int argc, char** argv, const ConverterVariant& variant);

}  // namespace dsd
