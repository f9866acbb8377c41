#include "splitter.hpp"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "byte_source.hpp"
#include "command_line.hpp"
#include "console.hpp"
#include "cue.hpp"
#include "dff_report.hpp"
#include "dff_to_dsf.hpp"
#include "dsdiff.hpp"
#include "dsf.hpp"
#include "dst_sound.hpp"
#include "file_io.hpp"
#include "file_name.hpp"
#include "id3_tag.hpp"
#include "message_format.hpp"
#include "messages.hpp"
#include "progress.hpp"
#include "staged_output.hpp"
#include "tool_options.hpp"
#include "track_names.hpp"
#include "track_plan.hpp"
#include "write_result.hpp"

namespace dsd {
namespace {

namespace text = convert_text;
namespace reverse = reverse_text;
namespace split = split_text;

constexpr int failure = 1;
constexpr std::uint64_t max_cue_bytes = std::uint64_t{1} << 20;
// Plain sound is read in steps of about this many bytes.
constexpr std::size_t read_step = std::size_t{256} << 10;

int say(std::string_view message, const std::string& value) {
    print_message(stdout, message, value);
    return failure;
}

void report(std::string_view message, std::string_view value) {
    print_message(stderr, message, value);
}

const Say to_stderr = report;

// The signals that end a process, held back for the whole run (the threads
// it starts inherit that): the run looks for one between two pieces of
// sound, undoes everything it made, and only then lets the signal end it as
// it would have. Faults are not held; they could not be answered anyway.
// Nor are signals the caller ignores (nohup, a background job): held, they
// would still be pending.
class HeldSignals {
  public:
    HeldSignals() : set_(terminating_signal_set()) {
        for (const int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT}) {
            sigdelset(&set_, sig);
        }
        for (int sig = 1; sig < NSIG; ++sig) {
            struct sigaction action {};
            if (sigismember(&set_, sig) == 1 && ::sigaction(sig, nullptr, &action) == 0 &&
                action.sa_handler == SIG_IGN) {
                sigdelset(&set_, sig);
            }
        }
        ::pthread_sigmask(SIG_BLOCK, &set_, &old_);
    }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

    bool pending() const {
        sigset_t pending;
        if (::sigpending(&pending) != 0) {
            return false;
        }
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sigismember(&set_, sig) == 1 && sigismember(&pending, sig) == 1) {
                return true;
            }
        }
        return false;
    }
    // Lets a held signal take its course.
    void release() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

  private:
    sigset_t set_;
    sigset_t old_{};
};

enum OptionIndex : std::size_t { cue_option, no_clobber_option, quiet_option, help, version };
constexpr std::array<OptionSpec, 5> option_specs{{
    {0, "cue", true},
    {'n', "no-clobber", false},
    {'q', "quiet", false},
    {'h', "help", false},
    {'V', "version", false},
}};

struct Settings {
    std::optional<std::string> cue;
    bool no_clobber = false;
    bool quiet = false;
    std::string input;
    std::string directory;
};

// One track as it will be written.
struct TrackJob {
    PlannedTrack cut;
    std::string name;                       // the directory's name, '/', the file's
    std::vector<std::uint8_t> tag;          // made for it, or
    std::optional<DffChunkSpan> tag_chunk;  // the input's own "ID3 " chunk of it
    std::uint64_t tag_length() const { return tag_chunk ? tag_chunk->size : tag.size(); }
};

enum class SinkFailure { none, cannot_create, write_failed, read_failed, interrupted };

// Takes the whole sound in order (from `start`, a byte offset into the
// channel-interleaved sound) and writes each track's slice of it as a DSF
// file, staged: the header, the blocks, the tag. Sound outside the tracks
// is dropped. The staged files are kept unnamed until the caller names them.
class TrackSink final : public dst::SoundSink {
  public:
    TrackSink(int in, std::optional<FileIdentity> input, const DsfPlan& plan,
              std::span<const TrackJob> jobs, const HeldSignals& signals, ProgressCounter& progress,
              std::uint64_t start)
        : in_(in),
          input_(input),
          plan_(plan),
          jobs_(jobs),
          signals_(signals),
          progress_(progress),
          position_(start),
          buffer_(std::size_t{64} << 10) {
        staged_.reserve(jobs.size());
    }

