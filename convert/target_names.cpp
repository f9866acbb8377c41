#include "target_names.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file_name.hpp"

namespace dsd {

std::optional<TargetName> target_name(std::string_view dir, std::string_view input,
                                      std::string_view extension, bool parents) {
    const auto slash = input.rfind('/');
    const std::string_view base = slash == std::string_view::npos ? input : input.substr(slash + 1);
    const auto stem = file_stem_with_dot(base);
    if (!stem) {
        return std::nullopt;
    }
    TargetName name;
    std::string path(dir);
    if (!path.ends_with('/')) {
        path += '/';
    }
    if (parents && slash != std::string_view::npos) {
        if (input.front() == '/') {
            return std::nullopt;
        }
        std::string_view rest = input.substr(0, slash + 1);
        while (!rest.empty()) {
            const auto end = rest.find('/');
            const auto part = rest.substr(0, end);
            rest.remove_prefix(end + 1);
            if (part.empty() || part == ".") {
                continue;
            }
            if (part == "..") {
                return std::nullopt;
            }
            path += part;
            name.directories.push_back(path);
            path += '/';
        }
    }
    name.output = path + *stem + std::string(extension);
    return name;
}

TargetDirectories::Lease::Lease(Lease&& other) noexcept
    : owner_(other.owner_), used_(std::move(other.used_)), kept_(other.kept_) {
    other.owner_ = nullptr;
}

TargetDirectories::Lease& TargetDirectories::Lease::operator=(Lease&& other) noexcept {
    if (this != &other) {
        release();
        owner_ = other.owner_;
        used_ = std::move(other.used_);
        kept_ = other.kept_;
        other.owner_ = nullptr;
    }
    return *this;
}

TargetDirectories::Lease::~Lease() {
    release();
}

void TargetDirectories::Lease::release() {
    if (owner_ != nullptr) {
        owner_->release(used_, !kept_);
        owner_ = nullptr;
    }
}

TargetDirectories::Made TargetDirectories::make(const std::vector<std::string>& directories) {
    const std::lock_guard lock(mutex_);
    Made made;
    made.lease.owner_ = this;
    for (const auto& dir : directories) {
        if (const auto known = users_.find(dir); known != users_.end()) {
            ++known->second.conversions;
            made.lease.used_.push_back(dir);
            continue;
        }
        // The mode a new directory gets under the umask, as mkdir -p gives.
        if (::mkdir(dir.c_str(), 0777) == 0) {
            users_.emplace(dir, Use{1, std::make_unique<MadeDirectory>(dir)});
            made.lease.used_.push_back(dir);
        } else if (errno != EEXIST) {
            made.failed = dir;
            made.error = errno;
            break;
        }
    }
    return made;
}

void TargetDirectories::release(const std::vector<std::string>& used, bool remove) {
    const std::lock_guard lock(mutex_);
    for (auto dir = used.rbegin(); dir != used.rend(); ++dir) {
        const auto known = users_.find(*dir);
        if (known == users_.end() || --known->second.conversions != 0) {
            continue;
        }
        // Fails, as it should, once another conversion's output is inside.
        if (remove) {
            ::rmdir(dir->c_str());
        }
        users_.erase(known);
    }
}

}  // namespace dsd
