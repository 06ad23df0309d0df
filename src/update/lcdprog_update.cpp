// The main window's side of the software update: the version check, the
// download with its progress window, and the hand-over to the new copy.
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <functional>
#include <system_error>

#include "mainwindow/confirm_win.h"
#include "mainwindow/lcdprog.h"
#include "mainwindow/site_config.h"
#include "platform/qt/msgbox.h"
#include "platform/qt/trash.h"
#include "platform/valstr.h"
#include "update/dl_win.h"
#include "update/installation.h"
#include "update/program_place.h"
#include "update/update_messages.h"
#include "update/version_check.h"
#include "update/zip_thread.h"

namespace fs = std::filesystem;

namespace {

constexpr int kIdleRecheckMs = 100;

bool IsSuccess(int status) {
  return status >= 200 && status <= 299;
}

// Calls `then` once, on the next turn of the event loop after `modal` has
// been hidden or destroyed; nothing runs while it stays up. The watch goes
// with `context`.
class WhenGone : public QObject {
 public:
  static void Watch(QWidget* modal, QObject* context, std::function<void()> then) {
    modal->installEventFilter(new WhenGone(modal, context, std::move(then)));
  }

 private:
  WhenGone(QWidget* modal, QObject* context, std::function<void()> then)
      : QObject(context), then_(std::move(then)) {
    connect(modal, &QObject::destroyed, this, [this] { Fire(); });
  }
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::Hide) Fire();
    return false;
  }
  void Fire() {
    if (!then_) return;
    QTimer::singleShot(0, parent(), std::move(then_));
    then_ = nullptr;
    deleteLater();
  }
  std::function<void()> then_;
};

}  // namespace

// One installation underway: the downloaded archive, its staging folder and
// the job that unpacks it there.
struct LCDProg::UpdateJob {
  UpdateJob(const update::ProgramPlace& program, const fs::path& trash, fs::path file)
      : archive(std::move(file)), install(program, trash, archive) {}
  fs::path archive;
  update::Installation install;
  ZipThread thread;
};

void LCDProg::BindUpdate() {
  UpdateServer = std::string("http://") + site::kUpdateHost;
  const update::ProgramPlace place =
      update::LocateProgram(QCoreApplication::applicationDirPath().toStdString());
  ProgramFolder = place.Folder;
  RunningCopy = place.Running;
  Trash = platform::HomeTrash();
  VersSocket.PageReceived.Bind(this, &LCDProg::VersSocket_PageReceived);
  VersSocket.ReceiveProgress.Bind(this, &LCDProg::VersSocket_ReceiveProgress);
  VersSocket.DownloadComplete.Bind(this, &LCDProg::VersSocket_DownloadComplete);
  VersSocket.Error.Bind(this, &LCDProg::VersSocket_Error);
}

void LCDProg::CheckVersion(bool direct) {
  if (!platform::HTTPSocket::NetworkIsConnected()) return;
  DirectCheck = direct;
  VersSocket.Get(UpdateServer + update::kVersionPath);
}

void LCDProg::VersSocket_PageReceived(const std::string& url, int status,
                                      const platform::InternetHeaders& /*headers*/,
                                      const std::string& content) {
  if (url == UpdateServer + update::kVersionPath) {
    if (const std::optional<std::string> tag = update::NewerBuildTag(status, content)) {
      OfferUpdate(*tag);
    } else if (DirectCheck) {
      platform::MsgBox(update::kUpToDateMessage);
    }
  }
  DirectCheck = false;
}

// The question comes when nothing else is asked of the user: a modal box
// still up (the start-up message, or any other) would otherwise be stacked
// under it, and everything the answer starts would run inside that box.
void LCDProg::OfferUpdate(const std::string& tag) {
  QWidget* modal = QApplication::activeModalWidget();
  offerWaiting_ = modal != nullptr;
  if (modal) {
    WhenGone::Watch(modal, this, [this, tag] { OfferUpdate(tag); });
    return;
  }
  if (ConfirmWin().Confirm(update::kNewVersionQuestion, 1)) {
    DownloadUpdate = true;
    VersSocket.Get(UpdateServer + update::DownloadPath(tag),
                   ProgramFolder / update::LocalArchiveName(tag));
  }
}