    bool take(std::span<const std::uint8_t> sound) override {
        progress_.add(sound.size());
        const std::uint64_t channels = plan_.layout.channel_count;
        while (!sound.empty() && next_ < jobs_.size()) {
            const PlannedTrack& cut = jobs_[next_].cut;
            const std::uint64_t begin = cut.first_byte * channels;
            const std::uint64_t end = cut.end_byte * channels;
            if (position_ < begin) {
                const auto skipped = static_cast<std::size_t>(
                    std::min<std::uint64_t>(sound.size(), begin - position_));
                sound = sound.subspan(skipped);
                position_ += skipped;
                continue;
            }
            if (!writer_ && !begin_track()) {
                return false;
            }
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(sound.size(), end - position_));
            if (!writer_->add(sound.first(n))) {
                return fail(SinkFailure::write_failed);
            }
            sound = sound.subspan(n);
            position_ += n;
            if (position_ == end && !end_track()) {
                return false;
            }
        }
        return !signals_.pending() || fail(SinkFailure::interrupted);
    }

    bool complete() const { return next_ == jobs_.size(); }
    std::vector<StagedOutput>& staged() { return staged_; }

    SinkFailure failure() const { return failure_; }
    const std::string& failed_name() const { return jobs_[next_].name; }
    std::int64_t failed_at() const { return failed_at_; }

  private:
    bool fail(SinkFailure f, std::optional<std::int64_t> at = std::nullopt) {
        failure_ = f;
        failed_at_ = at.value_or(out_ ? current_position(out_->fd()) : 0);
        return false;
    }

    bool begin_track() {
        const TrackJob& job = jobs_[next_];
        out_.reset();
        if (auto created = StagedOutput::create(job.name, input_)) {
            out_.emplace(std::move(*created));
        } else {
            return fail(SinkFailure::cannot_create);
        }
        track_plan_ = plan_;
        track_plan_.layout.bytes_per_channel = job.cut.end_byte - job.cut.first_byte;
        track_plan_.layout.tag_length = job.tag_length();
        if (!write_full(out_->fd(), make_dsf_header(track_plan_.layout))) {
            return fail(SinkFailure::write_failed);
        }
        writer_ = std::make_unique<DsfBlockWriter>(out_->fd(), track_plan_);
        return true;
    }

    bool end_track() {
        const TrackJob& job = jobs_[next_];
        if (!writer_->finish()) {
            return fail(SinkFailure::write_failed);
        }
        writer_.reset();
        if (job.tag_chunk) {
            const WriteResult copied =
                copy_range(in_, job.tag_chunk->offset, job.tag_chunk->size, out_->fd(), buffer_);
            if (copied.status == WriteStatus::read_failed) {
                return fail(SinkFailure::read_failed, copied.position);
            }
            if (copied.status != WriteStatus::ok) {
                return fail(SinkFailure::write_failed);
            }
        } else if (!write_full(out_->fd(), job.tag)) {
            return fail(SinkFailure::write_failed);
        }
        staged_.push_back(std::move(*out_));
        out_.reset();
        ++next_;
        return true;
    }

    int in_;
    std::optional<FileIdentity> input_;
    const DsfPlan& plan_;
    std::span<const TrackJob> jobs_;
    const HeldSignals& signals_;
    ProgressCounter& progress_;
    std::uint64_t position_;  // of the next byte taken
    std::vector<std::uint8_t> buffer_;
    std::size_t next_ = 0;  // the track being written, or the next one
    DsfPlan track_plan_;
    std::optional<StagedOutput> out_;
    std::unique_ptr<DsfBlockWriter> writer_;
    std::vector<StagedOutput> staged_;
    SinkFailure failure_ = SinkFailure::none;
    std::int64_t failed_at_ = 0;
};

// Reads the plain sound from byte `first` to `end` of the interleaved sound
// into the sink, a step at a time.
WriteResult feed_plain_sound(int in, const DsfPlan& plan, std::uint64_t first, std::uint64_t end,
                             TrackSink& sink) {
    const std::size_t channels = plan.layout.channel_count;
    std::vector<std::uint8_t> buffer(read_step / channels * channels);
    const std::span<std::uint8_t> step(buffer);
    for (std::uint64_t pos = first; pos < end;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(step.size(), end - pos));
        const std::uint64_t offset = plan.sound.offset + pos;
        const std::size_t got = read_full_at(in, step.first(n), offset);
        if (got != n) {
            return {WriteStatus::read_failed, static_cast<std::int64_t>(offset + got)};
        }
        if (!sink.take(step.first(n))) {
            return {WriteStatus::write_failed, 0};
        }
        pos += n;
    }
    return {};
}

