// The steps of one input's conversion, the same in a single run and in a
// batch.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion.hpp"
#include "target_names.hpp"

namespace dsd {

struct FileJob {
    std::string input;
    std::string output;
    std::vector<std::string> directories;  // --parents: made before the output
};

enum class Outcome { converted, skipped, failed };

struct FileSettings {
    bool no_clobber = false;
    TargetDirectories* directories = nullptr;  // with --parents
};

// Opens and checks the input, creates the staged output, has it written and
// gives it its name; everything said goes to `report`.
Outcome convert_file(const FileJob& job, Conversion& conversion, FileReport& report,
                     ProgressCounter& progress, const FileSettings& settings);

// The message a name of `kind` is refused with, before anything is opened:
// the wrong-filename one or the kind's wrong-extension one.
std::optional<std::string_view> name_refusal(std::string_view name, const FileKind& kind);

// What the process needs before the first file is opened, done once.
void prepare_process();

}  // namespace dsd
