// What every tool has as a well-kept command: --help and --version alone on
// the command line, every other argument a file name as before, and a man
// page that lists every message the tool can print.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "convert/messages.hpp"
#include "dff_builder.hpp"
#include "dsf_generator.hpp"
#include "rate/messages.hpp"
#include "test_support.hpp"
#include "wav_builder.hpp"

namespace dsd::test {
namespace {

const std::string version = DSD_PROJECT_VERSION;

struct Tool {
    std::string name;
    std::string path;
    std::string title;  // the first line of the usage text
    std::string usage_tail;
};

std::string usage_of(const Tool& tool, const std::string& invoked_as) {
    return tool.title + "\nUsage: " + invoked_as + tool.usage_tail;
}

const Tool convert{"dsf-dff-convert", DSF_DFF_CONVERT, "DSF To DFF Converter",
                   " <in_dsf_file> <out_dff_file>\n"};
const Tool dummy{"dsf-dff256-dummy", DSF_DFF256_DUMMY, "Dummy DSF64 Data To DFF256 Converter",
                 " <in_dsf_file> <out_dff_file>\n"};
const std::vector<Tool> converters{convert, dummy};
const Tool reverse{"dff-dsf-convert", DFF_DSF_CONVERT, "DFF To DSF Converter",
                   " <in_dff_file> <out_dsf_file>\n"};
const Tool decoder{"dff-dst-decode", DFF_DST_DECODE, "DST To DSD Decoder",
                   " <in_dff_file> <out_dff_file>\n"};
const Tool splitter{"dff-dsf-split", DFF_DSF_SPLIT, "DFF To DSF Track Splitter",
                    " <in_dff_file> <out_dir>\n"};

const std::string rewriter_title = "Change sampling rate";
const std::string rewriter_tail = " <diff_file1> <diff_file2>.... \n";
const Tool rate64{"dff-rate-set-64", DFF_RATE_SET_64, rewriter_title, rewriter_tail};
const Tool rate128{"dff-rate-set-128", DFF_RATE_SET_128, rewriter_title, rewriter_tail};
const Tool rate256{"dff-rate-set-256", DFF_RATE_SET_256, rewriter_title, rewriter_tail};
const Tool wav{"wav-rate-set", WAV_RATE_SET, rewriter_title, rewriter_tail};
const std::vector<Tool> rewriters{rate64, rate128, rate256, wav};

std::vector<Tool> all_tools() {
    auto tools = converters;
    tools.push_back(reverse);
    tools.push_back(decoder);
    tools.push_back(splitter);
    tools.insert(tools.end(), rewriters.begin(), rewriters.end());
    return tools;
}

RunResult run_in(const TempDir& dir, const Tool& tool, const std::vector<std::string>& args,
                 std::optional<std::string> argv0 = std::nullopt) {
    RunOptions options;
    options.cwd = dir.path();
    options.argv0 = std::move(argv0);
    return run_program(tool.path, args, options);
}

// What a tool's help says beyond its usage lines: the rate it sets, or that
// the output name is optional.
std::string help_detail(const Tool& tool) {
    if (tool.name == reverse.name) {
        return "Optional: without it the input's name with dsf for its";
    }
    if (tool.name == decoder.name) {
        return "the compression type becomes \"not compressed\"";
    }
    if (tool.name == splitter.name) {
        return "each track is NN.dsf, or NN - TITLE.dsf when it\n";
    }
    if (tool.title != rewriter_title) {
        return "Optional: without it the input's name with dff for its";
    }
    if (tool.name == wav.name) {
        return "to 44100 Hz and its byte rate to\n44100 x block align";
    }
    const std::string multiple = tool.name.substr(tool.name.rfind('-') + 1);
    return std::to_string(std::stoul(multiple) * 44100) + " Hz (DSD" + multiple + ")";
}

TEST(ToolOptions, HelpStartsWithTheUsageTextAndSaysMore) {
    for (const auto& tool : all_tools()) {
        TempDir dir;
        for (const std::string& invoked_as : {tool.name, tool.path, std::string("./renamed")}) {
            const auto r = run_in(dir, tool, {"--help"}, invoked_as);
            EXPECT_EQ(r.status, 0) << tool.name;
            EXPECT_EQ(r.out.rfind(usage_of(tool, invoked_as) + "\n", 0), 0u) << r.out;
            EXPECT_NE(r.out.find(help_detail(tool)), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("\nExit status: 0 "), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("\n  -V, --version "), std::string::npos) << r.out;
            const std::string see = "\nSee " + tool.name + "(1).\n";
            EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), see.size())), see);
            EXPECT_EQ(r.err, "");
            const auto short_option = run_in(dir, tool, {"-h"}, invoked_as);
            EXPECT_EQ(short_option.status, 0);
            EXPECT_EQ(short_option.out, r.out);
        }
        // The usage error prints the usage text alone, with its status.
        const auto error = run_in(dir, tool, {}, tool.name);
        EXPECT_EQ(error.status, tool.title == rewriter_title ? 255 : 1);
        EXPECT_EQ(error.out, usage_of(tool, tool.name));
        EXPECT_TRUE(dir.entries().empty());
    }
}

