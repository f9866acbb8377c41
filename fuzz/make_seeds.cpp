// Writes the fuzzers' seed corpora, built by the test-data generator:
// fuzz-seeds DIR makes DIR/dsf (and the other corpora) afresh.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dsf_generator.hpp"

namespace {

namespace fs = std::filesystem;
using dsd::testgen::DsfSpec;

bool save(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::vector<std::pair<std::string, std::vector<std::uint8_t>>> dsf_seeds() {
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> seeds;
    const auto add = [&](const std::string& name, DsfSpec spec) {
        seeds.emplace_back(name, dsd::testgen::make_dsf(spec));
    };
    DsfSpec spec;
    for (const std::uint64_t samples : {0ull, 1ull, 7ull, 8ull, 1000ull, 32768ull, 32768ull + 13}) {
        spec.sample_count = samples;
        add("dsf64_" + std::to_string(samples), spec);
    }
    spec.bits_per_sample = 8;
    spec.sampling_frequency = 5644800;
    spec.sample_count = 32768 + 5;
    add("dsf128_8bit", spec);
    spec.bits_per_sample = 1;
    spec.sampling_frequency = 11289600;
    spec.sample_count = 777;
    spec.id3_tag = dsd::testgen::make_id3v2_tag("Seed", 3, 41);
    add("dsf256_tag_odd", spec);
    spec.id3_tag = dsd::testgen::make_id3v2_tag("Seed", 4, 64, true);
    add("dsf256_tag_footer", spec);
    return seeds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s DIR\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    const std::pair<std::string, decltype(dsf_seeds())> corpora[] = {
        {"dsf", dsf_seeds()},
    };
    for (const auto& [corpus, seeds] : corpora) {
        std::error_code ec;
        fs::remove_all(root / corpus, ec);
        fs::create_directories(root / corpus);
        for (const auto& [name, bytes] : seeds) {
            if (!save(root / corpus / name, bytes)) {
                std::fprintf(stderr, "%s: cannot write %s\n", argv[0],
                             (root / corpus / name).c_str());
                return 1;
            }
        }
    }
    return 0;
}
