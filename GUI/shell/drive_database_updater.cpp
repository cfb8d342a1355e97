// SPDX-License-Identifier: GPL-2.0-or-later
#include "shell/drive_database_updater.h"

#include <curl/curl.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <mutex>

#include "framework/defaults.h"
#include "framework/messages.h"
#include "shell/drive_database.h"
#include "shell/preference_keys.h"

namespace quillion {

namespace {

struct Transfer {
  QByteArray* data;
  std::size_t maxBytes;
  std::stop_token stop;
};

std::size_t collect(char* bytes, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  if (t->stop.stop_requested() || static_cast<std::size_t>(t->data->size()) + n > t->maxBytes)
    return 0;
  t->data->append(bytes, static_cast<qsizetype>(n));
  return n;
}

int progressCheck(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<Transfer*>(user)->stop.stop_requested() ? 1 : 0;  // non-zero aborts
}

void initCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QByteArray readInstalled(const QString& path) {
  QFile file(path);
  return !path.isEmpty() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

Download downloadFile(const QString& url, std::stop_token stop, std::size_t maxBytes) {
  Download out;
  if (url.isEmpty()) {
    out.error = QStringLiteral("no download address");
    return out;
  }
  initCurlOnce();
  CURL* curl = curl_easy_init();
  if (!curl) {
    out.error = QStringLiteral("no transfer handle");
    return out;
  }
  QByteArray data;
  Transfer transfer{&data, maxBytes, stop};
  const QByteArray address = url.toUtf8();
  curl_easy_setopt(curl, CURLOPT_URL, address.constData());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);  // an error page is no database
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 300L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // a worker thread: no alarm signals
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &progressCheck);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  const CURLcode code = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (code != CURLE_OK) {
    out.error = QString::fromUtf8(curl_easy_strerror(code));
    return out;
  }
  out.data = std::move(data);
  return out;
}

UpdateOutcome installDownloadedDatabase(const QByteArray& data, const QString& installedPath,
                                        const QString& userPath, std::uint32_t* newVersion) {
  if (data.isEmpty()) return UpdateOutcome::NoData;
  if (!shouldUpdateDriveDatabase(readInstalled(installedPath), data))
    return UpdateOutcome::AlreadyUpdated;
  QDir().mkpath(QFileInfo(userPath).absolutePath());
  // A temporary file in the same folder, renamed over the old copy only when whole.
  QSaveFile file(userPath);
  if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit())
    return UpdateOutcome::WriteFailed;
  if (newVersion) *newVersion = driveDatabaseVersion(data);
  return UpdateOutcome::Updated;
}

QString updateMessageKey(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::NoData:
      return QStringLiteral("Check Internet Connection");
    case UpdateOutcome::AlreadyUpdated:
      return QStringLiteral("BDB Already Updated");
    case UpdateOutcome::Updated:
      return QStringLiteral("BDB Updated Successfully");
    case UpdateOutcome::WriteFailed:
      return QStringLiteral("BDB Update Failed");
  }
  return {};
}

QString driveDatabaseAddress(const Defaults& defaults) {
  const QString set = defaults.stringValue(VUKDriveDatabaseURLKey);
  return set.isEmpty() ? QStringLiteral(QUILLION_DRIVE_DATABASE_URL) : set;
}

DBUpdaterWindowController::DBUpdaterWindowController(Defaults& defaults, QWidget* parent)
    : QWidget(parent, Qt::Window), defaults_(defaults) {
  setWindowTitle(Msg::gui(QStringLiteral("Drive Database Update")));
  message_ = new QLabel(this);
  update_ = new QPushButton(Msg::gui(QStringLiteral("Update")), this);
  ok_ = new QPushButton(Msg::gui(QStringLiteral("OK")), this);
  ok_->setEnabled(false);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(message_);
  layout->addWidget(update_);
  layout->addWidget(ok_);
  connect(update_, &QPushButton::clicked, this, &DBUpdaterWindowController::updateDatabaseFile);
  connect(ok_, &QPushButton::clicked, this, &QWidget::hide);
}

DBUpdaterWindowController::~DBUpdaterWindowController() {
  workers_.cancelAndJoin();
}

QString DBUpdaterWindowController::message() const {
  return message_->text();
}

void DBUpdaterWindowController::updateDatabaseFile() {
  if (running_) return;
  running_ = true;
  update_->setEnabled(false);
  ok_->setText(Msg::gui(QStringLiteral("Cancel")));
  ok_->setEnabled(true);
  message_->setText(Msg::gui(QStringLiteral("Downloading BDB")));
  const QString url = driveDatabaseAddress(defaults_);
  workers_.run([url](std::stop_token stop) { return downloadFile(url, stop); },
               [this](Download download) { downloadFinished(download); });
}

void DBUpdaterWindowController::downloadFinished(const Download& download) {
  std::uint32_t version = 0;
  const UpdateOutcome outcome = installDownloadedDatabase(
      download.data, installedDriveDatabasePath(), userDriveDatabasePath(), &version);
  message_->setText(Msg::gui(updateMessageKey(outcome)));
  ok_->setText(Msg::gui(QStringLiteral("OK")));
  update_->setEnabled(true);
  running_ = false;
  emit finished(outcome, version);
}

}  // namespace quillion