// Every line of the help fits an 80-column terminal, and every option it
// lists as standing alone, or as ending the run, works alone.
TEST(ToolOptions, HelpFitsIn80ColumnsAndItsLoneOptionsWorkAlone) {
    for (const auto& tool : all_tools()) {
        TempDir dir;
        const auto r = run_in(dir, tool, {"--help"}, tool.name);
        ASSERT_EQ(r.status, 0) << tool.name;
        std::istringstream lines(r.out);
        bool in_lone_options = false;
        bool all_alone = false;
        int lone_options = 0;
        for (std::string line; std::getline(lines, line);) {
            const auto columns = std::count_if(line.begin(), line.end(), [](char c) {
                return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            });
            EXPECT_LE(columns, 80) << tool.name << ": " << line;
            if (line.ends_with("each alone on the command line:") ||
                line.starts_with("Options, before the names")) {
                in_lone_options = true;
                all_alone = line.ends_with("each alone on the command line:");
                continue;
            }
            // "  -h, --help     what it does", maybe on more indented lines
            in_lone_options = in_lone_options && line.starts_with("  ");
            if (!in_lone_options || !line.starts_with("  -") ||
                (!all_alone && !line.ends_with(" and exit"))) {
                continue;
            }
            std::istringstream words(line.substr(0, line.find("  ", 2)));
            for (std::string option; std::getline(words >> std::ws, option, ',');) {
                ++lone_options;
                const auto alone = run_in(dir, tool, {option}, tool.name);
                EXPECT_EQ(alone.status, 0) << tool.name << " " << option << ": " << alone.out;
                EXPECT_NE(alone.out, "") << tool.name << " " << option;
            }
        }
        EXPECT_GE(lone_options, 4) << tool.name << " lists no lone options:\n" << r.out;
        EXPECT_TRUE(dir.entries().empty());
    }
}

TEST(ToolOptions, VersionPrintsTheNameAndTheProjectVersion) {
    EXPECT_FALSE(version.empty());
    for (const auto& tool : all_tools()) {
        TempDir dir;
        // The tool's own name, however it was invoked.
        for (const std::string& invoked_as : {tool.name, std::string("/elsewhere/other")}) {
            for (const std::string option : {"--version", "-V"}) {
                const auto r = run_in(dir, tool, {option}, invoked_as);
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(r.out, tool.name + " " + version + "\n");
                EXPECT_EQ(r.err, "");
            }
        }
        EXPECT_TRUE(dir.entries().empty());
    }
}

TEST(ToolOptions, ConvertersTakeAnyOtherArgumentAsAName) {
    for (const auto& tool : converters) {
        TempDir dir;
        write_file(dir / "in.dsf", testgen::make_dsf({}));
        const std::pair<std::vector<std::string>, std::string> cases[] = {
            {{"--help", "in.dsf"}, "Usage: Wrong filename. --help\n"},
            {{"--version", "in.dsf"}, "Usage: Wrong filename. --version\n"},
            {{"--help", "--version"}, "Usage: Wrong filename. --help\n"},
            {{"in.dsf", "--help"}, "Usage: Wrong filename. --help\n"},
            {{"in.dsf", "--version"}, "Usage: Wrong filename. --version\n"},
            {{"--helpx"}, "Usage: Wrong filename. --helpx\n"},
            {{"--HELP"}, "Usage: Wrong filename. --HELP\n"},
            {{"-h", "in.dsf"}, "Usage: Wrong filename. -h\n"},
            {{"in.dsf", "-V"}, "Usage: Wrong filename. -V\n"},
            {{"-help"}, "Usage: Wrong filename. -help\n"},
            {{"-v"}, "Usage: Wrong filename. -v\n"},
            {{"--help "}, "Usage: Wrong filename. --help \n"},
            {{" --version"}, "Usage: Wrong filename.  --version\n"},
            {{"--version=1"}, "Usage: Wrong filename. --version=1\n"},
            {{"--", "--help"}, "Usage: Wrong filename. --help\n"},
            {{"--", "-V"}, "Usage: Wrong filename. -V\n"},
            {{"--", "--", "in.dsf"}, "Usage: Wrong filename. --\n"},
            {{"--help.dff"}, "Usage: Input File extension is not 'dsf'. --help.dff\n"},
            {{"--help", "a", "b"}, usage_of(tool, tool.name)},
            {{"--"}, usage_of(tool, tool.name)},
            {{"--", "a.dsf", "b.dff", "c.dff"}, usage_of(tool, tool.name)},
        };
        for (const auto& [args, message] : cases) {
            const auto r = run_in(dir, tool, args, tool.name);
            EXPECT_EQ(r.status, 1) << message;
            EXPECT_EQ(r.out, message);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.dsf"});
        }
    }
}

