// The pass's threads: each takes the next piece that has arrived, searches
// it with a chooser and scratch of its own against one shared index of the
// colour cube, and marks it done; no two threads write the same bytes.
#include "remap/threads.hpp"

#include <algorithm>
#include <functional>
#include <new>

#include "platform/platform.hpp"

namespace remap {
namespace {

// Pieces start on whole blocks of every kernel.
constexpr std::uint64_t kBlockAlign = 64;
// Below this many pixels a thread's share would take about as long as
// starting the thread.
constexpr std::uint64_t kLeastShare = std::uint64_t{1} << 16;
// Pieces are at most this large, so that the first is soon ready and the
// last thread to finish soon follows the others; and each thread gets
// about kPiecesAThread of them, so that a thread that is held up (by the
// reader, say) leaves its pieces to the others.
constexpr std::uint64_t kLargestPiece = std::uint64_t{1} << 16;
constexpr std::uint64_t kPiecesAThread = 8;
// The index's lists take at most this.
constexpr std::size_t kPoolBytes = std::size_t{12} << 20;

}  // namespace

Pass::Pass(SweepFunction sweep, const Signatures& all, const RemapOptions& options)
    : sweep_(sweep), all_(all), options_(options) {}

void Pass::Start(std::uint8_t* pixels, std::uint64_t pixelCount) {
  pixels_ = pixels;
  pixelCount_ = pixelCount;
  std::uint64_t threads = options_.threads > 0 ? options_.threads
                                               : std::min<std::uint64_t>(platform::UsableCpuCount(),
                                                                         pixelCount / kLeastShare);
  threads =
      std::max<std::uint64_t>(1, std::min(threads, (pixelCount + kBlockAlign - 1) / kBlockAlign));
  pieceSize_ = std::clamp<std::uint64_t>(
      (pixelCount / (threads * kPiecesAThread) + kBlockAlign - 1) / kBlockAlign * kBlockAlign,
      kBlockAlign, kLargestPiece);
  pieces_ = (pixelCount + pieceSize_ - 1) / pieceSize_;
  // One index for all: a single signature needs none, and one that cannot
  // be had leaves every piece to the full search.
  indexed_ = all_.count > 1 && options_.search != SearchChoice::kFull &&
             MakeIndex(all_, kPoolBytes, index_);
  threadCount_ = threads;
  if (threads > 1) {
    workers_.reset(new (std::nothrow) Worker[threads]);
    done_.reset(new (std::nothrow) bool[pieces_]());
  }
  if (workers_ && done_) {
    try {
      threads_.reserve(threads);
      for (std::uint64_t t = 0; t < threads; ++t) {
        Worker& worker = workers_[t];
        worker.scratched = indexed_ && MakeScratch(all_, worker.scratch);
        worker.chooser = Chooser(options_.search, worker.scratched);
        threads_.emplace_back(&Pass::Work, this, std::ref(worker));
      }
    } catch (...) {
      // Fewer threads, or none: those that run take every piece, and with
      // none the caller does.
    }
  }
  if (threads_.empty()) {
    caller_.scratched = indexed_ && MakeScratch(all_, caller_.scratch);
    caller_.chooser = Chooser(options_.search, caller_.scratched);
  }
}

std::uint64_t Pass::PieceEnd(std::uint64_t piece) const {
  return std::min(pixelCount_, (piece + 1) * pieceSize_);
}

void Pass::Search(std::uint64_t piece, Worker& worker) {
  const std::uint64_t first = piece * pieceSize_, last = PieceEnd(piece);
  const std::uint64_t ahead = (pixelCount_ - last) / std::max<std::uint64_t>(1, threadCount_);
  sweep_(Band{pixels_ + 3 * first, last - first, &all_, indexed_ ? &index_ : nullptr,
              worker.scratched ? &worker.scratch : nullptr, &worker.chooser, ahead});
}

void Pass::Work(Worker& worker) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    arrivedOrStopped_.wait(
        lock, [&] { return stop_ || next_ == pieces_ || PieceEnd(next_) <= arrived_; });
    if (stop_ || next_ == pieces_) return;
    const std::uint64_t piece = next_++;
    lock.unlock();
    Search(piece, worker);
    lock.lock();
    done_[piece] = true;
    const std::uint64_t before = finished_;
    while (finished_ < pieces_ && done_[finished_]) ++finished_;
    if (finished_ != before) remapped_.notify_all();
  }
}

void Pass::Arrived(std::uint64_t pixels) {
  if (threads_.empty()) {
    for (; next_ < pieces_ && PieceEnd(next_) <= pixels; ++next_) Search(next_, caller_);
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    arrived_ = pixels;
  }
  arrivedOrStopped_.notify_all();
}

void Pass::AwaitRemapped(std::uint64_t pixels) {
  if (threads_.empty()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  remapped_.wait(lock, [&] {
    return stop_ || finished_ == pieces_ || (finished_ > 0 && PieceEnd(finished_ - 1) >= pixels);
  });
}

void Pass::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  arrivedOrStopped_.notify_all();
  remapped_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}

}  // namespace remap
