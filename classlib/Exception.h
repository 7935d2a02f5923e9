#pragma once
// The exception family of the class library. Every failure of the system is one of these; the
// message is UTF-8 text meant for the user, shown as it stands by the application's error report.

#include <exception>
#include <string>
#include <utility>

#include "classlib/Consts.h"

namespace muralo {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : Message(std::move(message)) {}
  const char* what() const noexcept override { return Message.c_str(); }
  const std::string& message() const noexcept { return Message; }

 private:
  std::string Message;
};

// A picture file or picture object that cannot be read or used.
class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

// Stream errors: an exact read or write that could not be completed.
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

class EReadError : public EStreamError {
 public:
  EReadError();
  using EStreamError::EStreamError;
};

class EWriteError : public EStreamError {
 public:
  EWriteError();
  using EStreamError::EStreamError;
};

// A file that cannot be opened for reading; the message names the file and the system's reason.
class EFOpenError : public EStreamError {
 public:
  EFOpenError(const std::string& fileName, const std::string& reason);
};

// A file that cannot be created or opened for writing.
class EFCreateError : public EStreamError {
 public:
  EFCreateError(const std::string& fileName, const std::string& reason);
};

// A text that is not a valid number.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// An allocation the memory limit refuses, or a resource the system cannot give.
class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};

// The silent abort: leaves a command without an error report.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

// Text taken from a file, made fit to quote in a message: printable ASCII and valid UTF-8 as they
// are, any other byte (NUL, controls, stray high bytes) as \xNN, cut after maxLength with "…".
std::string ReadableText(const std::string& text, size_t maxLength = 64);

// The reason of a system error (an errno value) in French. The C library's own texts follow the
// process's locale and are English on most desktops; the messages of this program are French.
std::string SystemErrorText(int errorCode);

// StrToInt of the class library: whole decimal numbers (optional sign, optional surrounding blanks);
// anything else raises EConvertError with SInvalidInteger.
int StrToInt(const std::string& text);

}  // namespace muralo