TEST(ToolOptions, TheReverseConverterTakesAnyOtherArgumentAsAName) {
    TempDir dir;
    write_file(dir / "in.dff", testgen::converter_dff_file(2822400, testgen::pattern_bytes(64)));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--help", "in.dff"}, "Usage: Wrong filename. --help\n"},
        {{"in.dff", "--version"}, "Usage: Wrong filename. --version\n"},
        {{"-h", "in.dff"}, "Usage: Wrong filename. -h\n"},
        {{"--", "-V"}, "Usage: Wrong filename. -V\n"},
        {{"--help.dsf"}, "Usage: Input File extension is not 'dff'. --help.dsf\n"},
        {{"--help", "a", "b"}, usage_of(reverse, reverse.name)},
    };
    for (const auto& [args, message] : cases) {
        const auto r = run_in(dir, reverse, args, reverse.name);
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.out, message);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.dff"});
    }
    write_file(dir / "--help.dff", read_file(dir / "in.dff"));
    const auto r = run_in(dir, reverse, {"--help.dff"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(file_exists(dir / "--help.dsf"));
}

// Both names are required; options only alone, as for the others.
TEST(ToolOptions, TheDecoderTakesAnyOtherArgumentAsAName) {
    TempDir dir;
    write_file(dir / "in.dff", testgen::converter_dff_file(2822400, testgen::pattern_bytes(64)));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"in.dff"}, usage_of(decoder, decoder.name)},
        {{"--", "in.dff"}, usage_of(decoder, decoder.name)},
        {{"--help", "in.dff"}, "Usage: Wrong filename. --help\n"},
        {{"in.dff", "-V"}, "Usage: Wrong filename. -V\n"},
        {{"--help.dsf", "a.dff"}, "Usage: Input File extension is not 'dff'. --help.dsf\n"},
        {{"in.dff", "--help.dsf"}, "Usage: Output File extension is not 'dff'. --help.dsf\n"},
        {{"--help", "a", "b"}, usage_of(decoder, decoder.name)},
    };
    for (const auto& [args, message] : cases) {
        const auto r = run_in(dir, decoder, args, decoder.name);
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.out, message);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.dff"});
    }
    write_file(dir / "--help.dff", read_file(dir / "in.dff"));
    const auto r = run_in(dir, decoder, {"--", "--help.dff", "-V.dff"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Sound is not DST compressed : --help.dff\n");
}

TEST(ToolOptions, FilesNamedLikeOptionsConvert) {
    testgen::DsfSpec spec;
    spec.sample_count = 4096;
    const auto dsf = testgen::make_dsf(spec);
    for (const auto& tool : converters) {
        TempDir dir;
        write_file(dir / "--help.dsf", dsf);
        const auto r = run_in(dir, tool, {"--help.dsf"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.rfind("Sampling frequency <2822400>\n", 0), 0u) << r.out;
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"--help.dff", "--help.dsf"}));

        const auto named = run_in(dir, tool, {"--help.dsf", "--version.dff"});
        EXPECT_EQ(named.status, 0) << named.err;
        EXPECT_EQ(read_file(dir / "--version.dff"), read_file(dir / "--help.dff"));
    }
}

