// The command-line driver both converters share.
#pragma once

#include <cstdint>
#include <string_view>

namespace dsd {

struct ConverterVariant {
    std::string_view usage;    // the usage text, the program name as its %s
    std::string_view about;    // what --help adds after it
    std::uint32_t fixed_rate;  // 0: declare the input's own rate
    const char* name;          // the program's name, for --version
};

// Runs one conversion for the given command line; returns the exit status.
// A lone "--help" prints the usage text on standard output, a lone
// "--version" the name and version; both then end with status 0.
int run_converter(int argc, char** argv, const ConverterVariant& variant);

}  // namespace dsd
