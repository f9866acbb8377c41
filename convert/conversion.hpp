// The command-line driver the converters share, and what it asks of each
// direction of conversion: the names, the options, single runs and batches,
// the staged output and the progress line are the driver's; what is read,
// checked, printed and written is the conversion's.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "file_report.hpp"
#include "progress.hpp"
#include "write_result.hpp"

namespace dsd {

// One conversion of one input. A batch makes one for each input, and runs
// several at once with -j: nothing in it may be shared with another.
class Conversion {
  public:
    virtual ~Conversion() = default;
    // Reads and checks the input before the output exists, saying what this
    // direction says; false when the input is refused (already reported).
    virtual bool check(int in, FileReport& report) = 0;
    // Adds to `progress` the input bytes it has got through, now and then.
    virtual WriteResult write(int in, int out, ProgressCounter& progress) = 0;
    // Once the output has its name.
    virtual void finish(const std::string& /*input*/, FileReport& /*report*/) {}
};

using MakeConversion = std::function<std::unique_ptr<Conversion>()>;

// The names a direction takes: the two accepted forms of an extension, the
// message for any other, and the extension the output name gets by default.
struct FileKind {
    std::string_view lower;
    std::string_view upper;
    std::string_view wrong_extension;
};

struct Direction {
    std::string_view usage;  // the program name as its %s
    std::string_view about;  // what --help adds after it
    const char* name;        // the program's name, for --version
    FileKind input;
    FileKind output;
    bool output_optional = true;  // made from the input's name when not given
};

// Runs the command line; returns the exit status.
int run_converter(int argc, char** argv, const Direction& direction, const MakeConversion& make);

}  // namespace dsd
