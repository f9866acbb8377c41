#include "mapped_input.hpp"

#include <pthread.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <mutex>

#include "file_io.hpp"

namespace dsd {
namespace {

static_assert(sizeof(off_t) >= 8, "file offsets must be 64-bit");

// Large enough that remapping costs nothing next to the conversion, small
// enough for the address space of a 32-bit process. Only the view being
// converted is resident: the rest is released behind it.
constexpr std::size_t window_bytes = std::size_t{8} << 20;
static_assert(window_bytes >= 2 * MappedInput::max_view);

// A page of a mapping past the end of a file that shrank raises SIGBUS. While
// a view is being used, the handler turns a fault into a jump back to
// run_trapped, which finds out afterwards whether it came from the view; any
// other SIGBUS gets the disposition the process had before. The fault's
// address alone cannot decide: s390x reports only its page, and some
// emulators report nothing usable.
struct FaultTrap {
    sigjmp_buf jump;
    std::uintptr_t address = 0;
};

// A fault is delivered to the thread that made it, so each thread has its
// own trap; the handler is the process's, installed while any thread maps.
thread_local FaultTrap* volatile armed_trap = nullptr;
struct sigaction previous_bus_action {};
std::mutex trap_mutex;
int trap_users = 0;

void on_bus_error(int, siginfo_t* info, void*) {
    FaultTrap* trap = armed_trap;
    // si_code > 0: raised by the fault itself, not sent by a process.
    if (trap != nullptr && info->si_code > 0) {
        armed_trap = nullptr;
        trap->address = reinterpret_cast<std::uintptr_t>(info->si_addr);
        siglongjmp(trap->jump, 1);
    }
    ::sigaction(SIGBUS, &previous_bus_action, nullptr);
    if (info->si_code <= 0) {
        ::raise(SIGBUS);
    }
    // A fault returns to the instruction, which faults again under the old
    // disposition.
}

// A fault that was not the view's own, raised again as if no trap had been
// there.
void pass_fault_on() {
    struct sigaction ours {};
    ::sigaction(SIGBUS, &previous_bus_action, &ours);
    ::raise(SIGBUS);
    ::sigaction(SIGBUS, &ours, nullptr);
}

void install_trap() {
    const std::lock_guard lock(trap_mutex);
    if (trap_users++ == 0) {
        struct sigaction action {};
        action.sa_sigaction = on_bus_error;
        // No SIGBUS blocked in the handler, so the jump out needs no saved mask.
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previous_bus_action);
    }
}

void remove_trap() {
    const std::lock_guard lock(trap_mutex);
    if (--trap_users == 0) {
        ::sigaction(SIGBUS, &previous_bus_action, nullptr);
    }
}

// Nothing here may live across the jump but the trap itself; kept out of
// line so that no caller's locals share the frame.
[[gnu::noinline]] bool run_trapped(FaultTrap& trap,
                                   void (*use)(void*, std::span<const std::uint8_t>), void* context,
                                   std::span<const std::uint8_t> bytes) {
    if (sigsetjmp(trap.jump, 0) != 0) {
        sigset_t bus;
        sigemptyset(&bus);
        sigaddset(&bus, SIGBUS);
        ::pthread_sigmask(SIG_UNBLOCK, &bus, nullptr);
        return false;
    }
    armed_trap = &trap;
    use(context, bytes);
    armed_trap = nullptr;
    return true;
}

}  // namespace

MappedInput::MappedInput(int fd, Access access)
    : fd_(fd), access_(access), page_(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))) {}

MappedInput::~MappedInput() {
    unmap();
    if (trap_installed_) {
        remove_trap();
    }
}

ViewResult MappedInput::view_with(std::uint64_t offset, std::size_t length, Consumer use,
                                  void* context) {
    if (access_ == Access::mapped) {
        return mapped_view(offset, length, use, context);
    }
    return read_view(offset, length, use, context);
}

ViewResult MappedInput::read_view(std::uint64_t offset, std::size_t length, Consumer use,
                                  void* context) {
    if (!buffer_) {
        buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(max_view);
    }
    const std::span<std::uint8_t> bytes(buffer_.get(), length);
    const std::size_t got = read_full_at(fd_, bytes, offset);
    if (got != length) {
        return {false, offset + got};
    }
    use(context, bytes);
    return {};
}

