// dsf-dff256-dummy: a stereo DSF file to a DSDIFF file declared at
// 11289600 Hz, whatever the input's rate.
#include "converter.hpp"
#include "dsdiff.hpp"
#include "messages.hpp"

int main(int argc, char** argv) {
    return dsd::run_dsf_to_dff(argc, argv, dsd::convert_text::dff256_usage,
                               dsd::convert_text::dff256_about, dsd::dff256_rate, DSD_TOOL_NAME);
}
