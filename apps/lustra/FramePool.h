// Host frames for the render loop, used again instead of allocated anew:
// a frame taken from the pool belongs to whoever holds its lease (the
// reader filling it, the module reading it, the writer encoding it) and
// returns to the pool only when that lease ends, so that no frame is handed
// out again while anyone still reads or writes it. A frame taken again keeps
// its storage and its old contents: whoever takes it writes every pixel.
#pragma once

#include "Colour.h"

#include <memory>
#include <mutex>
#include <vector>

namespace lustra::cli {

class FramePool {
  public:
    class Lease {
      public:
        Lease() = default;
        Lease(Lease &&other) noexcept : pool_(other.pool_), frame_(std::move(other.frame_)) {
            other.pool_ = nullptr;
        }
        Lease &operator=(Lease &&other) noexcept {
            if (this != &other) {
                release();
                pool_ = other.pool_;
                frame_ = std::move(other.frame_);
                other.pool_ = nullptr;
            }
            return *this;
        }
        Lease(const Lease &) = delete;
        Lease &operator=(const Lease &) = delete;
        ~Lease() { release(); }

        explicit operator bool() const { return bool(frame_); }
        HostFrame &operator*() const { return *frame_; }
        HostFrame *operator->() const { return frame_.get(); }
        HostFrame *get() const { return frame_.get(); }
        // Gives the frame back now (a lease that holds none does nothing).
        void release();

      private:
        friend class FramePool;
        Lease(FramePool *pool, std::unique_ptr<HostFrame> frame)
            : pool_(pool), frame_(std::move(frame)) {}
        FramePool *pool_ = nullptr;
        std::unique_ptr<HostFrame> frame_;
    };

    // Frames hold room for `spareRows` rows beyond the size asked for, so
    // that a frame grown by a row (to an even height) keeps its storage.
    explicit FramePool(int spareRows = 1) : spareRows_(spareRows) {}
    // Every lease must have ended before the pool goes.
    ~FramePool() = default;
    FramePool(const FramePool &) = delete;
    FramePool &operator=(const FramePool &) = delete;

    // A frame of `width` x `height`, its pixels unspecified: one given back
    // earlier when there is one, else a new one.
    Lease take(int width, int height);

    // Frames made so far, and frames waiting in the pool.
    int created() const;
    int idle() const;

  private:
    void giveBack(std::unique_ptr<HostFrame> frame);

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<HostFrame>> idle_;
    int created_ = 0;
    int spareRows_;
};

} // namespace lustra::cli
