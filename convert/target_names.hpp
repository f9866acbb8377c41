// Where the outputs go under -t DIR, and the directories --parents makes
// below DIR for them.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "staged_output.hpp"

namespace dsd {

struct TargetName {
    std::string output;
    // With --parents: DIR/a, DIR/a/b, ... down to the output's directory.
    std::vector<std::string> directories;
};

// DIR/BASE with the output's extension, BASE being the input's name after
// its last '/', up to and including its last '.' (a/b/take1.DSF gives
// DIR/take1.dff); with `parents` the input's directories come between, less
// "." components and doubled slashes. Nothing for a name without a '.', nor,
// with `parents`, for an absolute name or one with a ".." component.
std::optional<TargetName> target_name(std::string_view dir, std::string_view input,
                                      std::string_view extension, bool parents);

// The directories one run makes, shared by the conversions it runs at once:
// a conversion that fails removes those it made that no other uses (if they
// are still empty), so a failed input leaves nothing behind; a signal that
// ends the run removes those of the conversions under way likewise.
class TargetDirectories {
  public:
    class Lease {
      public:
        Lease() = default;
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&& other) noexcept;
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease();
        // The output is in place: the directories stay.
        void keep() { kept_ = true; }

      private:
        friend class TargetDirectories;
        void release();
        TargetDirectories* owner_ = nullptr;
        std::vector<std::string> used_;  // made by this run, top down
        bool kept_ = false;
    };

    struct Made {
        Lease lease;
        std::string failed;  // the directory that could not be made, if any
        int error = 0;
    };
    // Makes those of `directories` (top down) that are missing.
    Made make(const std::vector<std::string>& directories);

  private:
    void release(const std::vector<std::string>& used, bool remove);

    struct Use {
        unsigned conversions = 0;
        std::unique_ptr<MadeDirectory> made;  // removed by a signal until the last is done
    };
    std::mutex mutex_;
    std::map<std::string, Use> users_;  // made by this run
};

}  // namespace dsd