std::string two_digits(std::uint64_t n) {
    std::string digits = std::to_string(n);
    if (n < 10) {
        digits.insert(digits.begin(), '0');
    }
    return digits;
}

// h:mm:ss.ff, ff the frame of 1/75 s (taken down), as a CUE sheet counts
// them: the places of an SACD's tracks and of a CUE sheet print exactly.
std::string clock_time(std::uint64_t samples, std::uint32_t rate) {
    const std::uint64_t seconds = samples / rate;
    const std::uint64_t frames = samples % rate * 75 / rate;
    return std::to_string(seconds / 3600) + ":" + two_digits(seconds / 60 % 60) + ":" +
           two_digits(seconds % 60) + "." + two_digits(frames);
}

std::string_view cue_error_text(CueError error) {
    switch (error) {
        case CueError::unknown_command:
            return split::cue_unknown_command;
        case CueError::no_closing_quote:
            return split::cue_no_closing_quote;
        case CueError::text_after_value:
            return split::cue_text_after_value;
        case CueError::no_value:
            return split::cue_no_value;
        case CueError::bad_track:
            return split::cue_bad_track;
        case CueError::not_audio:
            return split::cue_not_audio;
        case CueError::track_order:
            return split::cue_track_order;
        case CueError::index_before_track:
            return split::cue_index_before_track;
        case CueError::bad_index:
            return split::cue_bad_index;
        case CueError::index_order:
            return split::cue_index_order;
        case CueError::position_order:
            return split::cue_position_order;
        case CueError::no_start_index:
            return split::cue_no_start_index;
        case CueError::past_end:
            return split::cue_past_end;
        case CueError::bad_utf16:
            return split::cue_bad_utf16;
        case CueError::none:
            break;
    }
    return {};
}

void report_cue_error(CueError error, std::size_t line) {
    report(split::cue_line, std::to_string(line) + ": " + std::string(cue_error_text(error)));
}

// Reports a plan's refusal; `source` names the file without tracks.
void report_track_plan_error(const TrackPlan& plan, const std::string& source) {
    switch (plan.error) {
        case TrackPlanError::no_tracks:
            report(split::no_tracks, source);
            break;
        case TrackPlanError::marker_outside:
            report(split::marker_outside, std::to_string(plan.detail));
            break;
        case TrackPlanError::too_many_tracks:
            report(split::too_many_tracks, std::to_string(plan.detail));
            break;
        case TrackPlanError::track_too_short:
            report(split::track_too_short, std::to_string(plan.detail));
            break;
        case TrackPlanError::cue:
            report_cue_error(plan.cue_error, plan.detail);
            break;
        case TrackPlanError::none:
            break;
    }
}

// Everything decided before any output exists.
struct SplitPlan {
    DsfPlan dsf;
    std::vector<TrackJob> jobs;
};

class Splitter {
  public:
    Splitter(Settings settings, HeldSignals& signals)
        : settings_(std::move(settings)), signals_(signals) {}

    int run() {
        auto in = open_for_reading(settings_.input);
        const auto identity = in ? identity_of(in->get()) : std::nullopt;
        if (!identity) {
            return say(text::cannot_open_input, settings_.input);
        }
        std::string cue_text;
        if (settings_.cue && !read_cue(cue_text)) {
            return failure;
        }
        const auto size = file_size(in->get());
        if (!size) {
            report(text::read_error, "0");
            return failure;
        }
        const ByteSource source = file_source(in->get(), *size);
        if (!plan(source, cue_text)) {
            return failure;
        }
        if (settings_.no_clobber) {
            for (const TrackJob& job : plan_.jobs) {
                struct stat st {};
                if (::lstat(job.name.c_str(), &st) == 0) {
                    const std::string line =
                        settings_.input + ": " + format_message(text::not_overwritten, job.name);
                    std::fwrite(line.data(), 1, line.size(), stderr);
                    return 0;
                }
            }
        }
        if (signals_.pending()) {
            return interrupted();
        }
        if (!make_directory()) {
            return failure;
        }
        const int status = write(in->get(), identity);
        if (status != 0) {
            undo();
        }
        return status;
    }

