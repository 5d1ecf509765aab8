#include "tools/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* bytes,
                   std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = SystemError("cannot open", path);
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = "not a regular file: " + path;
    close(fd);
    return false;
  }
  bytes->clear();
  unsigned char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = SystemError("cannot read", path);
      close(fd);
      return false;
    }
    if (got == 0) break;
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  close(fd);
  return true;
}

bool WriteWholeFile(const std::string& path, const unsigned char* data, std::size_t size,
                    bool privateFile, WriteMode mode, std::string* error) {
  const std::string temporary = path + ".partial";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                      privateFile ? 0600 : 0644);
  if (fd < 0) {
    *error = SystemError("cannot create", temporary);
    return false;
  }
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = write(fd, data + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      *error = SystemError("cannot write", temporary);
      close(fd);
      unlink(temporary.c_str());
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    *error = SystemError("cannot write", temporary);
    unlink(temporary.c_str());
    return false;
  }
  // link() refuses an existing name atomically, where rename() would
  // replace it.
  const bool placed = mode == WriteMode::Replace ? rename(temporary.c_str(), path.c_str()) == 0
                                                 : link(temporary.c_str(), path.c_str()) == 0;
  if (!placed) {
    *error = errno == EEXIST ? path + " exists already; it was not overwritten"
                             : SystemError("cannot create", path);
    unlink(temporary.c_str());
    return false;
  }
  if (mode == WriteMode::KeepExisting) unlink(temporary.c_str());
  return true;
}
