#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace rastrom {

namespace {

#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

// The name of the file an interrupted run must remove: the temporary file once it has a
// name, or an output written in place. Read by the signal handler, so a plain pointer to
// a string that does not change while it is published.
std::atomic<const char*> gToRemove{nullptr};

// Set by tests only: no unnamed temporary files.
bool gNamedTemporaryFiles = false;

int LastErrno() { return errno != 0 ? errno : EIO; }

// Where the last folder separator of a path stands, or npos.
std::size_t LastSeparator(const std::string& path) {
#ifdef _WIN32
  return path.find_last_of("/\\:");
#else
  return path.find_last_of('/');
#endif
}

// The folder part of a path with its last separator ("" for a bare name), and the name.
std::string FolderPrefix(const std::string& path) {
  const auto slash = LastSeparator(path);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
  const auto slash = LastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name for a temporary file beside `target`, different for every process and attempt;
// hidden on Unix so that a listing of the folder is not cluttered while it exists. It holds
// at most the first 100 bytes of the output's name, so that it fits wherever that name fits.
std::string TemporaryName(const std::string& target, unsigned attempt) {
  char suffix[48];
#ifdef _WIN32
  const char* hidden = "";
  std::snprintf(suffix, sizeof suffix, ".rastrom-%lu-%u.tmp",
                static_cast<unsigned long>(GetCurrentProcessId()), attempt);
#else
  const char* hidden = ".";
  std::snprintf(suffix, sizeof suffix, ".rastrom-%ld-%u.tmp", static_cast<long>(getpid()), attempt);
#endif
  return FolderPrefix(target) + hidden + NameOf(target).substr(0, 100) + suffix;
}

#ifdef _WIN32
int ErrnoOfWindowsError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    default: return EIO;
  }
}

// What lies at a path: nothing, a regular file, or something else (a folder, a device).
enum class Found { kNothing, kRegular, kOther, kUnknown };

Found Examine(const char* path) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? Found::kNothing : Found::kUnknown;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  Found found = Found::kOther;
  if (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    found = Found::kRegular;
  }
  CloseHandle(handle);
  return found;
}

BOOL WINAPI OnConsoleInterrupt(DWORD) {
  // The temporary file was opened to allow this: it goes when the process ends.
  if (const char* name = gToRemove.load()) DeleteFileA(name);
  return FALSE;  // the default handler then ends the process
}
#else
void OnInterrupt(int signal) {
  if (const char* name = gToRemove.load()) unlink(name);
  // The handler was reset to the default on entry: the signal ends the process as usual
  // once this handler returns.
  raise(signal);
}
#endif

// Writes in one call at most this much, which every platform's write accepts.
constexpr std::size_t kMaxWrite = std::size_t{1} << 30;

}  // namespace

OutputFile::~OutputFile() { Discard(); }

int OutputFile::Open(const char* path) {
  Discard();
  path_ = path;
  target_ = path;
  error_ = 0;
  // A path that names no file ("", "folder/") is opened as it is and reports its own error.
  if (NameOf(path_).empty()) return OpenInPlace();

#ifdef _WIN32
  switch (Examine(path)) {
    case Found::kOther:
    case Found::kUnknown: return OpenInPlace();
    case Found::kRegular: {
      // A file that may not be written is refused as before, not replaced.
      const int probe = _open(path, _O_WRONLY | _O_BINARY);
      if (probe < 0) return LastErrno();
      _close(probe);
      break;
    }
    case Found::kNothing: break;
  }
  for (unsigned attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temporary_ = TemporaryName(target_, attempt);
    // Shared for deletion, so that an interrupted run can remove it while it is open.
    HANDLE handle = CreateFileA(temporary_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() != ERROR_FILE_EXISTS) break;
      continue;
    }
    fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd_ < 0) {
      CloseHandle(handle);
      DeleteFileA(temporary_.c_str());
      break;
    }
  }
  if (fd_ < 0) {
    temporary_.clear();
    return OpenInPlace();
  }
  gToRemove.store(temporary_.c_str());
  return 0;
#else
  struct stat info {};
  struct stat link {};
  bool replacing = false;
  if (stat(path, &info) == 0) {
    if (!S_ISREG(info.st_mode)) return OpenInPlace();  // a device, a pipe, a folder
    // A file that may not be written is refused as before, not replaced.
    const int probe = open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (probe < 0) return LastErrno();
    close(probe);
    if (lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
      // The link stays; the file it leads to is replaced.
      char* real = realpath(path, nullptr);
      if (real == nullptr) return OpenInPlace();
      target_ = real;
      std::free(real);
    }
    replacing = true;
  } else if (errno != ENOENT || lstat(path, &link) == 0) {
    // Anything unusual (a dangling link, a path through a file) is opened as it is and
    // reports its own error.
    return OpenInPlace();
  }

  const std::string prefix = FolderPrefix(target_);
  const std::string folder = prefix.empty() ? "." : prefix;
