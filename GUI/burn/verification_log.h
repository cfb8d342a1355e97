// SPDX-License-Identifier: GPL-2.0-or-later
// What the window shows and logs of a verification: the progress line of the result sheet,
// its verdict, and the end of the burn log, written only after the verifier's thread has
// ended and before the log is closed.
#pragma once

#include <QString>
#include <cstdio>

#include "burn/verifier.h"
#include "shell/burn_log.h"

namespace quillion::burn {

// "Current File - <title>" (detailed, with a file) or "Current Sector - done/total".
QString verifyProgressText(const VerifyProgress& progress, bool showFile);
// "Verify Passed", "Verify Failed" or "Verify Cancelled"; empty while running.
QString verifyVerdictText(VerifyOutcome outcome);

// Joins the verifier, appends its line and the log's end block: result 0 for a passed
// verification, 1 for a cancelled one, 2 with "Verify Failed" for a failed one. Answers
// that result. The caller closes the log afterwards.
int finishVerificationLog(Verifier& verifier, std::FILE* log, const QString& burnTime,
                          const BurnLogFacts& facts);

}  // namespace quillion::burn
