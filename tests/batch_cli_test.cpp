// The converters' options as users run them on whole libraries: -t and
// --parents, -n, -q, -j, their GNU forms and errors, the reporting of a
// batch, and the progress line on a terminal.
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "dff_builder.hpp"
#include "dff_expect.hpp"
#include "dsf_generator.hpp"
#include "dst_file.hpp"
#include "test_support.hpp"

namespace dsd::test {
namespace {

namespace fs = std::filesystem;

const std::string convert = DSF_DFF_CONVERT;
const std::string dummy = DSF_DFF256_DUMMY;
const std::string reverse = DFF_DSF_CONVERT;
const std::string decoder = DFF_DST_DECODE;

Bytes make(std::uint64_t samples, std::uint32_t bits = 1) {
    testgen::DsfSpec spec;
    spec.sample_count = samples;
    spec.bits_per_sample = bits;
    return testgen::make_dsf(spec);
}

std::string info(const Bytes& dsf) {
    return "Sampling frequency <" + std::to_string(le(dsf, 56, 4)) + ">\nbit number <" +
           std::to_string(le(dsf, 60, 4)) + ">\nsample number <" + std::to_string(le(dsf, 64, 8)) +
           ">\nDSD Data size <" + std::to_string(le(dsf, 84, 8) - 12) + ">\n";
}

// Every name below `root` with its bytes, a link's target or "(dir)".
std::map<std::string, std::string> tree(const std::string& root) {
    std::map<std::string, std::string> all;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const auto name = entry.path().string().substr(root.size() + 1);
        if (entry.is_symlink()) {
            all[name] = "-> " + fs::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            all[name] = "(dir)";
        } else {
            const Bytes bytes = read_file(entry.path().string());
            all[name] = std::string(bytes.begin(), bytes.end());
        }
    }
    return all;
}

std::string text_of(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::multiset<std::string> lines_of(const std::string& text) {
    std::multiset<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.insert(line);
    }
    return lines;
}

// Standard output of a batch as its blocks, one per converted file: a line
// "NAME:" and the lines up to the next such line.
std::multiset<std::string> blocks_of(const std::string& text) {
    std::multiset<std::string> blocks;
    std::string block;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == ':' && !block.empty()) {
            blocks.insert(block);
            block.clear();
        }
        block += line + "\n";
    }
    if (!block.empty()) {
        blocks.insert(block);
    }
    return blocks;
}

class Batch : public ::testing::Test {
  protected:
    RunResult run(const std::vector<std::string>& args, RunOptions options = {},
                  const std::string& program = convert) {
        options.cwd = dir.path();
        return run_program(program, args, options);
    }
    void put(const std::string& name, const Bytes& bytes) {
        fs::create_directories(fs::path(dir / name).parent_path());
        write_file(dir / name, bytes);
    }
    TempDir dir;
};

