// SPDX-License-Identifier: GPL-2.0-or-later
// Updating the drive database from a download server. The download runs on a worker; its
// result reaches the window on the main thread. Only a whole, valid database with a higher
// version than the one in use replaces the user's copy, written to a temporary file and
// renamed into $XDG_DATA_HOME/quillion/; the installed copy is never written.
#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <stop_token>

#include "framework/worker_runner.h"

class QLabel;
class QPushButton;

namespace quillion {

class Defaults;

struct Download {
  QByteArray data;  // empty when nothing (or an error page) came
  QString error;    // why, for the log
};

// One HTTP(S) GET of the whole file, at most `maxBytes`, stopped when `stop` is requested.
// A status of 400 or above counts as nothing received.
Download downloadFile(const QString& url, std::stop_token stop, std::size_t maxBytes = 16u << 20);

enum class UpdateOutcome { NoData, AlreadyUpdated, Updated, WriteFailed };

// Decides and, when the download may replace it, writes the new file at `userPath`.
// `installedPath` is the file in use (may be missing). *newVersion is set on Updated.
UpdateOutcome installDownloadedDatabase(const QByteArray& data, const QString& installedPath,
                                        const QString& userPath, std::uint32_t* newVersion);
// The "GUIMsgs" key of each outcome's message.
QString updateMessageKey(UpdateOutcome outcome);

// The address: the setting when set, else the one built in (empty when none was).
QString driveDatabaseAddress(const Defaults& defaults);

class DBUpdaterWindowController : public QWidget {
  Q_OBJECT

 public:
  explicit DBUpdaterWindowController(Defaults& defaults, QWidget* parent = nullptr);
  ~DBUpdaterWindowController() override;

  void updateDatabaseFile();  // the update button
  bool isRunning() const { return running_; }
  QString message() const;

 signals:
  // After an update ended; on Updated with the new version.
  void finished(quillion::UpdateOutcome outcome, std::uint32_t newVersion);

 private:
  void downloadFinished(const Download& download);

  Defaults& defaults_;
  WorkerRunner workers_;
  QLabel* message_ = nullptr;
  QPushButton* update_ = nullptr;
  QPushButton* ok_ = nullptr;
  bool running_ = false;
};

}  // namespace quillion
