#include "FramePool.h"

namespace lustra::cli {

void FramePool::Lease::release() {
    if (frame_ && pool_) pool_->giveBack(std::move(frame_));
    frame_.reset();
    pool_ = nullptr;
}

FramePool::Lease FramePool::take(int width, int height) {
    const size_t size = size_t(width) * size_t(height);
    std::unique_ptr<HostFrame> frame;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The most recently returned frame first: its pages are the
        // likeliest to be in the cache.
        for (size_t i = idle_.size(); i-- > 0;)
            if (idle_[i]->pixels.capacity() >= size) {
                frame = std::move(idle_[i]);
                idle_.erase(idle_.begin() + std::ptrdiff_t(i));
                break;
            }
        if (!frame) ++created_;
    }
    if (!frame) {
        frame = std::make_unique<HostFrame>();
        frame->pixels.reserve(size_t(width) * size_t(height + spareRows_));
    }
    frame->width = width;
    frame->height = height;
    // Within the capacity: no allocation, and shrinking writes nothing.
    frame->pixels.resize(size);
    return Lease(this, std::move(frame));
}

void FramePool::giveBack(std::unique_ptr<HostFrame> frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.push_back(std::move(frame));
}

int FramePool::created() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return created_;
}

int FramePool::idle() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(idle_.size());
}

} // namespace lustra::cli