  private:
    bool read_cue(std::string& text_out) {
        const std::string& name = *settings_.cue;
        auto cue = open_for_reading(name);
        if (!cue) {
            say(text::cannot_open_input, name);
            return false;
        }
        const auto size = file_size(cue->get());
        if (!size) {
            report(text::read_error, "0");
            return false;
        }
        if (*size > max_cue_bytes) {
            report(split::cue_too_large, name);
            return false;
        }
        text_out.assign(static_cast<std::size_t>(*size), '\0');
        const std::size_t got = read_full_at(
            cue->get(),
            std::span(reinterpret_cast<std::uint8_t*>(text_out.data()), text_out.size()), 0);
        if (got != text_out.size()) {
            report(text::read_error, std::to_string(got));
            return false;
        }
        return true;
    }

    bool plan(const ByteSource& source, const std::string& cue_text) {
        plan_.dsf = plan_dsf(source);
        if (plan_.dsf.error != DsfPlanError::none) {
            report_plan_error(plan_.dsf, to_stderr);
            return false;
        }
        const DffWalk& walk = plan_.dsf.walk;
        DffDiin diin;
        if (walk.diin) {
            diin = read_dff_diin(source, *walk.diin);
            if (diin.error != DffWalkError::none) {
                report_walk_error(diin, to_stderr);
                return false;
            }
        }
        const std::uint32_t rate = plan_.dsf.layout.sampling_frequency;
        const std::uint64_t bytes = plan_.dsf.layout.bytes_per_channel;
        TrackPlan tracks;
        std::string album = diin.title.value_or("");
        std::string artist = diin.artist.value_or("");
        if (settings_.cue) {
            const CueResult cue = parse_cue(cue_text);
            if (cue.error != CueError::none) {
                report_cue_error(cue.error, cue.line);
                return false;
            }
            tracks = plan_tracks(cue.sheet, rate, bytes);
            if (!cue.sheet.title.empty()) {
                album = cue.sheet.title;
            }
            if (!cue.sheet.performer.empty()) {
                artist = cue.sheet.performer;
            }
        } else {
            DffTimecode start;
            if (walk.start_time && !read_start_time(source, *walk.start_time, start)) {
                return false;
            }
            tracks = plan_tracks(diin.markers, start, rate, bytes);
        }
        if (tracks.error != TrackPlanError::none) {
            report_track_plan_error(tracks, settings_.cue ? *settings_.cue : settings_.input);
            return false;
        }
        return make_jobs(source, tracks, text_as_utf8(album), text_as_utf8(artist));
    }

    bool read_start_time(const ByteSource& source, const DffChunkSpan& chunk, DffTimecode& out) {
        std::array<std::uint8_t, dff_timecode_size> value{};
        if (chunk.size < value.size()) {
            report(reverse::wrong_chunk_size,
                   quoted_at(ChunkId{'A', 'B', 'S', 'S'}, chunk.offset - 12) + ", size " +
                       std::to_string(chunk.size));
            return false;
        }
        if (!source.read_exact(chunk.offset, value)) {
            report(text::read_error, std::to_string(chunk.offset));
            return false;
        }
        out = parse_dff_timecode(value);
        return true;
    }

    bool make_jobs(const ByteSource& source, const TrackPlan& tracks, const std::string& album,
                   const std::string& artist) {
        const DffWalk& walk = plan_.dsf.walk;
        const std::size_t count = tracks.tracks.size();
        // One "ID3 " chunk per track, in track order: each is its track's tag.
        const bool own_tags = walk.tag_chunk_count == count;
        std::string directory = settings_.directory;
        if (directory.back() != '/') {
            directory += '/';
        }
        for (std::size_t i = 0; i < count; ++i) {
            TrackJob job;
            job.cut = tracks.tracks[i];
            std::optional<std::string> title;
            if (own_tags) {
                const DffChunkSpan& chunk = walk.tag_chunks[i];
                std::array<std::uint8_t, 3> magic{};
                if (chunk.size >= magic.size() && !source.read_exact(chunk.offset, magic)) {
                    report(text::read_error, std::to_string(chunk.offset));
                    return false;
                }
                if (magic == std::array<std::uint8_t, 3>{'I', 'D', '3'}) {
                    job.tag_chunk = chunk;
                    // Cover art may come before the title, of any size.
                    const Id3TitleRead read = read_id3_title(source, chunk.offset, chunk.size);
                    if (read.read_error) {
                        report(text::read_error, std::to_string(*read.read_error));
                        return false;
                    }
                    title = read.title;
                }
            }
            if (!title || title->empty()) {
                title = text_as_utf8(job.cut.title);
            }
            if (!job.tag_chunk) {
                const std::string performer = text_as_utf8(job.cut.performer);
                const TrackTexts texts{*title, performer.empty() ? artist : performer, album,
                                       artist};
                job.tag = make_id3v24_tag(track_tag_frames(i + 1, count, texts))
                              .value_or(std::vector<std::uint8_t>());
            }
            job.name = directory + track_file_name(i + 1, *title);
            plan_.jobs.push_back(std::move(job));
        }
        return true;
    }

