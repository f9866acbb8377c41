// The standard streams as several conversions running at once share them:
// each text is written whole, and the status line a progress display keeps
// at the foot of standard error is erased before anything else is written
// (it is drawn again at its next update).
#pragma once

#include <mutex>
#include <string_view>

namespace dsd {

class Console {
  public:
    // Writes `out` on standard output, then `err` on standard error, each
    // whole and flushed, with nothing of anyone else's between them.
    // Returns 0, or the errno of a failed write of `out` (standard output
    // closed, full); what standard error refuses cannot be reported.
    int write(std::string_view out, std::string_view err = {});
    int write_err(std::string_view err) { return write({}, err); }

    // Replaces the status line with `line` (one line, no newline).
    void show_status(std::string_view line);
    void hide_status();

  private:
    void hide_locked();

    std::mutex mutex_;
    bool status_shown_ = false;
};

}  // namespace dsd
