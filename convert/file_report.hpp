// What the conversion of one input says, in the order it says it. A single
// run prints each text at once, on the stream it has always gone to; in a
// batch (-t) the texts are kept and printed together once the input is done,
// so that no other file's lines come between them.
#pragma once

#include <concepts>
#include <string>
#include <string_view>

#include "console.hpp"

namespace dsd {

enum class Stream { out, err };

class FileReport {
  public:
    enum class Mode { single, batch };
    FileReport(Console& console, std::string name, Mode mode, bool quiet);

    // The input's name, as given.
    const std::string& name() const { return name_; }

    // The header lines of the input or output, one block: standard output,
    // unless quiet. A single run reports once on standard error when they
    // could not be written.
    void header(std::string_view lines);
    // A message with at most one "%s": usage and name errors to standard
    // output, file errors and warnings to standard error. In a batch all of
    // them go to standard error after "NAME: ".
    void message(Stream stream, std::string_view text, std::string_view value = {});
    template <std::integral Number>
    void message(Stream stream, std::string_view text, Number value) {
        message(stream, text, std::string_view(std::to_string(value)));
    }
    // A line on standard error that names the input in every run.
    void about_input(std::string_view text, std::string_view value);

    // Batch: prints what the input said: for a converted one, unless quiet,
    // a line "NAME:" and its header lines on standard output; every message
    // on standard error. Returns 0, or the errno of a failed write of
    // standard output.
    int print(bool converted);

  private:
    std::string named(std::string_view text, std::string_view value) const;

    Console& console_;
    std::string name_;
    Mode mode_;
    bool quiet_;
    std::string header_;    // kept in a batch
    std::string messages_;  // kept in a batch
};

}  // namespace dsd
