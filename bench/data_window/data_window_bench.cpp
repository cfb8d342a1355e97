// SPDX-License-Identifier: GPL-2.0-or-later
// Drives a data window headless, as a person would: the files of FOLDER dropped on the disc
// row of its outline (text/uri-list, copy), then a burn to the ISO image writer through the
// window's burn road (the file check and sizing pass, the burn of the kept job, the result).
//
//   data_window_bench FOLDER IMAGE
//
// Prints one line of seconds: drop-to-shown (the drop until the outline holds the rows under
// the disc and the layout's totals count every file), sizing (Burn until the sized job is
// kept), burn (the job's run until the result sheet shows) and the window's total (drop,
// sizing and burn). The window's deliberate one-second wait before a burn starts is left
// out: its timers run on a clock the program moves by hand.
#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QMainWindow>
#include <QMimeData>
#include <QPushButton>
#include <QTreeView>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "burn/layout_codes.h"
#include "burn/thread_bridge.h"
#include "documents/data_win_ctlr.h"
#include "documents/layout_document_kinds.h"
#include "framework/defaults.h"
#include "framework/repeating_timer.h"
#include "framework/sheet_host.h"
#include "layout/data_layout_ctlr.h"
#include "layout/layout_services.h"
#include "quillion/DC.h"
#include "quillion/MMC.h"
#include "shell/burn_log.h"
#include "shell/device_list_manager.h"
#include "shell/preference_keys.h"
#include "shell/temp_folder_mgr.h"
#include "support/inline_executor.h"

namespace fs = std::filesystem;
using namespace quillion;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// HOME, the XDG folders and the drive folders of the run, removed at the end.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "quillion-datawin-XXXXXX").string();
    if (::mkdtemp(pattern.data())) root_ = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  bool ok() const { return !root_.empty(); }
  std::string folder(const char* name) const {
    const fs::path path = root_ / name;
    fs::create_directories(path);
    return path.string();
  }

 private:
  fs::path root_;
};

void setEnvironment(const Scratch& scratch) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::setenv("HOME", scratch.folder("home").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", scratch.folder("config").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", scratch.folder("cache").c_str(), 1);
  ::setenv("XDG_DATA_HOME", scratch.folder("data").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", scratch.folder("runtime").c_str(), 1);
  // No recorder takes part: only the image writers are listed.
  ::setenv("QUILLION_EMULATED_DRIVES", scratch.folder("drives").c_str(), 1);
  ::setenv("QUILLION_SYSTEM_DRIVES", "0", 1);
}

// Everything directly inside `folder`, in name order, as the desktop hands a selection over.
QMimeData* folderContents(const fs::path& folder) {
  std::vector<fs::path> paths;
  for (const auto& e : fs::directory_iterator(folder)) paths.push_back(e.path());
  std::sort(paths.begin(), paths.end());
  QList<QUrl> urls;
  for (const fs::path& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p.string()));
  auto* data = new QMimeData;
  data->setUrls(urls);
  return data;
}

std::size_t filesUnder(const fs::path& folder) {
  std::size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) ++files;
  return files;
}

// The rows the outline shows under the disc row, walked through the model as a view does.
std::size_t outlineRows(const DataLayoutCtlr& model, const QModelIndex& parent) {
  std::size_t rows = 0;
  const int count = model.rowCount(parent);
  for (int r = 0; r < count; ++r) {
    const QModelIndex child = model.index(r, 0, parent);
    (void)model.data(child);
    rows += 1 + (model.hasChildren(child) ? outlineRows(model, child) : 0);
  }
  return rows;
}

struct Figures {
  double dropShown = 0, sizing = 0, burn = 0;
  std::size_t rows = 0;
  std::uint32_t files = 0;
};

