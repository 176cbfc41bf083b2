// Output files that are written completely or not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rastrom {

// Writes one output file so that it ends up complete or not there. A regular file (new or
// existing, also behind a symbolic link) is written to a temporary file beside it and moved
// into place only when everything has been written and closed; on any failure the temporary
// file is removed and an old file is left as it was. Devices, pipes and other outputs that
// are not regular files are written directly.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // an output that was not committed is discarded
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens `path` for writing. Returns 0, or the system's error number when the output
  // cannot be opened (2 for a missing folder, 21 for a directory; 13 on Windows).
  int Open(const char* path);

  // Asks the file system for `bytes` of room before the writes arrive; only a hint.
  void Reserve(std::int64_t bytes);

  // Appends the bytes. After a failed write later writes do nothing, and Commit reports it.
  // Returns false once anything has failed.
  bool Write(const void* data, std::size_t size);

  // Closes the file and moves it into place. Returns 0, or the error number of the first
  // failed write, of closing or of the move; then nothing of this output is left behind
  // (a device or pipe keeps what it was given).
  int Commit();

  // Gives up: closes and removes what was written, leaving an old file as it was.
  void Discard();

  // The error number of the first failure, or 0.
  int error() const { return error_; }

 private:
  int OpenInPlace();
  void NameUnnamed();  // links an unnamed temporary file under a temporary name
  void RemoveLeftovers();

  int fd_ = -1;
  int error_ = 0;
  std::string path_;         // the output as named
  std::string target_;       // where the finished file goes (a link's target)
  std::string temporary_;    // the temporary file's name, once it has one
  bool direct_ = false;      // written in place: a device, a pipe, or no temporary file
  bool regular_ = false;     // written in place and a regular file
  bool unnamed_ = false;     // an unnamed temporary file (O_TMPFILE), linked in at the end
};

// True when both paths name one existing file (the same device and inode; on Windows the
// same volume and file index), whatever names or links lead to it.
bool IsSameFile(const char* first, const char* second);

// Makes failures that would otherwise arrive as signals (a pipe closed by its reader, a
// file-size limit) arrive as failed writes with an error number, and has an interrupted
// run (SIGINT, SIGTERM) remove its temporary file before it ends. Call once, early.
void HandleOutputSignals();

// For tests: with `named` true, every temporary file has a name from the start, as on
// Windows and where the file system refuses unnamed files, so that this path, too, can be
// tried where unnamed files work. Off by default.
void UseNamedTemporaryFiles(bool named);

}  // namespace rastrom
