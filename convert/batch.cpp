#include "batch.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "driver.hpp"
#include "file_io.hpp"
#include "message_format.hpp"
#include "messages.hpp"

namespace dsd {
namespace {

namespace text = convert_text;

constexpr int failure = 1;

// An input refused before anything is opened: the message, and its value;
// a repeat of an earlier input is only skipped.
struct Refusal {
    std::string_view text;
    std::string value;
    bool skipped = false;
};

struct BatchJob {
    FileJob file;
    std::optional<Refusal> refusal;
    std::uint64_t size = 0;  // for the progress line
};

// Whether two names lead to one file (or are the same missing name).
bool same_file(const std::string& first, const std::string& second) {
    struct stat a {};
    struct stat b {};
    if (::stat(first.c_str(), &a) != 0 || ::stat(second.c_str(), &b) != 0) {
        return first == second;
    }
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::vector<BatchJob> plan_jobs(const Direction& direction, const ConverterCommand& command) {
    std::vector<BatchJob> jobs;
    // The first input to claim an output name keeps it: the same refusal
    // for the later ones however the conversions are spread over threads.
    std::unordered_map<std::string, std::size_t> outputs;
    for (const auto& input : command.names) {
        BatchJob job;
        job.file.input = input;
        if (const auto refusal = name_refusal(input, direction.input)) {
            job.refusal = Refusal{*refusal, input};
        } else {
            auto name = target_name(command.target, input, direction.output.lower, command.parents);
            if (!name) {
                job.refusal = Refusal{text::outside_target, input};
            } else if (const auto [earlier, added] = outputs.emplace(name->output, jobs.size());
                       !added) {
                const bool again = same_file(jobs[earlier->second].file.input, input);
                job.refusal =
                    Refusal{again ? text::given_again : text::same_output, name->output, again};
            } else {
                job.file.output = std::move(name->output);
                job.file.directories = std::move(name->directories);
            }
        }
        jobs.push_back(std::move(job));
    }
    return jobs;
}

// Runs work(index, slot) for every index below `count`, on up to `workers`
// threads, this one among them (slot 0). Fewer when the system has no more.
void run_workers(std::size_t count, unsigned workers,
                 const std::function<void(std::size_t, unsigned)>& work) {
    std::atomic<std::size_t> next{0};
    const auto loop = [&](unsigned slot) {
        for (std::size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) {
            work(i, slot);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned slot = 1; slot < workers; ++slot) {
        try {
            threads.emplace_back(loop, slot);
        } catch (const std::system_error&) {
            break;
        }
    }
    loop(0);
    for (auto& thread : threads) {
        thread.join();
    }
}

bool is_directory(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::uint64_t size_of(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

}  // namespace

int run_batch(const Direction& direction, const MakeConversion& make,
              const ConverterCommand& command, const char* program) {
    if (!is_directory(command.target)) {
        print_message(stdout, text::not_directory, command.target);
        return failure;
    }
    if (command.names.empty()) {
        print_message(stdout, direction.usage, program);
        return failure;
    }
    std::vector<BatchJob> jobs = plan_jobs(direction, command);
    prepare_process();

    const bool shown = ProgressDisplay::terminal_attached();
    ProgressDisplay::Plan plan;
    plan.files = jobs.size();
    if (shown) {
        for (auto& job : jobs) {
            job.size = job.refusal ? 0 : size_of(job.file.input);
            plan.total_bytes += job.size;
        }
    }
    plan.slots = static_cast<unsigned>(std::min<std::uint64_t>(
        {command.jobs, StagedOutput::max_at_once, std::uint64_t{jobs.size()}}));

    Console console;
    TargetDirectories directories;
    const FileSettings settings{command.no_clobber, command.parents ? &directories : nullptr};
    std::atomic<bool> any_failed{false};
    std::atomic<bool> output_lost{false};
    ProgressDisplay display(console, plan, shown);
    run_workers(jobs.size(), plan.slots, [&](std::size_t index, unsigned slot) {
        const BatchJob& job = jobs[index];
        FileReport report(console, job.file.input, FileReport::Mode::batch, command.quiet);
        ProgressCounter& progress = display.start(slot, index + 1, job.file.input, job.size);
        Outcome outcome = Outcome::failed;
        if (job.refusal && job.refusal->skipped) {
            report.about_input(job.refusal->text, job.refusal->value);
            outcome = Outcome::skipped;
        } else if (job.refusal) {
            report.message(Stream::out, job.refusal->text, job.refusal->value);
        } else {
            outcome = convert_file(job.file, *make(), report, progress, settings);
        }
        display.finish(slot, outcome == Outcome::failed);
        if (outcome == Outcome::failed) {
            any_failed = true;
        }
        // The header lines are information: lost ones are reported once.
        if (const int error = report.print(outcome == Outcome::converted);
            error != 0 && !output_lost.exchange(true)) {
            console.write_err(format_message(text::lost_output, error_text(error)));
        }
    });
    return any_failed ? failure : 0;
}

}  // namespace dsd