// The drop, the burn and the result, timed; false with a message when a step fails.
bool runWindow(const fs::path& folder, const fs::path& image, ManualTimerSource& timers,
               Figures& out) {
  const LayoutKind* kind = findLayoutDocumentKind(QStringLiteral("Data CD"));
  if (!kind) return false;
  DataWinCtlr window(*kind);
  test::InlineExecutor executor;
  window.setBurnExecutor(&executor);
  window.window()->show();
  QApplication::processEvents();
  if (window.formatType() != kFormatJoliet) {
    std::fprintf(stderr, "the window did not take the preferred format\n");
    return false;
  }
  std::unique_ptr<QMimeData> drop(folderContents(folder));

  const Clock::time_point t0 = Clock::now();
  DataLayoutCtlr& model = window.dataLayoutModel();
  if (!model.dropMimeData(drop.get(), Qt::CopyAction, -1, 0, model.index(0, 0))) {
    std::fprintf(stderr, "the drop was refused\n");
    return false;
  }
  QApplication::processEvents();
  out.rows = outlineRows(model, model.index(0, 0));
  std::uint32_t folders = 0;
  if (TreeInfo(window.layoutTree(), &folders, &out.files, nullptr, nullptr, true) != kNoErr) {
    std::fprintf(stderr, "no totals for the layout\n");
    return false;
  }
  const Clock::time_point t1 = Clock::now();

  window.setImageWriterPath(kISOImageWriterRef, QString::fromStdString(image.string()));
  QComboBox* popup = window.driveBar()->layoutDstDriveButton;
  popup->setCurrentIndex(popup->findData(kISOImageWriterRef));
  if (window.burnSettings().dstDriveRef != kISOImageWriterRef ||
      window.BSburnDisc() != BaseLayoutWinCtlr::BurnCheck::kOk || window.runningJob().BPRef == 0) {
    std::fprintf(stderr, "the burn was refused before it started\n");
    return false;
  }
  const Clock::time_point t2 = Clock::now();
  // The wait before the burn starts passes on the hand-moved clock, at no real cost; the
  // burn's own start, which it fires, is timed with the run.
  timers.advance(1s);
  if (window.sheets().currentSheet() != window.progressSheet()->dialog.get()) {
    std::fprintf(stderr, "no burn started\n");
    return false;
  }
  JobThreads::joinAll(window.runningJob().runTimeSharedData);
  timers.advance(200ms);
  const Clock::time_point t4 = Clock::now();
  if (window.sheets().currentSheet() != window.alertSheet()->dialog.get() ||
      window.runningJob().lastResult != kResultCompleted) {
    std::fprintf(stderr, "the burn did not complete\n");
    return false;
  }
  window.alertSheet()->ASOkButton->click();
  out.dropShown = secondsBetween(t0, t1);
  out.sizing = secondsBetween(t1, t2);
  out.burn = secondsBetween(t2, t4);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FOLDER IMAGE\n", argv[0]);
    return 2;
  }
  const fs::path folder = fs::absolute(argv[1]);
  const fs::path image = fs::absolute(argv[2]);
  Scratch scratch;
  if (!scratch.ok()) {
    std::perror("mkdtemp");
    return 1;
  }
  setEnvironment(scratch);
  QApplication app(argc, argv);
  if (DC_Init(1000) != kNoErr) {
    std::fprintf(stderr, "no device control\n");
    return 1;
  }

  Figures figures;
  bool ok = false;
  {
    Defaults defaults(QString::fromStdString(scratch.folder("settings")) +
                      QStringLiteral("/quillion.conf"));
    registerPreferenceDefaults(defaults);
    defaults.set(QString::fromLatin1(VUKVerifyDataKey), false);
    // ISO9660 with Joliet, the image the engine's route and xorriso -J make.
    defaults.set(QString::fromLatin1(VUKDataCDFormatKey), static_cast<int>(kFormatJoliet));
    TempFolderMgr temp(QStringLiteral("ZEBVUK_TEMPDIR_1456AHG"), defaults);
    DeviceListManager devices(QString(), [](QObject*, std::function<void()> fn) { fn(); });
    devices.refreshDiscStateNow(0, true);
    layoutServices() = LayoutServices{
        &devices,
        &defaults,
        &temp,
        [] { return BurnLogFacts::fromSystem(0); },
        QString::fromStdString(scratch.folder("log")) + QStringLiteral("/burnlog.txt"),
        {}};
    VirtualClock timerClock;
    ManualTimerSource timers(timerClock);
    ScopedTimerSourceOverride timerOverride(timers);
    ok = runWindow(folder, image, timers, figures);
    layoutServices() = LayoutServices{};
  }
  DC_Term();

  const std::size_t sourceFiles = filesUnder(folder);
  if (ok && figures.files != sourceFiles) {
    std::fprintf(stderr, "the layout counts %u files, the folder holds %zu\n", figures.files,
                 sourceFiles);
    ok = false;
  }
  std::printf("drop-shown %.3f sizing %.3f burn %.3f total %.3f files %u rows %zu %s\n",
              figures.dropShown, figures.sizing, figures.burn,
              figures.dropShown + figures.sizing + figures.burn, figures.files, figures.rows,
              ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
