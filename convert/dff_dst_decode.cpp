// dff-dst-decode: a DST-compressed DSDIFF file to the uncompressed DSDIFF
// file of the same sound, every other chunk kept.
#include "converter.hpp"

int main(int argc, char** argv) {
    return dsd::run_dst_decode(argc, argv, DSD_TOOL_NAME);
}
