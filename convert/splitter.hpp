// dff-dsf-split: an edited master (one DSDIFF file of a whole program) into
// one tagged DSF file per track, cut at its markers or at a CUE sheet's
// tracks. Every track is decided and checked before anything is written,
// the sound is read (or DST-decoded) once, and the tracks are named only
// when all of them are complete.
#pragma once

namespace dsd {

// Runs the splitter for the given command line; returns the exit status.
int run_dff_splitter(int argc, char** argv, const char* name);

}  // namespace dsd