    // The directory for the tracks, made when missing.
    bool make_directory() {
        const std::string& dir = settings_.directory;
        struct stat st {};
        int error = ENOTDIR;
        if (::stat(dir.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                return true;
            }
        } else {
            if (errno == ENOENT && ::mkdir(dir.c_str(), 0777) == 0) {
                created_directory_ = true;
                return true;
            }
            error = errno;
        }
        report(text::cannot_make_directory, dir + " (" + std::strerror(error) + ")");
        return false;
    }

    // A staged track holds up to three descriptors (its directory, the
    // file, a lock on a temporary name) until the tracks are named; a soft
    // limit too low for that is raised as far as the hard one allows.
    static void allow_open_files(std::size_t tracks) {
        struct rlimit limit {};
        const auto wanted = static_cast<rlim_t>(3 * tracks + 64);
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < wanted) {
            limit.rlim_cur = std::min(wanted, limit.rlim_max);
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
    }

    int write(int in, std::optional<FileIdentity> identity) {
        allow_open_files(plan_.jobs.size());
        const DsfPlan& dsf = plan_.dsf;
        const std::uint64_t channels = dsf.layout.channel_count;
        const std::uint64_t first = plan_.jobs.front().cut.first_byte * channels;
        const std::uint64_t end = plan_.jobs.back().cut.end_byte * channels;
        // DST frames are decoded from the one the program starts in to the
        // one it ends in: a frame outside it is never decoded (a damaged one
        // there does not matter); plain sound is read from the program's start.
        DstFrameRange frames;
        std::uint64_t start = first;
        std::uint64_t total = end - first;
        if (dsf.dst) {
            const std::uint64_t frame = dsf.dst->sound.frame_bytes;
            frames.first = plan_.jobs.front().cut.first_byte / frame;
            frames.end = (plan_.jobs.back().cut.end_byte + frame - 1) / frame;
            start = frames.first * frame * channels;
            total = (frames.end - frames.first) * frame * channels;
        }

        Console console;
        ProgressDisplay display(console, {1, total, 1}, ProgressDisplay::terminal_attached());
        ProgressCounter& counter = display.start(0, 1, settings_.input, total);
        TrackSink sink(in, identity, dsf, plan_.jobs, signals_, counter, start);
        const WriteResult fed =
            dsf.dst ? decode_dst_sound(in, dsf.dst->sound, sink, -1, dst_threads_from_environment(),
                                       nullptr, frames)
                    : feed_plain_sound(in, dsf, first, end, sink);
        display.finish(0, fed.status != WriteStatus::ok || !sink.complete());
        if (!report_feed(fed, sink)) {
            return signals_.pending() ? interrupted() : failure;
        }
        if (!name_tracks(sink.staged())) {
            return signals_.pending() ? interrupted() : failure;
        }
        print_tracks(console);
        return 0;
    }

    bool report_feed(const WriteResult& fed, const TrackSink& sink) {
        switch (sink.failure()) {
            case SinkFailure::none:
                break;
            case SinkFailure::cannot_create:
                report(text::cannot_open_output, sink.failed_name());
                return false;
            case SinkFailure::write_failed:
                report(text::write_error,
                       sink.failed_name() + " at " + std::to_string(sink.failed_at()));
                return false;
            case SinkFailure::read_failed:
                report(text::read_error, std::to_string(sink.failed_at()));
                return false;
            case SinkFailure::interrupted:
                return false;
        }
        switch (fed.status) {
            case WriteStatus::ok:
                break;
            case WriteStatus::read_failed:
                report(text::read_error, std::to_string(fed.position));
                return false;
            case WriteStatus::damaged_frame:
                report(reverse::damaged_frame, std::to_string(fed.position));
                return false;
            case WriteStatus::write_failed:
                return false;
        }
        // The sound ended before the last track: the file changed meanwhile.
        if (!sink.complete()) {
            report(text::read_error, std::to_string(plan_.dsf.sound.offset + plan_.dsf.sound.size));
            return false;
        }
        return true;
    }

