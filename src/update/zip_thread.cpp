#include "update/zip_thread.h"

#include <QCoreApplication>
#include <QObject>
#include <condition_variable>
#include <mutex>

#include "platform/framework_exceptions.h"
#include "platform/qt/msgbox.h"

// What the job thread and the main thread both see.
struct ZipThread::Shared {
  std::mutex mutex;
  std::condition_variable wake;
  // The owner is going: the job waits for nothing more and extracts no
  // further entry.
  bool stop = false;
  // Read and written on the main thread only; null once the owner is going.
  ZipThread* owner = nullptr;
};

ZipThread::ZipThread() : shared_(std::make_shared<Shared>()), mainSide_(new QObject) {
  shared_->owner = this;
}

ZipThread::~ZipThread() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stop = true;
    shared_->owner = nullptr;
  }
  shared_->wake.notify_all();
  if (thread_.joinable()) thread_.join();
  closeProgressWindow();
  // Not deleted here: this may run inside one of its own queued calls (a
  // message box's event loop), which must be able to return to it.
  mainSide_->deleteLater();
}

void ZipThread::Decompress(std::shared_ptr<zip::ZipArchive> zar, const platform::FolderItem& dest,
                           bool decodeMacBinary) {
  zar_ = std::move(zar);
  dest_ = dest;
  decodeMacBinary_ = decodeMacBinary;
  doCompress_ = false;
  Start();
}

void ZipThread::Compress(std::shared_ptr<zip::ZipArchive> zar, const platform::FolderItem& source,
                         bool followAliases, std::int32_t mb_mode) {
  zar_ = std::move(zar);
  source_ = source;
  followAliases_ = followAliases;
  mbMode_ = mb_mode;
  doCompress_ = true;
  Start();
}

void ZipThread::Start() {
  thread_ = std::thread([this] { Event_Run(); });
}

void ZipThread::Event_Run() {
  try {
    if (doCompress_) {
      compressTask();
    } else {
      decompressTask();
    }
  } catch (...) {
    // Run-time errors end the job without a message. Nothing may escape a
    // thread, and the job must end whatever happened.
    failed_ = true;
  }
  closeProgressWindow();
  std::shared_ptr<Shared> shared = shared_;
  QMetaObject::invokeMethod(
      mainSide_,
      [shared] {
        if (shared->owner == nullptr) return;
        // A copy, so that a handler which releases the job does not end
        // the handler that is running.
        const platform::Event<> ended = shared->owner->Ended;
        ended();
      },
      Qt::QueuedConnection);
}

void ZipThread::decompressTask() {
  if (zar_ == nullptr || !dest_) throw platform::NilObjectException();
  const platform::RecordingMade recording(made_);
  double t = 0.0;
  for (std::int32_t i = 1; i <= zar_->EntryCount(); ++i) t += zar_->Entry(i)->Size();
  setTotal(t);
  for (std::int32_t i = 1; i <= zar_->EntryCount(); ++i) {
    if (Stopping()) {
      failed_ = true;
      return;
    }
    const zip::ZipEntryRef e = zar_->Entry(i);
    std::optional<platform::FolderItem> f = e->MakeDestination(*dest_, false);
    if (!e->Extract(f, decodeMacBinary_)) {
      showError("Extraction of \"" + e->RawPath().ToUTF8() + "\" failed: " + e->ErrorMessage());
      return;
    }
    // Looked at first: almost every item is visible already, and then
    // nothing more is asked of the file system. The root's own Finder
    // information lies beside it, outside what the job may change.
    if (!e->ExtractedTheRoot() && !f->Visible()) f->SetVisible(true);
  }
  if (!zar_->Close()) showError(zar_->ErrorMessage());
}

void ZipThread::compressTask() {
  if (zar_ == nullptr || !source_) throw platform::NilObjectException();
  const platform::FolderItem& source = *source_;
  bool failed = false;
  double t = zar_->CalcItemSize(source, mbMode_);
  if (source.Directory()) t += zar_->CalcFolderSize(source, followAliases_, mbMode_);
  if (t < 0) {
    showError("data exceeds archive limit of 2GB");
    failed = true;
  } else {
    setTotal(t);
  }
  zip::ZipEntryRef e;
  if (!failed) {
    const std::int32_t idx = zar_->AddItemToRoot(source, mbMode_);
    if (idx <= 0) {
      showError(zar_->ErrorMessage());
      failed = true;
    } else {
      e = zar_->Entry(idx);
    }
  }
  if (!failed && source.Directory() &&
      !zar_->AddFolderContents(source, e->RawPath().bytes, mbMode_, followAliases_)) {
    showError(zar_->ErrorMessage());
    failed = true;
  }
  if (!zar_->Close() && !failed) showError(zar_->ErrorMessage());
}

void ZipThread::setTotal(double t) {
  total_ = t;
  finished_ = 0;
}

void ZipThread::zipProgress(const zip::ZipEntry& /*entry*/, std::int32_t bytesTotal,
                            std::int32_t bytesDone, bool& /*abort*/) {
  if (bytesTotal == bytesDone) finished_ = finished_ + bytesTotal;
}

// The job never asks the user whether to go on: the archive's own choice
// stands.
void ZipThread::ZipFileError(const platform::FolderItem& /*file*/, std::int32_t /*code*/,
                             const std::string& /*msg*/, bool& /*abort*/) {}

void ZipThread::ZipFileStarting(const platform::FolderItem& /*file*/, bool& /*skip*/) {}

void ZipThread::closeProgressWindow() {
  if (zar_ != nullptr) {
    try {
      zar_->Close();
    } catch (...) {
      // A close that throws still leaves the job ended.
    }
    zar_.reset();
  }
  done_ = true;
}

// The box is the main thread's; the job sleeps until it has been dismissed,
// or until the owner goes (then the box may outlive the job).
void ZipThread::showError(const std::string& message) {
  failed_ = true;
  if (keepMessages_) {
    std::lock_guard lock(shared_->mutex);
    if (message_.empty()) message_ = message;
    return;
  }
  reported_ = true;
  std::shared_ptr<Shared> shared = shared_;
  auto dismissed = std::make_shared<bool>(false);
  std::unique_lock lock(shared->mutex);
  if (shared->stop) return;
  QMetaObject::invokeMethod(
      mainSide_,
      [shared, dismissed, message] {
        platform::MsgBox(message);
        std::lock_guard done(shared->mutex);
        *dismissed = true;
        shared->wake.notify_all();
      },
      Qt::QueuedConnection);
  shared->wake.wait(lock, [&] { return *dismissed || shared->stop; });
}

std::string ZipThread::Message() const {
  std::lock_guard lock(shared_->mutex);
  return message_;
}

bool ZipThread::Stopping() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->stop;
}
