#pragma once
// Exception classes shared by every subsystem.

#include <cstdint>
#include <exception>
#include <string>

namespace kiv {

// Root of everything the system raises; carries a ready-made message.
class Exception : public std::exception {
public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

protected:
  Exception() = default;
  void SetMessage(std::string message) { message_ = std::move(message); }

private:
  std::string message_;
};

// The system's own exceptions. Their message names the class: Brask Exception: "EName".
// Derived classes call SetClassMessage("EName") in their constructor.
class TCommonException : public Exception {
public:
  TCommonException() { SetClassMessage("TCommonException"); }

protected:
  explicit TCommonException(const char* className) { SetClassMessage(className); }
  void SetClassMessage(const char* className);
};

// A failed assertion: a programming error, never bad show data.
class EAssertion : public Exception {
public:
  using Exception::Exception;
};

// Stream failures: "Insufficient Source Size", "Stream read error", ...
class EStreamError : public Exception {
public:
  using Exception::Exception;
};
class EReadError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
public:
  using EStreamError::EStreamError;
};

} // namespace kiv