TEST(ToolOptions, RewritersTakeAnyOtherArgumentAsAName) {
    // At a rate none of the tools sets, so every tool changes it.
    const auto dff = testgen::converter_dff_file(1411200, testgen::pattern_bytes(64));
    testgen::WavFormat format;
    format.bits = 16;
    const auto wave = testgen::canonical_wav(format, testgen::pattern_bytes(64));
    for (const auto& tool : rewriters) {
        const bool is_wav = tool.name == wav.name;
        const std::string file = is_wav ? "a.wav" : "a.dff";
        const auto original = is_wav ? wave : dff;
        const std::pair<std::vector<std::string>, std::string> cases[] = {
            {{"--helpx"}, "Usage: Wrong filename. --helpx\n"},
            {{"-h", "-V"}, "Usage: Wrong filename. -h\nUsage: Wrong filename. -V\n"},
            {{"--", "--help"}, "Usage: Wrong filename. --help\n"},
            {{"--", "--"}, "Usage: Wrong filename. --\n"},
            {{"--VERSION"}, "Usage: Wrong filename. --VERSION\n"},
            {{"--version="}, "Usage: Wrong filename. --version=\n"},
            {{"--help", "--version"},
             "Usage: Wrong filename. --help\nUsage: Wrong filename. --version\n"},
            {{"--help.dff"},
             is_wav ? "Usage: File extension is not 'wav'. --help.dff\n"
                    : "Usage: Can't open file. --help.dff\n"},
        };
        for (const auto& [args, message] : cases) {
            TempDir dir;
            const auto r = run_in(dir, tool, args, tool.name);
            EXPECT_EQ(r.status, 1) << tool.name << " " << message;
            EXPECT_EQ(r.out, message);
            EXPECT_EQ(r.err, "");
            EXPECT_TRUE(dir.entries().empty());
        }
        // With a real file after it, --help is reported and the file is
        // still rewritten.
        for (const std::string option : {"--help", "--version"}) {
            TempDir dir;
            write_file(dir / file, original);
            const auto r = run_in(dir, tool, {option, file}, tool.name);
            EXPECT_EQ(r.status, 1) << tool.name;
            EXPECT_EQ(r.out, "Usage: Wrong filename. " + option + "\n");
            EXPECT_EQ(r.err, "");
            const auto after = read_file(dir / file);
            EXPECT_NE(after, original) << tool.name << " did not rewrite " << file;
            EXPECT_EQ(after.size(), original.size());

            const auto alone = run_in(dir, tool, {file}, tool.name);
            EXPECT_EQ(alone.status, 0);
            EXPECT_EQ(alone.out, "");
        }
    }
}

// "--" ends the options: names that start with '-' work after it, wherever
// it stands, and it is never a name itself.
TEST(ToolOptions, DoubleDashEndsTheOptions) {
    testgen::DsfSpec spec;
    spec.sample_count = 4096;
    const auto dsf = testgen::make_dsf(spec);
    for (const auto& tool : converters) {
        TempDir dir;
        write_file(dir / "-odd.dsf", dsf);
        const auto r = run_in(dir, tool, {"--", "-odd.dsf"});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"-odd.dff", "-odd.dsf"}));
        const auto later = run_in(dir, tool, {"-odd.dsf", "--", "-h.dff"});
        EXPECT_EQ(later.status, 0) << later.out << later.err;
        EXPECT_EQ(read_file(dir / "-h.dff"), read_file(dir / "-odd.dff"));
    }
    const auto dff = testgen::converter_dff_file(1411200, testgen::pattern_bytes(64));
    for (const auto& tool : {rate64, rate128, rate256}) {
        TempDir dir;
        write_file(dir / "-odd.dff", dff);
        write_file(dir / "--help.dff", dff);
        const auto r = run_in(dir, tool, {"--", "-odd.dff", "--help.dff"});
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(read_file(dir / "-odd.dff"), dff);
        EXPECT_EQ(read_file(dir / "-odd.dff"), read_file(dir / "--help.dff"));
        // No name after it: the usage error.
        const auto none = run_in(dir, tool, {"--"}, tool.name);
        EXPECT_EQ(none.status, 255);
        EXPECT_EQ(none.out, usage_of(tool, tool.name));
    }
}

