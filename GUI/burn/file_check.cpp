// SPDX-License-Identifier: GPL-2.0-or-later
#include "burn/file_check.h"

#include <sys/stat.h>

#include "quillion/FS.h"

namespace quillion::burn {
namespace {

bool checkPathLeadsToFile(const char* path) {
  struct stat st {};
  return path != nullptr && *path != '\0' && ::stat(path, &st) == 0;
}

bool checkPathIsSymlink(const char* path) {
  struct stat st {};
  return path != nullptr && *path != '\0' && ::lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

struct FileCheckWalk {
  const std::atomic<bool>* cancel;
  FileCheckProgress* progress;
  std::vector<FS_Node*>* missing;
  bool cancelled = false;
};

void visitCheckedNode(FS_Node* node, bool* stop, void* context, std::uint16_t, bool*) {
  auto& walk = *static_cast<FileCheckWalk*>(context);
  if (IsFolderNode(node) || IsISO9660ImportItem(node)) return;
  if (walk.cancel->load()) {
    walk.cancelled = true;
    *stop = true;
    return;
  }
  if (walk.progress) walk.progress->count(GetTitleNode(node), false);
  if (treeNodeIsMissing(node)) walk.missing->push_back(node);
}

// Every track of `list`; false when the walk was cancelled.
bool checkTrackList(FS_List* list, const std::atomic<bool>& cancel, FileCheckProgress* progress,
                    std::vector<FS_Node*>& missing) {
  if (!list) return true;
  const std::uint32_t n = SizeOfList(list);
  for (std::uint32_t i = 0; i < n; ++i) {
    if (cancel.load()) return false;
    FS_Node* node = NodeAtIndex(list, i);
    if (progress && node) progress->count(GetTitleNode(node), true);
    if (node && trackNodeIsMissing(node)) missing.push_back(node);
  }
  return true;
}

bool checkTreeFiles(FS_Tree* tree, const std::atomic<bool>& cancel, FileCheckProgress* progress,
                    std::vector<FS_Node*>& missing) {
  if (!tree) return true;
  FileCheckWalk walk{&cancel, progress, &missing};
  std::uint16_t depth = 0;
  (void)WalkWholeTree(tree, visitCheckedNode, &walk, &depth);
  return !walk.cancelled;
}

std::uint32_t checkedTreeFiles(FS_Tree* tree) {
  std::uint32_t files = 0;
  if (tree && TreeInfo(tree, nullptr, &files, nullptr, nullptr, true) != kNoErr) files = 0;
  return files;
}

constexpr std::uint32_t kCheckTitleEvery = 50;

}  // namespace

void FileCheckProgress::count(const char* title, bool always) {
  const std::uint32_t n = done.fetch_add(1) + 1;
  if (!always && n % kCheckTitleEvery != 0) return;
  std::lock_guard lock(mutex_);
  title_ = title ? title : "";
}

std::string FileCheckProgress::currentTitle() const {
  std::lock_guard lock(mutex_);
  return title_;
}

bool treeNodeIsMissing(FS_Node* node) {
  if (IsFolderNode(node) || IsISO9660ImportItem(node)) return false;
  const char* path = GetFullPathNameNode(node);
  return !checkPathLeadsToFile(path) && !checkPathIsSymlink(path);
}

bool trackNodeIsMissing(FS_Node* node) {
  return !checkPathLeadsToFile(GetFullPathNameNode(node));
}

std::vector<LayoutModel> modelsOf(CheckRoutine routine) {
  switch (routine) {
    case CheckRoutine::Tree:
      return {LayoutModel::Data};
    case CheckRoutine::AudioThenTree:
      return {LayoutModel::Data, LayoutModel::Audio};
    case CheckRoutine::AudioList:
      return {LayoutModel::Audio};
    case CheckRoutine::VideoList:
      return {LayoutModel::Video};
  }
  return {};
}

std::uint32_t checkedItemCount(CheckRoutine routine, const CheckedLayout& layout) {
  switch (routine) {
    case CheckRoutine::Tree:
      return checkedTreeFiles(layout.tree);
    case CheckRoutine::AudioThenTree:
      return checkedTreeFiles(layout.tree) + (layout.audioList ? SizeOfList(layout.audioList) : 0);
    case CheckRoutine::AudioList:
      return layout.audioList ? SizeOfList(layout.audioList) : 0;
    case CheckRoutine::VideoList:
      return layout.videoList ? SizeOfList(layout.videoList) : 0;
  }
  return 0;
}

FileCheckResult checkLayoutFiles(CheckRoutine routine, const CheckedLayout& layout,
                                 const std::atomic<bool>& cancel, FileCheckProgress* progress) {
  FileCheckResult result;
  bool whole = true;
  switch (routine) {
    case CheckRoutine::Tree:
      whole = checkTreeFiles(layout.tree, cancel, progress, result.missing);
      break;
    case CheckRoutine::AudioThenTree:
      whole = checkTrackList(layout.audioList, cancel, progress, result.missing) &&
              checkTreeFiles(layout.tree, cancel, progress, result.missing);
      break;
    case CheckRoutine::AudioList:
      whole = checkTrackList(layout.audioList, cancel, progress, result.missing);
      break;
    case CheckRoutine::VideoList:
      whole = checkTrackList(layout.videoList, cancel, progress, result.missing);
      break;
  }
  // A cancel that came after the last node still ends the request.
  result.cancelled = !whole || cancel.load();
  return result;
}

FileCheck::FileCheck(BurnExecutor& executor, FileCheckHooks hooks)
    : executor_(executor), hooks_(std::move(hooks)) {}

FileCheck::~FileCheck() {
  // A result that arrives after the window's check is gone finds no state to act on.
  state_->cancel = true;
  alive_.reset();
}

bool FileCheck::start(CheckRoutine routine, const CheckedLayout& layout) {
  if (running_) return false;
  running_ = true;
  state_ = std::make_shared<Shared>();
  for (LayoutModel m : modelsOf(routine)) {
    busy_.push_back(m);
    if (hooks_.setBusy) hooks_.setBusy(m, true);
  }
  state_->progress.total = checkedItemCount(routine, layout);
  const bool showSheet = state_->progress.total > kQuietCheckLimit;
  if (showSheet && hooks_.showWaitSheet) hooks_.showWaitSheet(state_->progress);
  auto state = state_;
  std::weak_ptr<bool> alive = alive_;
  executor_.run(
      [state, routine, layout] {
        state->result = checkLayoutFiles(routine, layout, state->cancel, &state->progress);
      },
      [this, alive, state, showSheet] {
        if (alive.lock()) finished(state, showSheet);
      });
  return true;
}

void FileCheck::releaseModels() {
  for (LayoutModel m : busy_)
    if (hooks_.setBusy) hooks_.setBusy(m, false);
  busy_.clear();
}

void FileCheck::finished(const std::shared_ptr<Shared>& state, bool showedSheet) {
  running_ = false;
  if (showedSheet && hooks_.closeWaitSheet) hooks_.closeWaitSheet();
  if (state->result.cancelled) {
    releaseModels();
    if (hooks_.abandon) hooks_.abandon();
    return;
  }
  if (!state->result.missing.empty()) {
    // The models stay busy while the sheet is up: the user edits the layout through it.
    if (hooks_.showMissingFiles) hooks_.showMissingFiles(std::move(state->result.missing));
    return;
  }
  // The models stay busy through sizing, which reads them on its own worker.
  if (hooks_.proceedToSizing) hooks_.proceedToSizing();
}

}  // namespace quillion::burn
