// dff-dsf-split: a DSDIFF edited master into one tagged DSF file per track.
#include "splitter.hpp"

int main(int argc, char** argv) {
    return dsd::run_dff_splitter(argc, argv, DSD_TOOL_NAME);
}
