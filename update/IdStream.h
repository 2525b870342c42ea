// Destinations for received bytes: a file on disk, or memory.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "Fd.h"

namespace vorn {

// A file that cannot be created, opened or written.
class EStreamError : public std::runtime_error {
 public:
  explicit EStreamError(const std::string& message) : std::runtime_error(message) {}
};

// A sink that bytes are written to in order; Position is the count written so far (plus the
// starting offset for a file opened at its end).
class TStream {
 public:
  virtual ~TStream() = default;
  virtual void Write(std::string_view bytes) = 0;
  virtual std::int64_t Position() const = 0;
};

class TFileStream : public TStream {
 public:
  // Create truncates an existing file. CreateNew makes a file that did not exist, readable by
  // this user only, and never through a link: any name already there fails the creation.
  enum class Mode { Create, Append, CreateNew };
  TFileStream(const std::string& path, Mode mode);
  ~TFileStream() override = default;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  // Raises EStreamError when the disk refuses bytes, so a short file is never taken as whole.
  void Write(std::string_view bytes) override;
  std::int64_t Position() const override { return position_; }
  const std::string& Path() const { return path_; }
  // The open descriptor (-1 once closed); a CreateNew file is open for reading too.
  int Handle() const { return fd_.fd(); }
  // Closes the file now; raises EStreamError when the close reports a lost write.
  void Close();

 private:
  std::string path_;
  Fd fd_;
  std::int64_t position_ = 0;
};

class TMemoryStream : public TStream {
 public:
  void Write(std::string_view bytes) override { data_.append(bytes); }
  std::int64_t Position() const override { return static_cast<std::int64_t>(data_.size()); }
  const std::string& Data() const { return data_; }

 private:
  std::string data_;
};

}  // namespace vorn