ViewResult MappedInput::shortfall(std::uint64_t offset, std::size_t length,
                                  std::uint64_t failed_at) const {
    // A file that is now shorter fails where a read of it would stop.
    const auto size = file_size(fd_);
    if (size && *size < offset + length) {
        return {false, std::max(*size, offset)};
    }
    return {false, std::clamp<std::uint64_t>(failed_at, offset, offset + length)};
}

ViewResult MappedInput::mapped_view(std::uint64_t offset, std::size_t length, Consumer use,
                                    void* context) {
    const bool inside =
        map_ != nullptr && offset >= map_offset_ && offset - map_offset_ + length <= map_length_;
    if (!inside) {
        if (offset + length <= read_until_) {
            return read_view(offset, length, use, context);
        }
        const auto size = file_size(fd_);
        if (!size || *size < offset + length) {
            return shortfall(offset, length, offset);
        }
        unmap();
        if (!map_window(offset, *size)) {
            return read_view(offset, length, use, context);
        }
    }
    const std::span<const std::uint8_t> bytes(map_ + (offset - map_offset_), length);
#ifdef MADV_POPULATE_READ
    // The view's first page, found by pointer arithmetic, not an integer cast.
    const std::uint8_t* const first_page =
        bytes.data() - (reinterpret_cast<std::uintptr_t>(bytes.data()) & (page_ - 1));
    const auto span_length = static_cast<std::size_t>(bytes.data() + length - first_page);
    // One call maps the view's pages instead of a fault for every few.
    if (populate_ &&
        ::madvise(const_cast<std::uint8_t*>(first_page), span_length, MADV_POPULATE_READ) != 0) {
        if (errno == EFAULT) {
            unmap();
            return shortfall(offset, length, offset);
        }
        populate_ = errno != EINVAL && errno != ENOSYS;
    }
#endif
    FaultTrap trap;
    if (!run_trapped(trap, use, context, bytes)) {
        const auto begin = reinterpret_cast<std::uintptr_t>(map_);
        const bool in_map = trap.address >= begin && trap.address - begin < map_length_;
        const auto size = file_size(fd_);
        if (!in_map && size && *size >= offset + length) {
            // The file is whole, so the fault came from somewhere else.
            pass_fault_on();
        }
        const std::uint64_t fault_at = in_map ? map_offset_ + (trap.address - begin) : offset;
        unmap();
        return shortfall(offset, length, fault_at);
    }
    const std::uint64_t converted = (offset + length) & ~std::uint64_t{page_ - 1};
    if (converted > released_to_) {
        ::madvise(const_cast<std::uint8_t*>(map_ + (released_to_ - map_offset_)),
                  static_cast<std::size_t>(converted - released_to_), MADV_DONTNEED);
        released_to_ = converted;
    }
    return {};
}

bool MappedInput::map_window(std::uint64_t offset, std::uint64_t file_size) {
    const std::uint64_t start = offset & ~std::uint64_t{page_ - 1};
    const std::uint64_t end = std::min<std::uint64_t>(file_size, start + window_bytes);
    if (end > data_until_) {
        // Finding the next hole may walk the rest of the file: done once for
        // a file without holes.
        const off_t hole = ::lseek(fd_, static_cast<off_t>(start), SEEK_HOLE);
        data_until_ = hole >= 0 ? static_cast<std::uint64_t>(hole) : file_size;
        if (data_until_ < end) {
            read_until_ = end;
            return false;
        }
    }
    const auto length = static_cast<std::size_t>(end - start);
    void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(start));
    if (map == MAP_FAILED) {
        access_ = Access::read;
        return false;
    }
    ::madvise(map, length, MADV_SEQUENTIAL);
    if (!trap_installed_) {
        install_trap();
        trap_installed_ = true;
    }
    map_ = static_cast<const std::uint8_t*>(map);
    map_offset_ = start;
    map_length_ = length;
    released_to_ = start;
    return true;
}

void MappedInput::unmap() {
    if (map_ != nullptr) {
        ::munmap(const_cast<std::uint8_t*>(map_), map_length_);
        map_ = nullptr;
    }
}

}  // namespace dsd
