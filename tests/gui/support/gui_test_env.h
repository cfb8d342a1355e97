// SPDX-License-Identifier: GPL-2.0-or-later
// The environment of every GUI test process: HOME and the XDG folders in a temporary folder
// of its own (removed at exit), Qt on the offscreen platform unless told otherwise, and one
// QApplication for the whole process.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>

namespace quillion::test {

QApplication& guiApp();

// The per-process temporary folder that HOME and the XDG folders live in.
QString tempRoot();
// A new empty folder under tempRoot().
QString makeTempDir(const QString& name);

// Where a test leaves a picture of a window for people to look at: <build>/screenshots/ when
// QUILLION_BINARY_DIR is set, else a temporary folder.
QString screenshotPath(const QString& name);

// Delivers queued calls and deferred deletions.
void processEvents();

class GuiTest : public ::testing::Test {
 protected:
  // In the constructor, so that fixtures may hold widgets as members.
  GuiTest() { guiApp(); }
  void TearDown() override { processEvents(); }
};

}  // namespace quillion::test