#if defined(O_TMPFILE)
  // An unnamed file leaves nothing behind whatever ends the process; it gets its name only
  // when it is complete. Linking it needs /proc.
  if (!gNamedTemporaryFiles && access("/proc/self/fd", X_OK) == 0) {
    fd_ = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    unnamed_ = fd_ >= 0;
  }
#endif
  for (unsigned attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
    temporary_ = TemporaryName(target_, attempt);
    fd_ = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    temporary_.clear();
    return OpenInPlace();
  }
  if (!unnamed_) gToRemove.store(temporary_.c_str());
  if (replacing) {
    // The replacement keeps the old file's owner (where allowed) and permission bits.
    if (fchown(fd_, info.st_uid, info.st_gid) != 0) { /* another owner is no failure */ }
    fchmod(fd_, info.st_mode & 07777);
  }
  return 0;
#endif
}

int OutputFile::OpenInPlace() {
  direct_ = true;
  errno = 0;
#ifdef _WIN32
  fd_ = _open(path_.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
#endif
  if (fd_ < 0) return LastErrno();
#ifdef _WIN32
  struct _stat64 info {};
  regular_ = _fstat64(fd_, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
#else
  struct stat info {};
  regular_ = fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
#endif
  if (regular_) gToRemove.store(path_.c_str());
  return 0;
}

void OutputFile::Reserve(std::int64_t bytes) {
#if defined(__linux__)
  // Asking for the blocks up front spares the file system reserving them a page at a time.
  // The size is left as it is, so where this is refused (a device) nothing changes.
  if (fd_ >= 0 && bytes > 0) (void)fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
#else
  (void)bytes;
#endif
}

bool OutputFile::Write(const void* data, std::size_t size) {
  if (fd_ < 0 && error_ == 0) error_ = EBADF;
  if (error_ != 0) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const std::size_t chunk = size < kMaxWrite ? size : kMaxWrite;
#ifdef _WIN32
    const int n = _write(fd_, bytes, static_cast<unsigned>(chunk));
#else
    const ssize_t n = write(fd_, bytes, chunk);
#endif
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = n < 0 ? LastErrno() : EIO;
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

namespace {

int CloseFile(int fd) {
#ifdef _WIN32
  return _close(fd);
#else
  return close(fd);
#endif
}

}  // namespace

#if defined(O_TMPFILE) && !defined(_WIN32)
void OutputFile::NameUnnamed() {
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    temporary_ = TemporaryName(target_, attempt);
    gToRemove.store(temporary_.c_str());
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary_.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
    const int error = LastErrno();
    gToRemove.store(nullptr);
    temporary_.clear();
    if (error != EEXIST) {
      error_ = error;
      return;
    }
  }
  error_ = EEXIST;
}
#endif

int OutputFile::Commit() {
  if (fd_ < 0) return error_ != 0 ? error_ : EBADF;
#if defined(O_TMPFILE) && !defined(_WIN32)
  // The complete file gets a temporary name first, then moves over the output.
  if (error_ == 0 && unnamed_) NameUnnamed();
#endif
  if (error_ != 0) {
    const int error = error_;
    Discard();
    return error;
  }

  const int fd = fd_;
  fd_ = -1;
  if (CloseFile(fd) != 0) error_ = LastErrno();
  if (error_ == 0 && !direct_) {
#ifdef _WIN32
    if (!MoveFileExA(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      error_ = ErrnoOfWindowsError(GetLastError());
    }
#else
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) error_ = LastErrno();
#endif
    if (error_ == 0) temporary_.clear();
  }
  const int error = error_;
  if (error != 0) {
    RemoveLeftovers();
  } else {
    gToRemove.store(nullptr);
  }
  path_.clear();
  return error;
}

void OutputFile::Discard() {
  if (fd_ >= 0) {
    CloseFile(fd_);
    fd_ = -1;
    RemoveLeftovers();
  }
  temporary_.clear();
  direct_ = regular_ = unnamed_ = false;
}

void OutputFile::RemoveLeftovers() {
  // An incomplete file is worse than none; a device such as /dev/full is left alone.
  if (!temporary_.empty()) {
    std::remove(temporary_.c_str());
  } else if (direct_ && regular_) {
    std::remove(path_.c_str());
  }
  gToRemove.store(nullptr);
  temporary_.clear();
}

bool IsSameFile(const char* first, const char* second) {
#ifdef _WIN32
  auto identify = [](const char* path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    return ok;
  };
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  return identify(first, a) && identify(second, b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
#else
  struct stat a {}, b {};
  return stat(first, &a) == 0 && stat(second, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
#endif
}

void UseNamedTemporaryFiles(bool named) { gNamedTemporaryFiles = named; }

void HandleOutputSignals() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleInterrupt, TRUE);
#else
  // A reader that goes away and a file-size limit are failed writes (EPIPE, EFBIG), which
  // the writer reports, rather than signals that end the run without a word.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    // A signal the caller chose to ignore (nohup, a background job) stays ignored.
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
#endif
}

}  // namespace rastrom
