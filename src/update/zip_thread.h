#pragma once
// The archive job: extracts every entry of an open archive into a folder, or
// adds one file or folder to an archive, on a thread of its own so that the
// window's event loop keeps running. The job touches no widget: its messages
// are shown by the main thread while the job waits for them to be dismissed
// (or kept for the owner, see KeepMessages), and its end is announced on the
// main thread (Ended) as well as in done().
// One object serves one job; create it on the main thread, which must run an
// event loop while the job lasts.
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/folder_item.h"
#include "platform/made_items.h"
#include "platform/qt/event.h"
#include "zip/zip_archive.h"
#include "zip/zip_progress_notifier.h"

class QObject;

class ZipThread : public zip::ZipProgressNotifier {
 public:
  ZipThread();
  // A job still running stops after the entry underway (with no message);
  // the archive is closed once the thread has ended.
  ~ZipThread() override;
  ZipThread(const ZipThread&) = delete;
  ZipThread& operator=(const ZipThread&) = delete;

  // Extracts every entry of `zar` below `dest`; starts the job and returns.
  void Decompress(std::shared_ptr<zip::ZipArchive> zar, const platform::FolderItem& dest,
                  bool decodeMacBinary);
  // Adds `source` (with all below it, for a folder) at the top of `zar`.
  void Compress(std::shared_ptr<zip::ZipArchive> zar, const platform::FolderItem& source,
                bool followAliases, std::int32_t mb_mode);

  // The job has ended, however it ended; the archive is closed by then.
  bool done() const { return done_; }
  // It ended with nothing reported and nothing thrown: every entry extracted
  // (or the item added) and the archive closed.
  bool Succeeded() const { return done_ && !failed_; }
  // The job has shown the user a message.
  bool Reported() const { return reported_; }
  // Set before the job starts: the job shows no message and waits for no
  // one, but keeps its first message for its owner (Message()), so that the
  // owner can tidy up before it tells the user why the job failed.
  void KeepMessages(bool keep) { keepMessages_ = keep; }
  // The message a job that keeps its messages ended with; empty for none.
  std::string Message() const;
  // Raised on the main thread once the job has ended. Its handler may
  // release the job.
  platform::Event<> Ended;

  // Progress notification, for an archive whose monitor a caller set to this
  // job: bytes of entries reported complete since the total was set.
  void zipProgress(const zip::ZipEntry& entry, std::int32_t bytesTotal, std::int32_t bytesDone,
                   bool& abort) override;
  void ZipFileError(const platform::FolderItem& file, std::int32_t code, const std::string& msg,
                    bool& abort) override;
  void ZipFileStarting(const platform::FolderItem& file, bool& skip) override;
  double Finished() const { return finished_; }
  // What an extraction made, once the job has ended: every file and folder
  // it created below its destination.
  const platform::MadeItems& Made() const { return made_; }
  double Total() const { return total_; }

 private:
  struct Shared;

  void Start();
  void Event_Run();
  void compressTask();
  void decompressTask();
  void setTotal(double t);
  void closeProgressWindow();
  void showError(const std::string& message);
  bool Stopping() const;

  std::shared_ptr<Shared> shared_;
  // Lives on the main thread: what the job asks of that thread is queued to it.
  QObject* mainSide_;
  std::thread thread_;

  bool doCompress_ = false;
  std::shared_ptr<zip::ZipArchive> zar_;
  std::optional<platform::FolderItem> dest_;
  std::optional<platform::FolderItem> source_;
  bool followAliases_ = false;
  std::int32_t mbMode_ = 0;
  bool decodeMacBinary_ = false;
  platform::MadeItems made_;
  bool keepMessages_ = false;
  // Written by the job before it ends; guarded by the shared mutex.
  std::string message_;
  std::atomic<double> finished_{0};
  std::atomic<double> total_{0};
  std::atomic<bool> done_{false};
  std::atomic<bool> failed_{false};
  std::atomic<bool> reported_{false};
};