TEST(ToolOptions, RewritersTakeFilesNamedLikeOptions) {
    TempDir dir;
    const auto dff = testgen::converter_dff_file(2822400, testgen::pattern_bytes(64));
    write_file(dir / "--help.dff", dff);
    write_file(dir / "--version.DFF", dff);
    const auto r = run_in(dir, rate128, {"--help.dff", "--version.DFF"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    for (const std::string name : {"--help.dff", "--version.DFF"}) {
        const auto after = read_file(dir / name);
        EXPECT_EQ(std::vector<std::uint8_t>(after.begin() + 60, after.begin() + 64),
                  (std::vector<std::uint8_t>{0x00, 0x56, 0x22, 0x00}));
    }
}

// ---- Man pages -----------------------------------------------------------

// The page rendered as plain text, one long line per paragraph.
std::string render(const std::string& page) {
    const std::string mandoc = DSD_MANDOC;
    const auto r = run_program(mandoc, {"-T", "ascii", "-O", "width=400", page});
    EXPECT_EQ(r.status, 0) << r.err;
    // Drop the overstrike that marks bold and underlined characters.
    std::string text;
    for (std::size_t i = 0; i < r.out.size(); ++i) {
        if (i + 1 < r.out.size() && r.out[i + 1] == '\b') {
            ++i;
            continue;
        }
        text += r.out[i];
    }
    return text;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') {
        s.remove_prefix(1);
    }
    while (!s.empty() && s.back() == ' ') {
        s.remove_suffix(1);
    }
    return s;
}

// True when some line of `text` shows `line` of a message, with anything in
// place of its one printf placeholder.
bool shows(const std::string& text, std::string_view line) {
    std::string_view before = line;
    std::string_view after;
    if (const auto at = line.find('%'); at != std::string_view::npos) {
        before = line.substr(0, at);
        const auto end = line.find_first_of("sud", at);
        after = line.substr(end + 1);
    }
    before = trim(before);
    after = trim(after);
    std::size_t from = 0;
    while ((from = text.find(before, from)) != std::string::npos) {
        const auto line_end = text.find('\n', from);
        const auto rest =
            std::string_view(text).substr(from + before.size(), line_end - from - before.size());
        if (rest.find(after) != std::string_view::npos) {
            return true;
        }
        from += 1;
    }
    return false;
}

void expect_page_lists(const std::string& page, const std::vector<std::string_view>& messages) {
    const std::string text = render(std::string(DSD_MAN_DIR) + "/" + page);
    const auto section = text.find("\nDIAGNOSTICS\n");
    ASSERT_NE(section, std::string::npos) << page;
    const std::string diagnostics = text.substr(section);
    for (const auto message : messages) {
        std::size_t start = 0;
        while (start < message.size()) {
            const auto end = message.find('\n', start);
            const auto line = message.substr(start, end - start);
            EXPECT_TRUE(shows(diagnostics, line)) << page << " does not list: " << line;
            start = end == std::string_view::npos ? message.size() : end + 1;
        }
    }
}

class ManPages : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(DSD_MANDOC).empty()) {
            GTEST_SKIP() << "mandoc is not installed (Debian package mandoc)";
        }
    }
};

// What every converter's options and batches add.
const std::vector<std::string_view> batch_messages{
    convert_text::unknown_option,  convert_text::missing_value, convert_text::unexpected_value,
    convert_text::wrong_jobs,      convert_text::needs_target,  convert_text::not_directory,
    convert_text::outside_target,  convert_text::same_output,   convert_text::cannot_make_directory,
    convert_text::not_overwritten,
};

TEST_F(ManPages, ConverterPagesListEveryMessage) {
    namespace text = convert_text;
    std::vector<std::string_view> shared{
        text::wrong_filename,     text::input_extension,    text::output_extension,
        text::cannot_open_input,  text::sampling_frequency, text::bit_number,
        text::sample_number,      text::data_size,          text::not_dsf,
        text::wrong_channels,     text::wrong_data_size,    text::wrong_block_size,
        text::cannot_open_output, text::read_error,         text::write_error,
        text::wrong_rate,         text::wrong_bits,         text::cannot_rename,
        text::lost_output,
    };
    shared.insert(shared.end(), batch_messages.begin(), batch_messages.end());
    auto convert_messages = shared;
    convert_messages.push_back(text::convert_usage);
    expect_page_lists("dsf-dff-convert.1", convert_messages);
    auto dummy_messages = shared;
    dummy_messages.push_back(text::dff256_usage);
    expect_page_lists("dsf-dff256-dummy.1", dummy_messages);
}

