// dsf-dff-convert: a stereo DSF file to a DSDIFF file at the same rate.
#include "converter.hpp"
#include "messages.hpp"

int main(int argc, char** argv) {
    return dsd::run_dsf_to_dff(argc, argv, dsd::convert_text::convert_usage,
                               dsd::convert_text::convert_about, 0, DSD_TOOL_NAME);
}
