// The pass's threads: each takes the next piece that has arrived, searches
// it with scratch of its own against one shared index of the colour cube,
// each unit the way chosen for it before any of it could be searched, and
// marks it done; no two threads write the same bytes. The caller is one of
// them while it awaits pieces.
#include "remap/threads.hpp"

#include <algorithm>
#include <cstring>
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

}  // namespace

Pass::Pass(const Sweeper& sweeper, const Signatures& all, const RemapOptions& options)
    : sweeper_(sweeper), all_(all), options_(options) {
  const platform::CacheSizes system = platform::DataCacheSizes();
  const CacheSizes& given = options.caches;
  machine_ = {sweeper.lanes, sweeper.quadLanes, given.level2 > 0 ? given.level2 : system.level2,
              given.level3 > 0 ? given.level3 : system.level3};
}

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
  units_ = (pixelCount + kUnitPixels - 1) / kUnitPixels;
  ways_.reset(new (std::nothrow) std::uint8_t[units_]());
  head_ = options_.search == SearchChoice::kCounted
              ? std::min<std::uint64_t>(kSamplePixels, pixelCount)
              : 0;
  // One index for all, made once a unit needs it: a single signature needs
  // none, and without room for the ways or the index every piece is searched
  // in full.
  indexable_ = ways_ && all_.count > 1 && options_.search != SearchChoice::kFull;
  if (options_.search == SearchChoice::kCounted && indexable_) {
    indexable_ = Allocate(recent_, std::size_t{1} << kRememberedBits);
  }
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
        threads_.emplace_back(&Pass::Work, this, std::ref(worker));
      }
    } catch (...) {
      // Fewer threads, or none: those that run take every piece, and with
      // none the caller does.
    }
  }
  if (options_.stats != nullptr)
    options_.stats->threads = static_cast<unsigned>(threads_.size() + 1);
}

void Pass::Decide(std::uint64_t pixels) {
  // Where no index can help, or there is no room for the ways, every unit
  // is searched in full.
  if (!indexable_) return;
  for (; decided_ < units_; ++decided_) {
    // The sample: the pixels before the unit, or the first unit's first.
    const std::uint64_t end = decided_ == 0 ? head_ : decided_ * kUnitPixels;
    const std::uint64_t samples = std::min<std::uint64_t>(kSamplePixels, end);
    const std::uint64_t from = std::max(end - samples, arrived_);
    const std::uint64_t to = std::min(end, pixels);
    if (to > from) {
      std::memcpy(sample_ + 3 * (from + samples - end), pixels_ + 3 * from,
                  static_cast<std::size_t>(3 * (to - from)));
    }
    // Remembered colours meet the pixels before the unit as a thread's do.
    for (std::uint64_t p = std::max(end - std::min(end, kRecentPixels), arrived_);
         recent_ && p < to; ++p) {
      const std::uint32_t key = RememberedKey(pixels_ + 3 * p);
      std::uint32_t& slot = recent_[SlotOf(key)];
      if (p + kRecentCounted >= end) {
        ++met_;
        missed_ += slot != key;
      }
      slot = key;
    }
    if (end > pixels) return;
    // The cheapest for the counts, whose sample is never empty, or the way
    // asked for.
    auto way = static_cast<Way>(static_cast<int>(options_.search) - 1);
    if (options_.search == SearchChoice::kCounted) {
      Counts counts = Count(all_, sample_, static_cast<int>(samples), pixelCount_);
      counts.recent = met_;
      counts.missed = missed_;
      way = Choose(counts, machine_, true);
      met_ = missed_ = 0;
    }
    // The index is made before any thread may search a unit that needs it;
    // without it, this unit and every later one is searched in full.
    if (way != kFull && !indexed_) indexed_ = MakeIndex(all_, kPoolBytes, index_);
    if (way != kFull && !indexed_) {
      indexable_ = false;
      return;
    }
    ways_[decided_] = static_cast<std::uint8_t>(way);
  }
}

void Pass::Search(std::uint64_t first, std::uint64_t last, Worker& worker) {
  // A thread takes room for its lists once a unit it searches needs the
  // index. The first pixels, searched in full, may come before their unit's
  // way is chosen.
  const std::uint64_t from = std::max(first, head_);
  for (std::uint64_t u = from / kUnitPixels; ways_ && from < last && u * kUnitPixels < last; ++u) {
    if (!worker.tried && ways_[u] != kFull) {
      worker.tried = true;
      worker.scratched = MakeScratch(all_, worker.scratch);
    }
  }
  sweeper_.sweep(Band{pixels_ + 3 * first, last - first, first, head_, ways_.get(), &all_, &index_,
                      worker.scratched ? &worker.scratch : nullptr, searched_});
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
  Decide(pixels);
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
  if (options_.stats != nullptr) {
    for (int w = 0; w < kWays; ++w) options_.stats->pixels[w] = searched_[w].load();
  }
}

}  // namespace remap