TEST_F(ManPages, ReverseConverterPageListsEveryMessage) {
    namespace text = convert_text;
    namespace reverse = reverse_text;
    expect_page_lists("dff-dsf-convert.1", batch_messages);
    expect_page_lists("dff-dsf-convert.1", {reverse::usage,
                                            text::wrong_filename,
                                            reverse::input_extension,
                                            reverse::output_extension,
                                            text::cannot_open_input,
                                            text::sampling_frequency,
                                            text::bit_number,
                                            text::sample_number,
                                            text::data_size,
                                            reverse::not_dff,
                                            reverse::past_end_of_file,
                                            reverse::past_parent,
                                            reverse::second_chunk,
                                            reverse::wrong_chunk_size,
                                            reverse::compressed,
                                            reverse::missing_chunk,
                                            text::wrong_rate,
                                            text::wrong_channels,
                                            reverse::wrong_layout,
                                            text::wrong_data_size,
                                            reverse::frame_count_differs,
                                            reverse::damaged_frame,
                                            reverse::tag_skipped,
                                            text::cannot_open_output,
                                            text::cannot_rename,
                                            text::lost_output,
                                            text::read_error,
                                            text::write_error});
}

TEST_F(ManPages, DecoderPageListsEveryMessage) {
    namespace text = convert_text;
    namespace reverse = reverse_text;
    namespace decode = dst_decode_text;
    expect_page_lists("dff-dst-decode.1", batch_messages);
    expect_page_lists("dff-dst-decode.1", {decode::usage,
                                           decode::not_dst,
                                           text::wrong_filename,
                                           reverse::input_extension,
                                           text::output_extension,
                                           text::cannot_open_input,
                                           reverse::not_dff,
                                           reverse::past_end_of_file,
                                           reverse::past_parent,
                                           reverse::second_chunk,
                                           reverse::wrong_chunk_size,
                                           reverse::compressed,
                                           reverse::missing_chunk,
                                           reverse::frame_count_differs,
                                           reverse::damaged_frame,
                                           text::wrong_rate,
                                           text::wrong_channels,
                                           text::cannot_open_output,
                                           text::cannot_rename,
                                           text::read_error,
                                           text::write_error});
}

TEST_F(ManPages, SplitterPageListsEveryMessage) {
    namespace text = convert_text;
    namespace reverse = reverse_text;
    namespace split = split_text;
    expect_page_lists("dff-dsf-split.1", {split::usage,
                                          split::no_tracks,
                                          split::marker_outside,
                                          split::track_too_short,
                                          split::too_many_tracks,
                                          split::cue_line,
                                          split::cue_too_large,
                                          split::cue_unknown_command,
                                          split::cue_no_closing_quote,
                                          split::cue_text_after_value,
                                          split::cue_no_value,
                                          split::cue_bad_track,
                                          split::cue_not_audio,
                                          split::cue_track_order,
                                          split::cue_index_before_track,
                                          split::cue_bad_index,
                                          split::cue_index_order,
                                          split::cue_position_order,
                                          split::cue_no_start_index,
                                          split::cue_past_end,
                                          split::cue_bad_utf16,
                                          text::unknown_option,
                                          text::missing_value,
                                          text::unexpected_value,
                                          text::wrong_filename,
                                          reverse::input_extension,
                                          text::cannot_open_input,
                                          reverse::not_dff,
                                          reverse::wrong_chunk_size,
                                          reverse::past_parent,
                                          reverse::damaged_frame,
                                          text::cannot_make_directory,
                                          text::cannot_open_output,
                                          text::cannot_rename,
                                          text::read_error,
                                          text::write_error,
                                          text::lost_output,
                                          text::not_overwritten});
}

TEST_F(ManPages, RewriterPagesListEveryMessage) {
    const std::vector<std::string_view> shared{
        rate::text::usage_text,
        rate::text::wrong_filename,
        rate::text::cannot_open,
        rate::text::cannot_write,
    };
    auto dff_messages = shared;
    dff_messages.insert(dff_messages.end(), {rate::text::extension_not_dff, rate::text::not_dff,
                                             rate::text::dst_compressed});
    expect_page_lists("dff-rate-set-64.1", dff_messages);
    auto wav_messages = shared;
    wav_messages.insert(wav_messages.end(),
                        {rate::text::extension_not_wav, rate::text::not_wav, rate::text::not_pcm});
    expect_page_lists("wav-rate-set.1", wav_messages);
}

TEST_F(ManPages, TheCheckNoticesAMissingMessage) {
    const std::string page = std::string(DSD_MAN_DIR) + "/dsf-dff-convert.1";
    const std::string text = render(page);
    EXPECT_TRUE(shows(text, "Usage: Can't open file. %s"));
    EXPECT_FALSE(shows(text, "Usage: Can't open this file. %s"));
    EXPECT_FALSE(shows(text, "Wrong data size : %llu!"));
}

}  // namespace
}  // namespace dsd::test
