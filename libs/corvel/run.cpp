// SPDX-License-Identifier: GPL-2.0-or-later
#include "run.h"

#include "engine.h"
#include "push_units.h"
#include "settings.h"

namespace quillion::corvel {
namespace {

constexpr int kProgressSteps = 500;

// The engine writes program streams. An instance of a transport kind (set up only inside the
// library, its set-up refused to callers) queues what its producers announce but has no
// packet writer to run.
bool writesPackets(const mpeg_m_muxer& mux) {
  return mux.output != nullptr && isProgramStreamType(mux.settings.mux_type);
}

// Holds the busy counter for one run. A run asked for while it is held does nothing but ask
// the holder to look at the queues once more before it lets go.
class BusyGuard {
 public:
  explicit BusyGuard(mpeg_m_muxer& mux) : mux_(mux) {
    mux_.semaphore.wait();
    entered_ = mux_.busy == 0;
    if (entered_)
      mux_.busy = 1;
    else
      mux_.lookAgain = true;
    (void)mux_.semaphore.post();
  }
  ~BusyGuard() {
    if (entered_) (void)leaveUnlessAsked(true);
  }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;
  bool entered() const { return entered_; }
  // True (still held) when a run was asked for meanwhile; otherwise lets go.
  bool leaveUnlessAsked(bool always = false) {
    mux_.semaphore.wait();
    const bool again = mux_.lookAgain && !always;
    mux_.lookAgain = false;
    if (!again) {
      --mux_.busy;
      entered_ = false;
    }
    (void)mux_.semaphore.post();
    return again;
  }

 private:
  mpeg_m_muxer& mux_;
  bool entered_ = false;
};

std::int32_t prepare(mpeg_m_muxer& mux) {
  std::int32_t r = readFirstUnits(mux);
  if (r == 0) r = setupTiming(mux);
  if (r != 0) return r;
  mux.prepared = true;
  return 0;
}

// One pass of a push-mode run: steps while every live input is ready.
std::int32_t pushedPass(mpeg_m_muxer& mux) {
  if (!mux.prepared) {
    std::int32_t r = checkInputReady(mux);
    if (r != 0) return r;
    // A first unit that cannot be read or analysed now never will be: the job has failed.
    if (prepare(mux) != 0) return kResultFailure;
  }
  for (;;) {
    std::int32_t r = checkInputReady(mux);
    if (r != 0) return r;
    r = muxStep(mux);
    if (r != 0) return r;
  }
}

// Inputs whose queue ran dry take up what has been queued since.
void takeUpQueuedUnits(mpeg_m_muxer& mux) {
  for (int i = 0; i < mux.videoCount; ++i)
    if (!mux.videos[i]->hasUnit && !mux.videos[i]->ended) (void)advanceUnit(mux, *mux.videos[i]);
  for (int i = 0; i < mux.audioCount; ++i)
    if (!mux.audios[i]->hasUnit && !mux.audios[i]->ended) (void)advanceUnit(mux, *mux.audios[i]);
  for (int i = 0; i < mux.subpictureCount; ++i)
    if (!mux.subpictures[i]->hasUnit && !mux.subpictures[i]->ended)
      (void)advanceUnit(mux, *mux.subpictures[i]);
}

}  // namespace

std::int32_t runFileJob(mpeg_m_muxer& mux) {
  BusyGuard guard(mux);
  if (!guard.entered()) return 0;
  if (!mux.prepared) {
    const std::int32_t r = prepare(mux);
    if (r != 0) return r;
  }
  int steps = 0;
  while (anyUnitPending(mux)) {
    const std::int32_t r = muxStep(mux);
    if (r != 0) return r;
    if (++steps % kProgressSteps == 0) {
      mux.services.progress("Multiplexing access unit %d", steps);
      if (mux.services.yield() != 0) return kResultFailure;
    }
  }
  return 0;
}

std::int32_t runPushed(mpeg_m_muxer& mux) {
  const std::lock_guard held(mux.pushLock);
  if (!writesPackets(mux)) return 0;
  BusyGuard guard(mux);
  if (!guard.entered()) return 0;
  for (;;) {
    const std::int32_t r = pushedPass(mux);
    if (r == kResultFailure || !guard.leaveUnlessAsked()) return r;
  }
}

std::int32_t drainPushedInput(mpeg_m_muxer& mux, Input& in) {
  const std::lock_guard held(mux.pushLock);
  if (!writesPackets(mux)) return 0;
  BusyGuard guard(mux);
  if (!guard.entered() || !mux.prepared) return 0;
  if (!in.hasUnit && !in.ended) (void)advanceUnit(mux, in);
  while (in.hasUnit) {
    const std::int32_t r = muxStep(mux);
    if (r != 0) return r;
    if (!in.hasUnit && !in.ended) (void)advanceUnit(mux, in);
  }
  return 0;
}

std::int32_t flushAtDone(mpeg_m_muxer& mux, bool abort) {
  if (mux.videoCount + mux.audioCount + mux.subpictureCount == 0 || abort) return 0;
  const std::lock_guard held(mux.pushLock);
  // HDV HD2: what the video inputs still hold goes out with the rest. Every input's, so no
  // second input's last pictures are lost.
  std::int32_t released = 0;
  if (mux.push)
    for (int i = 0; i < mux.videoCount; ++i)
      if (releaseHeldPictures(mux, *mux.videos[i]) != 0) released = kResultFailure;
  if (!writesPackets(mux)) return released;
  BusyGuard guard(mux);
  if (!guard.entered()) return 0;
  mux.flushing = true;
  if (!mux.prepared) {
    // A file-mode job that never ran has nothing to finish.
    if (!mux.push) return 0;
    const std::int32_t r = prepare(mux);
    if (r != 0) return r;
  }
  std::int32_t result = released;
  if (mux.push) {
    takeUpQueuedUnits(mux);
    while (anyUnitPending(mux)) {
      result = muxStep(mux);
      if (result != 0) break;
    }
  }
  if (!mux.output) return result;
  flushIndexRecords(mux);
  (void)writeProgramEnd(mux);
  if (mux.scan && !mux.scan->flush())
    mux.services.error("M026:Unable to write the last pack to program file");
  if (endNavigation(mux) != 0) {
    mux.services.error("M031:Unable to write a DVD nav pack to program file");
    if (result == 0) result = kResultFailure;
  }
  return result;
}

}  // namespace quillion::corvel
