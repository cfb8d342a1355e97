// SPDX-License-Identifier: GPL-2.0-or-later
// The check before a layout is sized: every file the layout names must still be there.
// The walk runs on a worker; the models it reads are marked busy for its whole length so
// nobody edits them meanwhile, and every model marked busy is freed again whatever way the
// check ends. Files that are gone are handed on for the missing-files sheet.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "burn/burn_executor.h"

class FS_Node;
class FS_Tree;
class FS_List;

namespace quillion::burn {

// The layout of one window: any of the three may be absent. The nodes stay the layout's.
struct CheckedLayout {
  FS_Tree* tree = nullptr;
  FS_List* audioList = nullptr;
  FS_List* videoList = nullptr;
};

enum class LayoutModel { Data, Audio, Video };

// Which parts a kind of window checks (data, MP3 and picture discs walk the tree; mixed
// mode and CD Extra the tracks, then the tree; audio discs the tracks; Video CDs the movies).
enum class CheckRoutine { Tree, AudioThenTree, AudioList, VideoList };

// Above this many files and tracks the check shows its wait sheet.
inline constexpr std::uint32_t kQuietCheckLimit = 3000;

// Progress of a running check, read by the main thread's wait sheet.
struct FileCheckProgress {
  std::atomic<std::uint32_t> done{0};
  std::uint32_t total = 0;

  // The title of every 50th file, and of every track, for the sheet's text line.
  void count(const char* title, bool always);
  std::string currentTitle() const;

 private:
  mutable std::mutex mutex_;
  std::string title_;
};

struct FileCheckResult {
  std::vector<FS_Node*> missing;  // in layout order
  bool cancelled = false;
};

// Tree nodes: folders and items of an earlier session are skipped; a file whose path is
// gone counts as present when the path is a symbolic link (dangling or not). Track and movie
// nodes: a path that does not lead to a file, dangling links included, is missing.
bool treeNodeIsMissing(FS_Node* node);
bool trackNodeIsMissing(FS_Node* node);

// The walk itself, on the calling thread: stops at the next node once `cancel` is set.
FileCheckResult checkLayoutFiles(CheckRoutine routine, const CheckedLayout& layout,
                                 const std::atomic<bool>& cancel, FileCheckProgress* progress);

// The files and tracks a routine visits (the wait sheet's range).
std::uint32_t checkedItemCount(CheckRoutine routine, const CheckedLayout& layout);
// The models a routine reads, and so marks busy.
std::vector<LayoutModel> modelsOf(CheckRoutine routine);

// The window's side of a check. Every call arrives on the main thread.
struct FileCheckHooks {
  std::function<void(LayoutModel, bool busy)> setBusy;
  // Open the "Verifying Files" wait sheet over `progress` (large layouts only); close it.
  std::function<void(const FileCheckProgress& progress)> showWaitSheet;
  std::function<void()> closeWaitSheet;
  std::function<void(std::vector<FS_Node*> missing)> showMissingFiles;
  std::function<void()> proceedToSizing;
  // The burn does not take place: drive back to ready, destination pop-up enabled.
  std::function<void()> abandon;
};

class FileCheck {
 public:
  FileCheck(BurnExecutor& executor, FileCheckHooks hooks);
  ~FileCheck();
  FileCheck(const FileCheck&) = delete;
  FileCheck& operator=(const FileCheck&) = delete;

  // Main thread. Marks the models busy and starts the walk; false when a check runs already.
  bool start(CheckRoutine routine, const CheckedLayout& layout);
  // The wait sheet's Cancel: the walk stops and the request ends without a burn.
  void cancel() { state_->cancel = true; }
  bool running() const { return running_; }

  // The models this check marked busy. A cancelled check frees them itself; otherwise they
  // stay busy through the missing-files sheet and the sizing pass, and the window frees
  // them all with releaseModels() when the request ends either way.
  const std::vector<LayoutModel>& busyModels() const { return busy_; }
  void releaseModels();

 private:
  struct Shared {
    std::atomic<bool> cancel{false};
    FileCheckProgress progress;
    FileCheckResult result;
  };
  void finished(const std::shared_ptr<Shared>& state, bool showedSheet);

  BurnExecutor& executor_;
  FileCheckHooks hooks_;
  std::shared_ptr<Shared> state_ = std::make_shared<Shared>();
  std::vector<LayoutModel> busy_;
  bool running_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace quillion::burn
