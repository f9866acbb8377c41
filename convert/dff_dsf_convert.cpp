// dff-dsf-convert: an uncompressed DSDIFF file of 1 to 6 channels to a
// one-bit DSF file, its ID3v2 tag kept.
#include "converter.hpp"

int main(int argc, char** argv) {
    return dsd::run_dff_to_dsf(argc, argv, DSD_TOOL_NAME);
}