    // Names every track, in order; on a failure or a held signal the names
    // already given are taken back.
    bool name_tracks(std::vector<StagedOutput>& staged) {
        for (std::size_t i = 0; i < staged.size(); ++i) {
            if (signals_.pending()) {
                return false;
            }
            const auto end = current_position(staged[i].fd());
            switch (staged[i].commit()) {
                case StagedOutput::Commit::done:
                    named_ = i + 1;
                    continue;
                case StagedOutput::Commit::write_failed:
                    report(text::write_error, plan_.jobs[i].name + " at " + std::to_string(end));
                    return false;
                case StagedOutput::Commit::name_failed:
                    report(text::cannot_rename,
                           plan_.jobs[i].name + " (" + std::strerror(staged[i].error()) + ")");
                    return false;
                case StagedOutput::Commit::exists:  // only where existing files are kept
                    report(text::cannot_rename,
                           plan_.jobs[i].name + " (" + std::strerror(EEXIST) + ")");
                    return false;
            }
        }
        return true;
    }

    // Takes back what the run made: the tracks it named (the unnamed ones
    // go with their staging) and the directory if it made it.
    void undo() {
        for (std::size_t i = 0; i < named_; ++i) {
            ::unlink(plan_.jobs[i].name.c_str());
        }
        named_ = 0;
        if (created_directory_) {
            ::rmdir(settings_.directory.c_str());
        }
    }

    int interrupted() {
        undo();
        signals_.release();
        return failure;
    }

    void print_tracks(Console& console) const {
        if (settings_.quiet) {
            return;
        }
        const std::uint32_t rate = plan_.dsf.layout.sampling_frequency;
        std::string lines;
        for (std::size_t i = 0; i < plan_.jobs.size(); ++i) {
            const TrackJob& job = plan_.jobs[i];
            lines += two_digits(i + 1) + " " + clock_time(job.cut.first_byte * 8, rate) + "-" +
                     clock_time(job.cut.end_byte * 8, rate) + " " + job.name + "\n";
        }
        if (const int error = console.write(lines); error != 0) {
            report(text::lost_output, std::strerror(error));
        }
    }

    Settings settings_;
    HeldSignals& signals_;
    SplitPlan plan_;
    bool created_directory_ = false;
    std::size_t named_ = 0;
};

}  // namespace

int run_dff_splitter(int argc, char** argv, const char* name) {
    const auto is_name = [](std::string_view argument) {
        return check_file_name(argument, "dff", "DFF") == NameCheck::ok;
    };
    const OptionScan scan = scan_options(argc, argv, option_specs, is_name);
    Settings settings;
    for (const GivenOption& option : scan.options) {
        switch (option.spec) {
            case help:
                return print_option_text(
                    help_text(split::usage, argv[0], split::about, name, split::options_help));
            case version:
                return print_option_text(version_text(name));
            case cue_option:
                settings.cue = option.value;
                break;
            case no_clobber_option:
                settings.no_clobber = true;
                break;
            case quiet_option:
                settings.quiet = true;
                break;
            default:
                break;
        }
    }
    if (scan.error != OptionError::none) {
        return say(option_error_text(scan.error), scan.error_option);
    }
    if (scan.names.size() != 2) {
        return say(split::usage, argv[0] != nullptr ? argv[0] : "");
    }
    settings.input = scan.names[0];
    settings.directory = scan.names[1];
    switch (check_file_name(settings.input, "dff", "DFF")) {
        case NameCheck::no_dot:
            return say(text::wrong_filename, settings.input);
        case NameCheck::wrong_extension:
            return say(reverse::input_extension, settings.input);
        case NameCheck::ok:
            break;
    }
    if (settings.directory.empty()) {
        return say(text::wrong_filename, settings.directory);
    }
    // Failed writes are reported like any other, never a signal's end.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    HeldSignals signals;
    return Splitter(std::move(settings), signals).run();
}

}  // namespace dsd
