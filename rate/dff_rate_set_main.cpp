// dff-rate-set-64, -128 and -256: one source, built once per target rate.
#include <cstdint>
#include <string>

#include "message_format.hpp"
#include "messages.hpp"
#include "rate_driver.hpp"
#include "rewrite.hpp"

#ifndef TARGET_RATE
#error "TARGET_RATE must be defined by the build"
#endif

namespace {

constexpr std::uint32_t target_rate = TARGET_RATE;

dsd::rate::FieldChange set_rate(int fd) {
    return dsd::rate::dff_rate_change(fd, target_rate);
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string rate =
        std::to_string(target_rate) + " Hz (DSD" + std::to_string(target_rate / 44100) + ")";
    const std::string about = dsd::format_message(dsd::rate::text::dff_about, rate);
    const dsd::rate::RateTool tool{"dff",    "DFF",         dsd::rate::text::extension_not_dff,
                                   set_rate, DSD_TOOL_NAME, about};
    return dsd::rate::run_rate_tool(tool, argc, argv);
}
