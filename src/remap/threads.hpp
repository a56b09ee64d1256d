// The pass over a picture: its pixels in pieces, each remapped once it has
// arrived, by as many threads as the process may use or by the caller's.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "remap.hpp"
#include "remap/chooser.hpp"
#include "remap/index.hpp"
#include "remap/kernels.hpp"

namespace remap {

// One picture's pass. Start it, tell it how many of the pixels have arrived
// (in order, as often as they do), and await the pixels it has remapped,
// which come in order too. With one thread it works inside Arrived, on the
// caller's thread; with more, on its own, and the caller only waits. A
// thread that cannot be started leaves its share to the others, or to the
// caller; the bytes are the same either way. Stop, or destruction, returns
// once no thread of its touches the pixels.
class Pass {
 public:
  Pass(SweepFunction sweep, const Signatures& all, const RemapOptions& options);
  ~Pass() { Stop(); }
  Pass(const Pass&) = delete;
  Pass& operator=(const Pass&) = delete;

  void Start(std::uint8_t* pixels, std::uint64_t pixelCount);
  void Arrived(std::uint64_t pixels);
  void AwaitRemapped(std::uint64_t pixels);
  void Stop();

 private:
  // What one thread keeps from piece to piece.
  struct Worker {
    Chooser chooser{SearchChoice::kFull, false};
    Scratch scratch;
    bool scratched = false;
  };

  std::uint64_t PieceEnd(std::uint64_t piece) const;
  void Search(std::uint64_t piece, Worker& worker);
  void Work(Worker& worker);

  SweepFunction sweep_;
  const Signatures& all_;
  RemapOptions options_;
  std::uint8_t* pixels_ = nullptr;
  std::uint64_t pixelCount_ = 0, pieceSize_ = 1, pieces_ = 0;
  std::uint64_t threadCount_ = 1;  // as planned: what each thread expects to take
  Index index_;
  bool indexed_ = false;
  Worker caller_;                      // where no thread of its own runs
  std::unique_ptr<Worker[]> workers_;  // one a thread
  std::unique_ptr<bool[]> done_;
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable arrivedOrStopped_, remapped_;
  std::uint64_t arrived_ = 0;   // pixels
  std::uint64_t next_ = 0;      // the next piece to search
  std::uint64_t finished_ = 0;  // pieces remapped, all before the first not
  bool stop_ = false;
};

}  // namespace remap