TEST_F(Batch, EachFailureIsReportedAndTheOthersConvert) {
    const Bytes a = make(5000);
    const Bytes b = make(3 * 32768 + 9, 8);
    Bytes bad = make(100);
    put_le(bad, 0, 0x46464952, 4);  // RIFF
    const Bytes full = make(2 * 32768);
    const Bytes cut(full.begin(), full.begin() + 92 + 8192 + 100);
    put("in/a.dsf", a);
    put("in/b.DSF", b);
    put("in/bad.dsf", bad);
    put("in/cut.dsf", cut);
    put("in/c.wav", a);
    fs::create_directory(dir / "out");
    const std::vector<std::string> args{"-t",          "out",        "in/a.dsf",
                                        "in/bad.dsf",  "in/c.wav",   "in/noext",
                                        "in/gone.dsf", "in/cut.dsf", "in/b.DSF"};
    const std::string errors =
        "in/bad.dsf: Not a 'DSF' format : RIFF\n"
        "in/c.wav: Usage: Input File extension is not 'dsf'. in/c.wav\n"
        "in/noext: Usage: Wrong filename. in/noext\n"
        "in/gone.dsf: Usage: Can't open file. in/gone.dsf\n"
        "in/cut.dsf: read error : " +
        std::to_string(cut.size()) + "\n";
    const auto inputs = tree(dir / "in");

    auto r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "in/a.dsf:\n" + info(a) + "in/b.DSF:\n" + info(b));
    EXPECT_EQ(r.err, errors);
    EXPECT_EQ(tree(dir / "out"),
              (std::map<std::string, std::string>{{"a.dff", text_of(expected_dff(a, 2822400))},
                                                  {"b.dff", text_of(expected_dff(b, 2822400))}}));
    EXPECT_EQ(tree(dir / "in"), inputs);

    // Quiet: the same files and failures, no header lines.
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
    auto quiet = args;
    quiet.insert(quiet.begin(), "-q");
    r = run(quiet, {}, dummy);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, errors);
    EXPECT_EQ(read_file(dir / "out/a.dff"), expected_dff(a, 11289600));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in", "out"}));

    // Every input fine: status 0; one given twice (as cp, converted once).
    r = run({"-q", "-t", "out", "in/a.dsf", "in/b.DSF", "./in/a.dsf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "./in/a.dsf: given more than once, not converted again : out/a.dff\n");
    EXPECT_EQ(read_file(dir / "out/a.dff"), expected_dff(a, 2822400));
    // The repeat of one that fails is only noted; the first one fails.
    r = run({"-q", "-t", "out", "in/bad.dsf", "in/bad.dsf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "in/bad.dsf: Not a 'DSF' format : RIFF\n"
              "in/bad.dsf: given more than once, not converted again : out/bad.dff\n");
}

// Lost header lines are reported once for the whole batch; the files are
// still converted and the status is 0.
TEST_F(Batch, ClosedStandardOutputCostsOnlyTheHeaderLines) {
    const Bytes dsf = make(5000);
    put("a.dsf", dsf);
    put("b.dsf", dsf);
    fs::create_directory(dir / "out");
    RunOptions closed;
    closed.stdout_closed_pipe = true;
    const auto r = run({"-j", "2", "-t", "out", "a.dsf", "b.dsf"}, closed);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, std::string(" cannot write standard output : ") + std::strerror(EPIPE) + "\n");
    EXPECT_EQ(read_file(dir / "out/a.dff"), expected_dff(dsf, 2822400));
    EXPECT_EQ(read_file(dir / "out/b.dff"), expected_dff(dsf, 2822400));
}

TEST_F(Batch, ParentsBuildTheInputsTreeBelowTheTarget) {
    const Bytes one = make(4000);
    const Bytes two = make(9000);
    Bytes bad = make(100);
    put_le(bad, 52, 1, 4);  // one channel
    put("music/Artist/Album/t1.dsf", one);
    put("music/Artist/Other/t2.dsf", two);
    put("music/Artist/Broken/Deeper/bad.dsf", bad);
    put("t3.dsf", one);
    put("up.dsf", one);
    fs::create_directories(dir / "lib/x");
    const auto expected = std::map<std::string, std::string>{
        {"music", "(dir)"},
        {"music/Artist", "(dir)"},
        {"music/Artist/Album", "(dir)"},
        {"music/Artist/Album/t1.dff", text_of(expected_dff(one, 2822400))},
        {"music/Artist/Other", "(dir)"},
        {"music/Artist/Other/t2.dff", text_of(expected_dff(two, 2822400))},
        {"t3.dff", text_of(expected_dff(one, 2822400))},
    };
    for (const std::string jobs : {"1", "3"}) {
        fs::remove_all(dir / "out");
        fs::create_directory(dir / "out");
        RunOptions masked;
        masked.umask = 027;
        const auto r = run({"-q", "--parents", "-j", jobs, "-t", "out", "music/Artist/Album/t1.dsf",
                            "./music/Artist//Other/./t2.dsf", "music/Artist/Broken/Deeper/bad.dsf",
                            "t3.dsf", dir / "t3.dsf", "lib/x/../../up.dsf"},
                           masked);
        EXPECT_EQ(r.status, 1) << jobs;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(lines_of(r.err),
                  lines_of("music/Artist/Broken/Deeper/bad.dsf: Wrong numbers of channels : 1\n" +
                           dir / "t3.dsf" + ": Usage: Name is absolute or has '..' (--parents). " +
                           dir / "t3.dsf" +
                           "\n"
                           "lib/x/../../up.dsf: Usage: Name is absolute or has '..' (--parents). "
                           "lib/x/../../up.dsf\n"))
            << jobs;
        // The failed input's directories are gone, and nothing else is there.
        EXPECT_EQ(tree(dir / "out"), expected) << jobs;
        struct stat st {};
        ASSERT_EQ(::stat((dir / "out/music/Artist/Album").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0750u);
    }
    // Without --parents the same inputs meet in the target directory.
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
    const auto r = run({"-t", "out/", "music/Artist/Album/t1.dsf", "music/Artist/Other/t2.dsf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "music/Artist/Album/t1.dsf:\n" + info(one) + "music/Artist/Other/t2.dsf:\n" +
                         info(two));
    EXPECT_EQ(tree(dir / "out"), (std::map<std::string, std::string>{
                                     {"t1.dff", text_of(expected_dff(one, 2822400))},
                                     {"t2.dff", text_of(expected_dff(two, 2822400))}}));
}

TEST_F(Batch, NoClobberKeepsWhateverHasTheOutputsName) {
    const Bytes dsf = make(6000);
    for (const std::string name : {"a", "b", "c", "d", "e"}) {
        put(name + ".dsf", dsf);
    }
    put("out/a.dff", {'o', 'l', 'd'});
    ASSERT_EQ(::symlink("nowhere.dff", (dir / "out/b.dff").c_str()), 0);
    put("out/real.dff", {'r', 'e', 'a', 'l'});
    ASSERT_EQ(::symlink("real.dff", (dir / "out/c.dff").c_str()), 0);
    put("out/d.dff", {'r', 'o'});
    ::chmod((dir / "out/d.dff").c_str(), 0444);
    auto before = tree(dir / "out");
    const std::string skipped =
        "a.dsf: not overwritten, out/a.dff exists\n"
        "b.dsf: not overwritten, out/b.dff exists\n"
        "c.dsf: not overwritten, out/c.dff exists\n"
        "d.dsf: not overwritten, out/d.dff exists\n";

    auto r = run({"-n", "-t", "out", "a.dsf", "b.dsf", "c.dsf", "d.dsf", "e.dsf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "e.dsf:\n" + info(dsf));
    EXPECT_EQ(r.err, skipped);
    before["e.dff"] = text_of(expected_dff(dsf, 2822400));
    EXPECT_EQ(tree(dir / "out"), before);

    // Run again, as after an interruption: nothing left to do.
    r = run({"--no-clobber", "-j", "2", "-t", "out", "a.dsf", "b.dsf", "c.dsf", "d.dsf", "e.dsf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(lines_of(r.err), lines_of(skipped + "e.dsf: not overwritten, out/e.dff exists\n"));
    EXPECT_EQ(tree(dir / "out"), before);

    // An input that is not there is no input done, whatever has its name.
    r = run({"-n", "-t", "out", "gone.dsf", "a.dsf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "gone.dsf: Usage: Can't open file. gone.dsf\n"
              "a.dsf: not overwritten, out/a.dff exists\n");
    put("out/gone.dff", {'o', 'l', 'd'});
    r = run({"-n", "-t", "out", "gone.dsf"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "gone.dsf: Usage: Can't open file. gone.dsf\n");
    fs::remove(dir / "out/gone.dff");

    // Without -t: the same line, naming the input, and no header lines.
    r = run({"-n", "a.dsf", "out/c.dff"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "a.dsf: not overwritten, out/c.dff exists\n");
    r = run({"-n", "a.dsf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, info(dsf));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir / "a.dff"), expected_dff(dsf, 2822400));
    EXPECT_EQ(tree(dir / "out"), before);
}

// What killed runs left for the batch's outputs goes, in a directory the
// batch lists only once; what belongs to other names stays.
TEST_F(Batch, StaleTemporariesOfEveryOutputGo) {
    const Bytes dsf = make(2000);
    for (const std::string name : {"a", "b", "c"}) {
        put(name + ".dsf", dsf);
    }
    put("out/.a.dff.abcdefgh.part", {1});
    put("out/.b.dff.ABCDEFGH.part", {2});
    put("out/.b.dff.01234567.part", {3});
    put("out/.other.dff.abcdefgh.part", {4});
    const auto r = run({"-q", "-j", "2", "-t", "out", "a.dsf", "b.dsf", "c.dsf"});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto expected = text_of(expected_dff(dsf, 2822400));
    EXPECT_EQ(tree(dir / "out"),
              (std::map<std::string, std::string>{{".other.dff.abcdefgh.part", "\x04"},
                                                  {"a.dff", expected},
                                                  {"b.dff", expected},
                                                  {"c.dff", expected}}));
}

TEST_F(Batch, OptionsTakeEveryGnuForm) {
    const Bytes dsf = make(3000);
    put("a.dsf", dsf);
    put("-n.dsf", dsf);
    put("-t.dsf", dsf);
    fs::create_directory(dir / "out");
    const std::string block = "a.dsf:\n" + info(dsf);
    const std::pair<std::vector<std::string>, std::string> forms[] = {
        {{"-t", "out", "a.dsf"}, block},
        {{"-tout", "a.dsf"}, block},
        {{"--target-directory=out", "a.dsf"}, block},
        {{"--target-directory", "out", "a.dsf"}, block},
        {{"--targ", "out", "--qu", "a.dsf"}, ""},
        {{"-nqj2", "-t", "out", "a.dsf"}, ""},
        {{"-nj", "2", "-qtout", "a.dsf"}, ""},
        {{"--jobs=2", "--quiet", "--no-clobber", "--parents", "-t", "out", "--", "a.dsf"}, ""},
        {{"-q", "-t", "out", "a.dsf", "--"}, ""},
    };
    for (const auto& [args, out] : forms) {
        fs::remove(dir / "out/a.dff");
        const auto r = run(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out, out) << args[0];
        EXPECT_EQ(r.err, "") << args[0];
        EXPECT_EQ(read_file(dir / "out/a.dff"), expected_dff(dsf, 2822400)) << args[0];
    }
    // Names that start with '-': after "--", or ending in the input's
    // extension, they are names, with options or without.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-q", "-t", "out", "--", "-n.dsf", "-t.dsf"},
             {"-qtout", "-n.dsf", "-t.dsf"},
         }) {
        fs::remove_all(dir / "out");
        fs::create_directory(dir / "out");
        const auto r = run(args);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(fs::directory_iterator(dir / "out") == fs::directory_iterator(), false);
        EXPECT_TRUE(file_exists(dir / "out/-n.dff"));
        EXPECT_TRUE(file_exists(dir / "out/-t.dff"));
    }
    const auto r = run({"-t.dsf"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, info(dsf));
    EXPECT_TRUE(file_exists(dir / "-t.dff"));
}

TEST_F(Batch, WrongOptionsConvertNothing) {
    put("a.dsf", make(100));
    put("file.txt", {});
    fs::create_directory(dir / "out");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-n", "-x", "a.dsf"}, "Usage: Unknown option. -x\n"},
        {{"-x", "-n", "a.dsf"}, "Usage: Unknown option. -x\n"},
        {{"-nqx", "a.dsf"}, "Usage: Unknown option. -x\n"},
        {{"--no-such", "-q", "a.dsf"}, "Usage: Unknown option. --no-such\n"},
        {{"-q", "-t"}, "Usage: Option needs a value. -t\n"},
        {{"-t", "out", "--jobs"}, "Usage: Option needs a value. --jobs\n"},
        {{"--quiet=yes", "a.dsf"}, "Usage: Option takes no value. --quiet\n"},
        {{"-j", "0", "-t", "out", "a.dsf"}, "Usage: Jobs must be a whole number from 1. 0\n"},
        {{"-j", "2x", "-t", "out", "a.dsf"}, "Usage: Jobs must be a whole number from 1. 2x\n"},
        {{"--jobs=-1", "-t", "out", "a.dsf"}, "Usage: Jobs must be a whole number from 1. -1\n"},
        {{"-j2", "a.dsf"}, "Usage: Option only works with -t. -j\n"},
        {{"--par", "a.dsf"}, "Usage: Option only works with -t. --parents\n"},
        {{"-t", "missing", "a.dsf"}, "Usage: Not a directory. missing\n"},
        {{"-t", "file.txt", "a.dsf"}, "Usage: Not a directory. file.txt\n"},
        {{"-t", "out"},
         "DSF To DFF Converter\nUsage: dsf-dff-convert <in_dsf_file> <out_dff_file>\n"},
        {{"-q"}, "DSF To DFF Converter\nUsage: dsf-dff-convert <in_dsf_file> <out_dff_file>\n"},
        {{"-q", "a.dsf", "b.dff", "c.dff"},
         "DSF To DFF Converter\nUsage: dsf-dff-convert <in_dsf_file> <out_dff_file>\n"},
    };
    RunOptions named;
    named.argv0 = "dsf-dff-convert";
    for (const auto& [args, message] : cases) {
        const auto r = run(args, named);
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.out, message);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.dsf", "file.txt", "out"}));
        EXPECT_TRUE(fs::is_empty(dir / "out")) << message;
    }
    // --help wins over the other options and lists them.
    const auto help = run({"-n", "--help"}, named);
    EXPECT_EQ(help.status, 0);
    for (const std::string line :
         {"\nOr:    dsf-dff-convert [OPTION]... -t DIR FILE...\n",
          "\n  -t, --target-directory=DIR ", "\n      --parents ", "\n  -n, --no-clobber ",
          "\n  -q, --quiet ", "\n  -j, --jobs=N ", "\n  -V, --version "}) {
        EXPECT_NE(help.out.find(line), std::string::npos) << line;
    }
}

// The same inputs with -j 1 and -j 3: the same files byte for byte, the
// same status, the same blocks and lines in whatever order.
TEST_F(Batch, JobsChangeNothingButTheOrder) {
    struct Tool {
        std::string program;
        std::string extension;
        std::function<Bytes(std::size_t)> input;
    };
    const Tool tools[] = {
        {convert, "dsf", [](std::size_t i) { return make(1000 + 20011 * i, i % 3 == 0 ? 8 : 1); }},
        {dummy, "dsf", [](std::size_t i) { return make(7 + 33333 * i); }},
        {reverse, "dff",
         [](std::size_t i) {
             return testgen::converter_dff_file(
                 2822400,
                 testgen::pattern_bytes(2 * (500 + 9001 * i), static_cast<std::uint8_t>(i)));
         }},
    };
    for (const auto& tool : tools) {
        std::vector<std::string> args{"-t", "", "a/dup." + tool.extension};
        for (std::size_t i = 0; i < 12; ++i) {
            const std::string name = "in/f" + std::to_string(i) + "." + tool.extension;
            Bytes bytes = tool.input(i);
            if (i == 5) {
                bytes.resize(40);  // cut inside its header
            }
            put(name, bytes);
            args.push_back(name);
        }
        put("a/dup." + tool.extension, tool.input(1));
        args.push_back("in/dup." + tool.extension);  // the same output as a/dup's
        put("in/dup." + tool.extension, tool.input(2));
        args.push_back("./a/dup." + tool.extension);  // a/dup again
        std::map<std::string, std::string> first_tree;
        RunResult first;
        for (const std::string jobs : {"1", "3", "99"}) {
            fs::remove_all(dir / "out");
            fs::create_directory(dir / "out");
            args[1] = "out";
            auto with_jobs = args;
            with_jobs.insert(with_jobs.begin(), {"-j", jobs});
            const auto r = run(with_jobs, {}, tool.program);
            EXPECT_EQ(r.status, 1) << tool.program << " -j " << jobs;
            EXPECT_NE(r.err.find("in/dup." + tool.extension +
                                 ": Output of an earlier input, not converted : out/dup."),
                      std::string::npos)
                << r.err;
            EXPECT_NE(r.err.find("./a/dup." + tool.extension +
                                 ": given more than once, not converted again : out/dup."),
                      std::string::npos)
                << r.err;
            if (jobs == "1") {
                first = r;
                first_tree = tree(dir / "out");
                EXPECT_EQ(first_tree.size(), 12u);  // 11 inputs and dup
                continue;
            }
            EXPECT_EQ(tree(dir / "out"), first_tree) << tool.program << " -j " << jobs;
            EXPECT_EQ(blocks_of(r.out), blocks_of(first.out)) << tool.program << " -j " << jobs;
            EXPECT_EQ(lines_of(r.err), lines_of(first.err)) << tool.program << " -j " << jobs;
        }
        fs::remove_all(dir / "in");
        fs::remove_all(dir / "a");
    }
}

// ---- Progress ------------------------------------------------------------

// The conversion held for a while in its loop, at its first read of sound,
// so that it takes longer than the second after which progress shows.
class Progress : public Batch {
  protected:
    void SetUp() override {
        if (!tracing_available()) {
            GTEST_SKIP() << "needs ptrace of a natively run converter to hold it inside its loop";
        }
        put("in.dsf", dsf);
        put("two.dsf", dsf);
        fs::create_directory(dir / "out");
    }
    RunResult held(const std::vector<std::string>& args, bool terminal,
                   const std::string& program = convert,
                   const decltype(RunOptions::stop_after_syscall)& stop = is_large_pread) {
        RunOptions options;
        options.stderr_terminal = terminal;
        options.stop_after_syscall = stop;
        options.while_stopped = [] {
            std::this_thread::sleep_for(std::chrono::milliseconds(1800));
        };
        auto r = run(args, options, program);
        EXPECT_TRUE(r.stopped);
        return r;
    }
    const Bytes dsf = make(40 * 32768);
};

// One line, drawn again and again in place and erased at the end:
// "\r" LINE "\x1b[K" ... "\r\x1b[K".
void expect_progress_lines(const std::string& err, const std::string& start,
                           const std::string& sample) {
    ASSERT_GE(err.size(), 4u) << "no progress shown";
    EXPECT_EQ(err.substr(err.size() - 4), "\r\x1b[K");
    EXPECT_EQ(err.find('\n'), std::string::npos);
    const auto first = err.find('\r');
    ASSERT_NE(first, std::string::npos);
    const auto end = err.find("\x1b[K", first);
    ASSERT_NE(end, std::string::npos);
    const std::string line = err.substr(first + 1, end - first - 1);
    EXPECT_EQ(line.rfind(start, 0), 0u) << line;
    EXPECT_NE(line.find(sample), std::string::npos) << line;
    EXPECT_NE(line.find(" left"), std::string::npos) << line;
    EXPECT_LT(line.size(), 80u) << line;
}

TEST_F(Progress, ShownOnATerminalForTheFile) {
    const auto r = held({"in.dsf"}, true);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, info(dsf));
    expect_progress_lines(r.err, "in.dsf  ", "%  ");
    EXPECT_EQ(read_file(dir / "in.dff"), expected_dff(dsf, 2822400));
}

TEST_F(Progress, ShownForTheWholeBatchWithJobs) {
    const auto r = held({"-q", "-j", "2", "-t", "out", "in.dsf", "two.dsf"}, true);
    EXPECT_EQ(r.status, 0);
    expect_progress_lines(r.err, "", " of 2 files, 0 failed, ");
    EXPECT_EQ(read_file(dir / "out/two.dff"), expected_dff(dsf, 2822400));
}

// DST frames count as they are read: held at its first large write of
// decoded sound, a conversion shows how far its reading has got.
TEST_F(Progress, ShownWhileDstFramesAreDecoded) {
    const Bytes sound = testgen::pattern_bytes(40 * 2 * 4704);
    put("in.dff", testgen::dst_dff_file({}, sound));
    const auto large_write = [](long number, const SyscallArguments& arguments) {
        return number == SYS_write && arguments[2] >= 65536;
    };
    for (const auto& [program, output] : {std::pair{decoder, "out.dff"}, {reverse, "out.dsf"}}) {
        const auto r = held({"-q", "in.dff", output}, true, program, large_write);
        EXPECT_EQ(r.status, 0) << program;
        expect_progress_lines(r.err, "in.dff  ", "%  ");
        EXPECT_EQ(r.err.find("  0%"), std::string::npos) << program << ": " << r.err;
    }
    EXPECT_EQ(read_file(dir / "out.dff"), testgen::plain_dff_file({}, sound));
}

// Files converted one after another, each held for less than the second
// at its first read of sound, all of them together for more: the line of
// whichever file is current shows once the run has taken the second.
TEST_F(Progress, ShownForABatchOfShortFilesOneAfterAnother) {
    const Bytes small = make(16 * 32768);
    std::vector<std::string> args{"-q", "-j", "1", "-t", "out"};
    for (const auto* name : {"1.dsf", "2.dsf", "3.dsf", "4.dsf", "5.dsf"}) {
        put(name, small);
        args.emplace_back(name);
    }
    RunOptions options;
    options.stop_after_syscall = [](long number, const SyscallArguments& arguments) {
        return is_large_pread(number, arguments) && arguments[3] < 65536;
    };
    options.stops = 5;
    options.while_stopped = [] { std::this_thread::sleep_for(std::chrono::milliseconds(400)); };
    for (const bool terminal : {true, false}) {
        options.stderr_terminal = terminal;
        const auto r = run(args, options);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.stopped);
        EXPECT_EQ(r.out, "");
        if (terminal) {
            expect_progress_lines(r.err, "", "/5 ");
        } else {
            EXPECT_EQ(r.err, "");
        }
        EXPECT_EQ(read_file(dir / "out/5.dff"), expected_dff(small, 2822400));
        fs::remove_all(dir / "out");
        fs::create_directory(dir / "out");
    }
}

TEST_F(Progress, AbsentWhenStandardErrorIsNoTerminal) {
    auto r = held({"in.dsf"}, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    r = held({"-j", "2", "-t", "out", "in.dsf", "two.dsf"}, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace dsd::test
