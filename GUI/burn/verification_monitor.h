// SPDX-License-Identifier: GPL-2.0-or-later
// The result sheet's side of a verification: the verifier's thread, a 0.2 s timer that
// shows its progress and its verdict, the cancel button, and the end of the burn log once
// the thread has been joined. The window calls finish() when the user dismisses the result,
// before it deletes the job and closes the log.
#pragma once

#include <QString>
#include <cstdio>
#include <functional>

#include "burn/verifier.h"
#include "framework/repeating_timer.h"
#include "shell/burn_log.h"

namespace quillion::burn {

struct VerificationDisplay {
  // The indicator (blocks done of total) and the message field.
  std::function<void(std::uint32_t done, std::uint32_t total, const QString& text)> progress;
  // The verification has ended or was cancelled: the indicator goes to its maximum, the
  // verdict is shown, Cancel is disabled and OK enabled.
  std::function<void(const QString& verdict)> ended;
};

class VerificationMonitor {
 public:
  // `showFiles`: the detailed display ("Current File - ...") of the preferences.
  VerificationMonitor(BP_RuntimeSharedData* shared, bool showFiles, VerificationDisplay display);
  ~VerificationMonitor();  // stops the timer; the verifier joins its thread

  void start();
  // The sheet's Cancel: the display stops at once with "Verify Cancelled"; the thread stops
  // at its next read.
  void verifyCancel();
  bool ended() const { return ended_; }
  // Joins the thread and writes the log's verdict and end block (verification_log.h).
  int finish(std::FILE* log, const QString& burnTime, const BurnLogFacts& facts);
  Verifier& verifier() { return verifier_; }

 private:
  void verifyProgressFunction();
  void end(const QString& verdict);

  Verifier verifier_;
  bool showFiles_;
  VerificationDisplay display_;
  RepeatingTimer verifyTimer_;
  bool ended_ = false;
};

}  // namespace quillion::burn
