#include "scratch_buffer.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace dsd {
namespace {

// As many as one conversion uses at once.
constexpr std::size_t max_spares = 4;

struct Spare {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t capacity = 0;
};

std::vector<Spare>& spares() {
    thread_local std::vector<Spare> kept;
    return kept;
}

}  // namespace

ScratchBuffer::ScratchBuffer(std::size_t size) : size_(size) {
    auto& kept = spares();
    // Room for every spare, so that giving one back never allocates.
    kept.reserve(max_spares);
    // The smallest spare that is large enough.
    auto best = kept.end();
    for (auto it = kept.begin(); it != kept.end(); ++it) {
        if (it->capacity >= size && (best == kept.end() || it->capacity < best->capacity)) {
            best = it;
        }
    }
    if (best != kept.end()) {
        data_ = std::move(best->data);
        capacity_ = best->capacity;
        kept.erase(best);
        return;
    }
    data_ = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    capacity_ = size;
}

ScratchBuffer::ScratchBuffer(ScratchBuffer&& other) noexcept
    : data_(std::move(other.data_)),
      capacity_(std::exchange(other.capacity_, 0)),
      size_(std::exchange(other.size_, 0)) {}

ScratchBuffer::~ScratchBuffer() {
    if (!data_) {
        return;
    }
    auto& kept = spares();
    // A thread that never took one keeps none: its list has no room.
    if (kept.capacity() < max_spares) {
        return;
    }
    if (kept.size() == max_spares) {
        // The smallest goes.
        const auto smallest = std::min_element(
            kept.begin(), kept.end(),
            [](const Spare& a, const Spare& b) { return a.capacity < b.capacity; });
        if (smallest->capacity >= capacity_) {
            return;
        }
        kept.erase(smallest);
    }
    kept.push_back({std::move(data_), capacity_});
}

}  // namespace dsd
