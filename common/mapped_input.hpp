// Forward, read-only access to the sound of an input file for the
// conversion loops. Mapped, the loops read the bytes where they lie in the
// page cache instead of copying them into a buffer first, and each window's
// pages are released once converted, so memory stays flat whatever the file
// size. Read, the bytes are copied into one fixed buffer: used when a
// mapping fails, for windows that hold a hole (mapping a tmpfs hole fills it
// with pages) and when asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>

namespace dsd {

struct ViewResult {
    bool ok = true;
    // Where the input ended or failed, as a read of the same bytes reports it.
    std::uint64_t failed_at = 0;
};

class MappedInput {
  public:
    enum class Access { mapped, read };

    // Most bytes a single view may span.
    static constexpr std::size_t max_view = std::size_t{1} << 20;

    explicit MappedInput(int fd, Access access = Access::mapped);
    ~MappedInput();
    MappedInput(const MappedInput&) = delete;
    MappedInput& operator=(const MappedInput&) = delete;

    // Passes the bytes [offset, offset + length) to `use`; length <= max_view.
    // A file that shrinks under a mapping ends `use` by a jump out of the
    // fault, so `use` may only compute on the bytes: nothing it owns may
    // need destroying, and it must not allocate or do I/O.
    template <typename Use>
    ViewResult view(std::uint64_t offset, std::size_t length, Use&& use) {
        using Fn = std::remove_reference_t<Use>;
        return view_with(
            offset, length,
            [](void* fn, std::span<const std::uint8_t> bytes) { (*static_cast<Fn*>(fn))(bytes); },
            const_cast<void*>(static_cast<const void*>(&use)));
    }

    // Becomes read for good once a mapping has failed.
    Access access() const { return access_; }

  private:
    using Consumer = void (*)(void*, std::span<const std::uint8_t>);

    ViewResult view_with(std::uint64_t offset, std::size_t length, Consumer use, void* context);
    ViewResult read_view(std::uint64_t offset, std::size_t length, Consumer use, void* context);
    ViewResult mapped_view(std::uint64_t offset, std::size_t length, Consumer use, void* context);
    // Maps the window that starts at the page of `offset`; false when the
    // view has to be read instead.
    bool map_window(std::uint64_t offset, std::uint64_t file_size);
    void unmap();
    ViewResult shortfall(std::uint64_t offset, std::size_t length, std::uint64_t failed_at) const;

    int fd_;
    Access access_;
    std::size_t page_;
    const std::uint8_t* map_ = nullptr;
    std::uint64_t map_offset_ = 0;
    std::size_t map_length_ = 0;
    std::uint64_t released_to_ = 0;  // file offset below which the window's pages are released
    std::uint64_t read_until_ = 0;   // a window with a hole ends here
    std::uint64_t data_until_ = 0;   // no hole below this offset
    bool populate_ = true;
    bool trap_installed_ = false;
    std::unique_ptr<std::uint8_t[]> buffer_;
};

}  // namespace dsd
