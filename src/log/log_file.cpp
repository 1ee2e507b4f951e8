#include "log/log_file.h"

#include "log/debug_output.h"
#include "log/fopen_retry.h"
#include "log/web_server_log_dir.h"
#include "runtime/activation.h"
#include "runtime/error_slot.h"
#include "runtime/files.h"
#include "runtime/places.h"
#include "runtime/process.h"

namespace {

char Separator() { return runtime::PathSeparator()[0]; }

// `path` up to and including its last "." followed by `extension`, or
// `path`, "." and `extension` when it holds no ".".
std::string WithExtension(const std::string& path, const char* extension) {
  const std::size_t dot = path.rfind('.');
  return dot == std::string::npos ? path + "." + extension : path.substr(0, dot + 1) + extension;
}

}  // namespace

namespace logging {

std::string LogFileNameFor(const std::string& base_path, bool in_web_server_dir,
                           const std::string& web_server_dir) {
  const runtime::Activation activation("LOGFILENAMEFOR", __LINE__);
  const std::size_t dot = base_path.rfind('.');
  const std::size_t slash = base_path.rfind(Separator());
  // The "." of an extension lies in the file name, behind the last
  // separator; one in a directory name ("C:\my.dir\run") is no extension.
  const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  if (in_web_server_dir) {
    const std::size_t from = slash == std::string::npos ? 0 : slash;
    const std::size_t to = has_extension ? dot : base_path.size();
    return web_server_dir + base_path.substr(from, to - from) + ".log";
  }
  return has_extension ? base_path.substr(0, dot + 1) + "log" : base_path + ".log";
}

}  // namespace logging

namespace logging {

std::string ExeDirectory() {
  const std::string exe = runtime::ExeFileName();
  const std::size_t cut = exe.rfind(Separator());
  return cut == std::string::npos ? exe : exe.substr(0, cut + 1);
}

std::string LogFileNameOf(const runtime::Value& file_name, bool in_web_server_dir) {
  const runtime::Activation activation("LOGFILENAMEOF", __LINE__);
  std::string base = runtime::ExeFileName();
  if (file_name.IsString() && !file_name.AsStr().empty()) {
    const std::string& name = file_name.AsStr();
    base = name.find(Separator()) != std::string::npos ? name : ExeDirectory() + name;
  }
  return LogFileNameFor(base, in_web_server_dir, in_web_server_dir ? GetWebServerLogDir() : std::string());
}

}  // namespace logging

LogFile::LogFile(const runtime::Value& file_name, const runtime::Value& web_server, const runtime::Value& append) {
  const runtime::Activation activation("LOGFILE:INIT", __LINE__);
  server_path_ = logging::ExeDirectory();
  fname_ = logging::LogFileNameOf(file_name, web_server.IsLogical() && web_server.AsLogical());
  append_ = append.IsLogical() ? append.AsLogical() : true;

  bool exists = runtime::File(fname_);
  if (!exists && append_) {
    // Another process may make the log and write to it between that look
    // and a create: a log that is to be extended is made only where there
    // is none, and never emptied.
    runtime::FCreateNew(fname_);
    exists = runtime::File(fname_);
  }
  runtime::Handle h;
  if (exists && append_) {
    h = FOpenRetry(fname_, runtime::FO_READWRITE);
  } else {
    if (exists) {
      if (backup_name_.empty()) backup_name_ = WithExtension(fname_, "bak");
      runtime::FCopy(fname_, backup_name_);
    }
    h = runtime::FCreate(fname_);
  }
  if (h != runtime::kInvalidHandle) {
    log2file_ = true;
    runtime::FClose(h);
  } else if (runtime::NetErr()) {
    // The file is there but busy; later writes retry.
    log2file_ = true;
  }
}

bool LogFile::DebugMsg(const std::string& message) {
  const runtime::Activation activation("LOGFILE:DEBUGMSG", __LINE__);
  if (!log2file_) {
    logging::DebugOutput(message);
    return !message.empty();
  }
  const runtime::Handle h = logging::OpenLogForWrite(fname_);
  if (h == runtime::kInvalidHandle) return false;
  runtime::FSeek(h, 0, runtime::FS_END);
  const std::size_t written = runtime::FPutS(h, message);
  runtime::FClose(h);
  return written > 0;
}

const std::string& LogFile::FName(const runtime::Value& path) {
  const runtime::Activation activation("LOGFILE:FNAME", __LINE__);
  if (path.IsString()) fname_ = path.AsStr();
  return fname_;
}

const std::string& LogFile::BackupName(const runtime::Value& path) {
  const runtime::Activation activation("LOGFILE:BACKUPNAME", __LINE__);
  if (path.IsString()) backup_name_ = path.AsStr();
  return backup_name_;
}

std::string LogFile::LogPath() const {
  const runtime::Activation activation("LOGFILE:LOGPATH", __LINE__);
  const std::size_t cut = fname_.rfind(Separator());
  return cut == std::string::npos ? fname_ : fname_.substr(0, cut);
}

bool LogFile::Log2File(const runtime::Value& on) {
  const runtime::Activation activation("LOGFILE:LOG2FILE", __LINE__);
  if (on.IsLogical()) log2file_ = on.AsLogical();
  return log2file_;
}

bool LogFile::Append(const runtime::Value& on) {
  const runtime::Activation activation("LOGFILE:APPEND", __LINE__);
  if (on.IsLogical()) append_ = on.AsLogical();
  return append_;
}
