// The pass over a picture: its pixels in pieces, each remapped once it has
// arrived, by as many threads as the process may use or by the caller's.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "remap.hpp"
#include "remap/choice.hpp"
#include "remap/index.hpp"
#include "remap/kernels.hpp"

namespace remap {

// One picture's pass. Start it, tell it how many of the pixels have arrived
// (in order, as often as they do), and await the pixels it has remapped,
// which come in order too; all from one thread, the caller's. With one
// thread it works inside Arrived; with more, on threads of its own, one
// fewer than planned, and on the caller's while it awaits pixels. A thread
// that cannot be started leaves its share to the others, or to the caller
// inside Arrived; the bytes are the same either way. Stop, or destruction,
// returns once no thread of its touches the pixels.
class Pass {
 public:
  Pass(const Sweeper& sweeper, const Signatures& all, const RemapOptions& options);
  ~Pass() { Stop(); }

  void Start(std::uint8_t* pixels, std::uint64_t pixelCount);
  void Arrived(std::uint64_t pixels);
  void AwaitRemapped(std::uint64_t pixels);
  void Stop();

 private:
  // What one thread keeps from piece to piece.
  struct Worker {
    Scratch scratch;
    bool tried = false, scratched = false;
  };

  // Chooses the way of every unit whose sample is among the first `pixels`,
  // which have arrived; keeps what has arrived of the next unit's sample,
  // before any thread may search it.
  void Decide(std::uint64_t pixels);
  std::uint64_t PieceEnd(std::uint64_t piece) const {
    return std::min(pixelCount_, (piece + 1) * pieceSize_);
  }
  // The first pixel of `piece` not searched ahead of it.
  std::uint64_t Unsearched(std::uint64_t piece) const {
    return std::max(piece * pieceSize_, ahead_);
  }
  void Search(std::uint64_t first, std::uint64_t last, Worker& worker);
  // Where the first `pixels` (all arrived) are more than the pieces taken
  // hold, searches them ahead of the piece that holds the last of them, on
  // the caller's thread; false when there is nothing to do so.
  bool AheadOfPieces(std::uint64_t pixels, Worker& worker);
  // Takes the next piece, searches it unlocked and marks it done.
  void SearchNext(std::unique_lock<std::mutex>& lock, Worker& worker);
  void Work(Worker& worker);

  const Sweeper& sweeper_;
  const Signatures& all_;
  RemapOptions options_;
  Machine machine_;
  std::uint8_t* pixels_ = nullptr;
  std::uint64_t pixelCount_ = 0, pieceSize_ = 1, pieces_ = 0;
  std::uint64_t head_ = 0;                // the first pixels, which the full search takes
  std::unique_ptr<std::uint8_t[]> ways_;  // per unit
  std::uint64_t units_ = 0, decided_ = 0;
  std::uint8_t sample_[3 * kSamplePixels];   // of the next unit to decide
  std::unique_ptr<std::uint32_t[]> recent_;  // keys of colours, as a thread remembers them
  std::int32_t met_ = 0, missed_ = 0;        // of the next unit's recent pixels
  std::atomic<std::uint64_t> searched_[kWays] = {};
  Index index_;
  bool indexable_ = false, indexed_ = false;  // the caller's alone
  Worker caller_;                      // the caller's, while it waits or where no thread runs
  std::unique_ptr<Worker[]> workers_;  // one a thread of its own
  std::unique_ptr<bool[]> done_;
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable arrivedOrStopped_, remapped_;
  std::uint64_t arrived_ = 0;   // pixels
  std::uint64_t next_ = 0;      // the next piece to search
  std::uint64_t finished_ = 0;  // pieces remapped, all before the first not
  std::uint64_t ahead_ = 0;     // pixels searched, if more than the pieces taken hold
  bool stop_ = false;
};

}  // namespace remap