void LCDProg::VersSocket_ReceiveProgress(int received, int total, const std::string& /*data*/) {
  if (!DownloadUpdate) return;
  DLWindow& win = DLWin();
  if (total < 0) {
    // The server sent no length: what has arrived is all there is to show.
    win.progress.SetMaximum(0);
    win.progress.SetValue(0);
    win.Prog.SetText(platform::Str(received) + " bytes");
    return;
  }
  const int maximum = total / 1024;
  if (win.progress.Maximum() != maximum) win.progress.SetMaximum(maximum);
  win.progress.SetValue(received / 1024);
  win.Prog.SetText(received == total
                       ? std::string(update::kExtractingText)
                       : platform::Str(received) + " of " + platform::Str(total) + " bytes");
}

void LCDProg::VersSocket_DownloadComplete(const std::string& /*url*/, int status,
                                          const platform::InternetHeaders& /*headers*/,
                                          const fs::path& file) {
  // An error page is no archive, whatever it holds.
  if (!IsSuccess(status)) {
    AbandonUpdate(file, update::kDownloadFailedMessage);
    return;
  }
  auto zar = std::make_shared<zip::ZipArchive>();
  if (!zar->Open(file, false)) {
    AbandonUpdate(file, zar->ErrorMessage());
    return;
  }
  if (DLWinIsOpen()) {
    // Also where the server sent no length, the bytes have all arrived.
    DLWindow& win = DLWin();
    win.progress.SetValue(win.progress.Maximum());
    win.Prog.SetText(update::kExtractingText);
  }
  auto job = std::make_shared<UpdateJob>(update::ProgramPlace{ProgramFolder, {}, RunningCopy},
                                         Trash, file);
  if (!job->install.Prepare()) {
    zar->Close();
    AbandonUpdate(file, job->install.FailureMessage());
    return;
  }
  update_ = job;
  // Its message waits until the download and the staging folder are gone.
  job->thread.KeepMessages(true);
  job->thread.Ended.Bind(this, &LCDProg::UpdateJobEnded);
  job->thread.Decompress(zar, job->install.StagingItem(), true);
}

void LCDProg::VersSocket_Error(const std::string& /*reason*/) {
  DirectCheck = false;
  // The version check goes unanswered silently; a download the user asked
  // for does not.
  if (DownloadUpdate && update_ == nullptr) {
    AbandonUpdate({}, update::kDownloadFailedMessage);
  }
}

// Only an archive unpacked whole is put in place; the old bundle then keeps
// its "OLD " name beside the new one, which is launched at quit.
void LCDProg::UpdateJobEnded() {
  const std::shared_ptr<UpdateJob> job = std::move(update_);
  if (!job->thread.Succeeded()) {
    // The job's own reason, unless it ended on an error of its own.
    const std::string reason = job->thread.Message();
    job->install.Discard();
    AbandonUpdate(job->archive, reason.empty() ? update::kNotInstalledMessage : reason);
    return;
  }
  switch (job->install.Publish(job->thread.Made())) {
    case update::Installation::Outcome::Failed:
      AbandonUpdate(job->archive, job->install.FailureMessage());
      return;
    case update::Installation::Outcome::Placed:
      // No bundle was there to replace (the program runs from no bundle):
      // the files are unpacked beside it and it keeps running.
      CloseDLWin();
      return;
    case update::Installation::Outcome::NewBundle: {
      std::error_code ec;
      fs::remove(job->archive, ec);
      HandOverWhenIdle(job->install.Bundle());
      return;
    }
  }
}

void LCDProg::HandOverWhenIdle(const fs::path& bundle) {
  if (!LinkIdle()) {
    QTimer::singleShot(kIdleRecheckMs, this, [this, bundle] { HandOverWhenIdle(bundle); });
    return;
  }
  if (HandOver) HandOver(bundle);
}

// The download goes before the box is shown: the user may well quit from
// it, and nothing of the failed update is to be left behind.
void LCDProg::AbandonUpdate(const fs::path& file, const std::string& message) {
  std::error_code ec;
  if (!file.empty()) fs::remove(file, ec);
  CloseDLWin();
  if (!message.empty()) platform::MsgBox(message);
}
