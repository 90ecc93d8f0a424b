#include "tools/progress.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ostream>

namespace quillmesh::tool {
namespace {

// Quick imports show nothing.
constexpr auto kFirstShown = std::chrono::milliseconds(1000);
constexpr auto kInterval = std::chrono::milliseconds(250);

}  // namespace

Progress::Progress(std::ostream& err, bool enabled, std::string file)
    : err_(err), file_(std::move(file)), started_(std::chrono::steady_clock::now()) {
    if (enabled) {
        thread_ = std::thread([this] { tick(); });
    }
}

Progress::~Progress() {
    done();
}

void Progress::stage(const char* name) {
    stage_.store(name);
}

void Progress::done() {
    if (!thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    clearLine();
}

void Progress::write(const std::string& text) {
    const std::lock_guard lock(mutex_);
    clearLine();
    err_ << text;
    err_.flush();
}

void Progress::clearLine() {
    if (shown_ == 0) {
        return;
    }
    err_ << '\r' << std::string(shown_, ' ') << '\r';
    err_.flush();
    shown_ = 0;
}

void Progress::tick() {
    std::unique_lock lock(mutex_);
    if (wake_.wait_for(lock, kFirstShown, [this] { return stopping_; })) {
        return;
    }
    do {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        std::array<char, 32> time{};
        std::snprintf(time.data(), time.size(), "%.1f s", seconds);
        const std::string line =
            "quillmesh-import: " + file_ + ": " + stage_.load() + "... " + time.data();
        err_ << '\r' << line;
        if (line.size() < shown_) {
            err_ << std::string(shown_ - line.size(), ' ');
        }
        err_.flush();
        shown_ = std::max(shown_, line.size());
    } while (!wake_.wait_for(lock, kInterval, [this] { return stopping_; }));
}

}  // namespace quillmesh::tool
