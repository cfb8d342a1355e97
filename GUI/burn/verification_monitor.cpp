// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/verification_monitor.h"

#include <chrono>

#include "burn/verification_log.h"
#include "framework/messages.h"

namespace quillion::burn {
namespace {
constexpr auto kVerifyTimerInterval = std::chrono::milliseconds(200);
}

VerificationMonitor::VerificationMonitor(BP_RuntimeSharedData* shared, bool showFiles,
                                         VerificationDisplay display)
    : verifier_(shared), showFiles_(showFiles), display_(std::move(display)) {}

VerificationMonitor::~VerificationMonitor() {
  verifyTimer_.stop();
}

void VerificationMonitor::start() {
  verifier_.start();
  verifyTimer_.start(kVerifyTimerInterval, [this] { verifyProgressFunction(); });
}

void VerificationMonitor::verifyProgressFunction() {
  const VerifyProgress p = verifier_.progress();
  if (display_.progress) display_.progress(p.done, p.total, verifyProgressText(p, showFiles_));
  if (p.outcome != VerifyOutcome::Running) end(verifyVerdictText(p.outcome));
}

void VerificationMonitor::verifyCancel() {
  if (ended_) return;
  if (verifier_.cancel())
    end(Msg::gui(QStringLiteral("Verify Cancelled")));
  else
    end(verifyVerdictText(verifier_.outcome()));
}

void VerificationMonitor::end(const QString& verdict) {
  verifyTimer_.stop();
  ended_ = true;
  if (display_.ended) display_.ended(verdict);
}

int VerificationMonitor::finish(std::FILE* log, const QString& burnTime,
                                const BurnLogFacts& facts) {
  verifyTimer_.stop();
  return finishVerificationLog(verifier_, log, burnTime, facts);
}

}  // namespace quillion::burn
