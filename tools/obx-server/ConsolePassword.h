#pragma once
// The console's password: a line "USER:scrypt$N$r$p$SALT$KEY" (salt and key
// in Base64) made by `obx-server console-password`, and the check of an HTTP
// Basic "Authorization" field against it.
#include <mutex>
#include <set>
#include <string>

namespace obxserver {

class ConsolePassword {
 public:
  // The line for `user` and `password`, with a new random salt. Throws
  // std::runtime_error when the key cannot be derived.
  static std::string Hash(const std::string& user, const std::string& password);

  // Reads the line from `path`; throws std::runtime_error naming the fault.
  static ConsolePassword Read(const std::string& path);

  // Whether the Authorization field value names the user and the password.
  // A value once accepted is remembered (by its digest), so the costly
  // derivation runs once per browser rather than once per page.
  bool Accepts(const std::string& authorization);

  ConsolePassword(const ConsolePassword& other);

 private:
  ConsolePassword() = default;
  std::string user_;
  uint64_t n_ = 0;
  uint32_t r_ = 0, p_ = 0;
  std::string salt_, key_;
  std::mutex mutex_;
  std::set<std::string> accepted_;
};

}  // namespace obxserver
