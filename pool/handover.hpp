// Blocks of finished work handed from pool workers to the calling thread
// while the workers go on, and their buffers handed back to be written
// again (warm in the cache, no fresh pages).
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace quillmere::pool {

template <class Block>
class Handover {
 public:
  // Workers: a block written before (cleared by the caller), or a new one.
  Block take_spare() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (spare_.empty()) return Block{};
    Block block = std::move(spare_.back());
    spare_.pop_back();
    return block;
  }

  void hand_over(Block&& block) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      ready_.push_back(std::move(block));
    }
    handed_over_.notify_one();
  }

  // Workers: a piece failed, so its blocks will not come.
  void stop() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    handed_over_.notify_one();
  }

  // Calling thread: the blocks handed over since the last call, without
  // waiting; false when there are none and nothing stopped, so that the
  // caller may do other work meanwhile.
  bool try_take(std::vector<Block>& taken) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (ready_.empty() && !stopped_) return false;
    taken.swap(ready_);
    return true;
  }

  // Calling thread: the blocks handed over since the last call, waiting for
  // at least one; none when a piece stopped.
  void take(std::vector<Block>& taken) {
    std::unique_lock<std::mutex> lock(mutex_);
    handed_over_.wait(lock, [&] { return !ready_.empty() || stopped_; });
    taken.swap(ready_);
  }

  // Calling thread: blocks done with, for the workers to write again.
  void give_back(std::vector<Block>& blocks) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (Block& block : blocks) spare_.push_back(std::move(block));
    blocks.clear();
  }

  bool stopped() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
  }

  // The calling thread gave up: workers write no more.
  void abandon() noexcept { abandoned_.store(true, std::memory_order_relaxed); }
  bool abandoned() const noexcept { return abandoned_.load(std::memory_order_relaxed); }
  // For work that polls a flag of its own kind (a parser's cancellation).
  const std::atomic<bool>* abandoned_flag() const noexcept { return &abandoned_; }

 private:
  std::mutex mutex_;
  std::condition_variable handed_over_;
  std::vector<Block> ready_;
  std::vector<Block> spare_;
  bool stopped_ = false;
  std::atomic<bool> abandoned_{false};
};

}  // namespace quillmere::pool
