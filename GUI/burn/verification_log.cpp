// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/verification_log.h"

#include "framework/cfmt.h"
#include "framework/messages.h"

namespace quillion::burn {

QString verifyProgressText(const VerifyProgress& p, bool showFile) {
  if (showFile && !p.currentFile.empty())
    return cfmt("%@ - %@", Msg::gui("Current File"), QString::fromStdString(p.currentFile));
  return cfmt("%@ - %d/%d", Msg::gui("Current Sector"), p.done, p.total);
}

QString verifyVerdictText(VerifyOutcome outcome) {
  switch (outcome) {
    case VerifyOutcome::Passed:
      return Msg::gui("Verify Passed");
    case VerifyOutcome::Failed:
      return Msg::gui("Verify Failed");
    case VerifyOutcome::Cancelled:
      return Msg::gui("Verify Cancelled");
    case VerifyOutcome::Running:
      break;
  }
  return {};
}

int finishVerificationLog(Verifier& verifier, std::FILE* log, const QString& burnTime,
                          const BurnLogFacts& facts) {
  verifier.join();
  VerifyOutcome outcome = verifier.outcome();
  // A verifier that never ran has not checked anything.
  if (outcome == VerifyOutcome::Running) outcome = VerifyOutcome::Failed;
  BurnLog::writeToLogFile(
      log, QString::fromStdString(verificationLogLine(verifier.verifyType(), outcome)));
  int result = kBurnSuccessful;
  QString title, message;
  if (outcome == VerifyOutcome::Cancelled) {
    result = kBurnCancelled;
  } else if (outcome == VerifyOutcome::Failed) {
    result = kBurnFailed;
    title = Msg::gui("Verify Failed");
    message = Msg::gui("Verification Failed");
  }
  BurnLog::writeLogFileEnd(log, result, burnTime, title, message, facts);
  return result;
}

}  // namespace quillion::burn
