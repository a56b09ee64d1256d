// The pass's threads: each takes the next piece that has arrived, searches
// it with a chooser and scratch of its own against one shared index of the
// colour cube, and marks it done; no two threads write the same bytes. The
// caller is one of them while it awaits pieces.
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
  // The caller is one of the threads: it reads and writes, and searches
  // while it waits. More threads than processors would take turns with it,
  // and hold up the reading and writing that no other thread can do.
  if (threads > 1) {
    workers_.reset(new (std::nothrow) Worker[threads - 1]);
    done_.reset(new (std::nothrow) bool[pieces_]());
  }
  if (workers_ && done_) {
    try {
      threads_.reserve(threads - 1);
      for (std::uint64_t t = 0; t + 1 < threads; ++t) {
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
  caller_.scratched = indexed_ && MakeScratch(all_, caller_.scratch);
  caller_.chooser = Chooser(options_.search, caller_.scratched);
}

std::uint64_t Pass::PieceEnd(std::uint64_t piece) const {
  return std::min(pixelCount_, (piece + 1) * pieceSize_);
}

std::uint64_t Pass::Unsearched(std::uint64_t piece) const {
  return std::max(piece * pieceSize_, ahead_);
}

void Pass::Search(std::uint64_t first, std::uint64_t last, Worker& worker) {
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
    SearchNext(lock, worker);
  }
}

void Pass::SearchNext(std::unique_lock<std::mutex>& lock, Worker& worker) {
  const std::uint64_t piece = next_++;
  const std::uint64_t first = Unsearched(piece);
  lock.unlock();
  Search(first, PieceEnd(piece), worker);
  lock.lock();
  done_[piece] = true;
  const std::uint64_t before = finished_;
  while (finished_ < pieces_ && done_[finished_]) ++finished_;
  if (finished_ != before) remapped_.notify_all();
}

void Pass::Arrived(std::uint64_t pixels) {
  if (threads_.empty()) {
    arrived_ = pixels;
    for (; next_ < pieces_ && PieceEnd(next_) <= pixels; ++next_) {
      Search(Unsearched(next_), PieceEnd(next_), caller_);
    }
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    arrived_ = pixels;
  }
  arrivedOrStopped_.notify_all();
}

bool Pass::AheadOfPieces(std::uint64_t pixels, Worker& worker) {
  const std::uint64_t first = Unsearched(next_);
  if (next_ == pieces_ || pixels <= first) return false;
  Search(first, pixels, worker);
  ahead_ = pixels;
  return true;
}

void Pass::AwaitRemapped(std::uint64_t pixels) {
  // Only the caller tells of arrivals: waiting for more would be for ever.
  pixels = std::min(pixels, arrived_);
  if (threads_.empty()) {
    AheadOfPieces(pixels, caller_);
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  const auto ready = [&] {
    return stop_ || pixels == 0 || finished_ == pieces_ ||
           (finished_ > 0 && PieceEnd(finished_ - 1) >= pixels) ||
           (finished_ == next_ && ahead_ >= pixels);
  };
  // Pieces arrive only through the caller, so while it waits none arrive
  // but those it has already told of; and no thread takes a piece that has
  // not arrived whole, so the caller may search the part of it that has.
  while (!ready()) {
    if (next_ < pieces_ && PieceEnd(next_) <= arrived_) {
      SearchNext(lock, caller_);
    } else if (finished_ != next_ || !AheadOfPieces(pixels, caller_)) {
      remapped_.wait(lock);
    }
  }
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
