// wav-rate-set: declares WAV files at 44100 Hz.
#include "messages.hpp"
#include "rate_driver.hpp"
#include "rewrite.hpp"

namespace {

dsd::rate::FieldChange set_rate(int fd) {
    return dsd::rate::wav_rate_change(fd);
}

}  // namespace

int main(int argc, char* argv[]) {
    const dsd::rate::RateTool tool{"wav",    "WAV",         dsd::rate::text::extension_not_wav,
                                   set_rate, DSD_TOOL_NAME, dsd::rate::text::wav_about};
    return dsd::rate::run_rate_tool(tool, argc, argv);
}
