// SPDX-License-Identifier: GPL-2.0-or-later
#include "data_window_fixture.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <chrono>

#include "burn/thread_bridge.h"
#include "documents/layout_document_kinds.h"
#include "framework/messages.h"
#include "framework/sheet_host.h"
#include "layout/data_layout_ctlr.h"
#include "quillion/MMC.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace quillion::test {

void writeTree(const fs::path& root, const std::map<std::string, std::string>& files) {
  for (const auto& [path, bytes] : files) {
    fs::create_directories((root / path).parent_path());
    writeFile(root / path, bytes);
  }
}

std::shared_ptr<emu::EmulatedDrive> DataWindowTest::plugBlank(const std::string& name,
                                                              const std::string& preset,
                                                              std::uint16_t profile,
                                                              std::uint32_t capacity) {
  auto drive = env_.plug(name, preset);
  drive->load(env_.blankDisc(name, profile, capacity));
  return drive;
}

void DataWindowTest::startDevices() {
  env_.start();
  for (const auto& d : connectedDevices()) (void)MMC_TestUnitReady(d.ref, nullptr);
  makeWindow();
}

void DataWindowTest::makeWindow(const LayoutFileIO* layout) {
  makeDeviceList();
  const LayoutKind* kind = findLayoutDocumentKind(QStringLiteral("Data CD"));
  ASSERT_NE(kind, nullptr);
  window_ = std::make_unique<DataWinCtlr>(*kind);
  if (layout) window_->setLayoutFile(*layout);
  window_->setBurnExecutor(&executor_);
  window_->window()->show();
}

bool DataWindowTest::dropOnDisc(const std::vector<fs::path>& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const fs::path& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p.string()));
  data.setUrls(urls);
  DataLayoutCtlr& model = window_->dataLayoutModel();
  return model.dropMimeData(&data, Qt::CopyAction, -1, 0, model.index(0, 0));
}

bool DataWindowTest::dropContentsOf(const fs::path& folder) {
  std::vector<fs::path> paths;
  for (const auto& e : fs::directory_iterator(folder)) paths.push_back(e.path());
  std::sort(paths.begin(), paths.end());
  return dropOnDisc(paths);
}

bool DataWindowTest::burnToIsoImage(const fs::path& image) {
  chooseDestination(kISOImageWriterRef);
  window_->setImageWriterPath(kISOImageWriterRef, QString::fromStdString(image.string()));
  if (window_->BSburnDisc() != BaseLayoutWinCtlr::BurnCheck::kOk) return false;
  // The sizing job is kept for the burn, which the one-second wait then starts.
  if (window_->runningJob().BPRef == 0) return false;
  timers_.advance(1s);
  if (window_->sheets().currentSheet() != window_->progressSheet()->dialog.get()) return false;
  JobThreads::joinAll(window_->runningJob().runTimeSharedData);
  timers_.advance(200ms);
  if (window_->sheets().currentSheet() != window_->alertSheet()->dialog.get()) return false;
  return window_->runningJob().lastResult == kResultCompleted;
}

bool DataWindowTest::burnToDrive(std::uint32_t ref) {
  chooseDestination(ref);
  if (window_->BSburnDisc() != BaseLayoutWinCtlr::BurnCheck::kOk) return false;
  BurnOptionsSheet* options = window_->burnOptionSheet();
  if (window_->sheets().currentSheet() != options->dialog.get()) return false;
  if (window_->runningJob().BPRef == 0) return false;
  options->BSburnDiscButton->click();
  if (window_->sheets().currentSheet() != window_->progressSheet()->dialog.get()) return false;
  JobThreads::joinAll(window_->runningJob().runTimeSharedData);
  timers_.advance(200ms);
  if (window_->sheets().currentSheet() != window_->alertSheet()->dialog.get()) return false;
  return window_->runningJob().lastResult == kResultCompleted;
}

void DataWindowTest::burnFirstSession(std::uint32_t ref, const fs::path& folder, bool closeDisc) {
  ASSERT_TRUE(dropContentsOf(folder));
  chooseDestination(ref);
  ASSERT_EQ(window_->BSburnDisc(), BaseLayoutWinCtlr::BurnCheck::kOk);
  ASSERT_EQ(window_->sheets().currentSheet(), window_->burnOptionSheet()->dialog.get())
      << sheetText().toStdString();
  (closeDisc ? window_->burnOptionSheet()->BSburnDiscButton
             : window_->burnOptionSheet()->BSburnSessionButton)
      ->click();
  ASSERT_EQ(window_->sheets().currentSheet(), window_->progressSheet()->dialog.get())
      << sheetText().toStdString();
  JobThreads::joinAll(window_->runningJob().runTimeSharedData);
  timers_.advance(200ms);
  ASSERT_EQ(window_->runningJob().lastResult, kResultCompleted);
  window_.reset();
  (void)MMC_TestUnitReady(ref, nullptr);
  makeWindow();
}

void DataWindowTest::dismissResult() {
  ASSERT_EQ(window_->sheets().currentSheet(), window_->alertSheet()->dialog.get());
  window_->alertSheet()->ASOkButton->click();
  EXPECT_EQ(window_->sheets().currentSheet(), nullptr);
  EXPECT_EQ(window_->runningJob().BPRef, 0u) << "the job goes with the result";
}

QStringList DataWindowTest::discRows() const {
  DataLayoutCtlr& model = window_->dataLayoutModel();
  const QModelIndex disc = model.index(0, 0);
  QStringList rows;
  for (int r = 0; r < model.rowCount(disc); ++r)
    rows << model.data(model.index(r, 0, disc)).toString();
  return rows;
}

QString DataWindowTest::sheetText() const {
  QDialog* sheet = window_->sheets().currentSheet();
  if (!sheet) return {};
  QStringList texts;
  for (const QLabel* label : sheet->findChildren<QLabel*>()) texts << label->text();
  return texts.join(QLatin1Char('\n'));
}

QPushButton* DataWindowTest::sheetButton(const char* key) const {
  QDialog* sheet = window_->sheets().currentSheet();
  if (!sheet) return nullptr;
  for (QPushButton* b : sheet->findChildren<QPushButton*>())
    if (b->text() == Msg::gui(QString::fromLatin1(key))) return b;
  return nullptr;
}

void DataWindowTest::dismissSheet() {
  if (QDialog* sheet = window_->sheets().currentSheet()) window_->sheets().endSheet(sheet, 0);
}

}  // namespace quillion::test
