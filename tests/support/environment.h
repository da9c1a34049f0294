// Environment variables set or removed for one scope of a test. Only for a
// test's own thread while no other thread of the test reads the environment.
#pragma once

#include <cstdlib>
#include <list>
#include <optional>
#include <string>

class ScopedEnv {
 public:
  // Sets the variable, or removes it when value is nullopt, until destruction.
  ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    if (value)
      setenv(name_.c_str(), value->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ~ScopedEnv() {
    if (old_)
      setenv(name_.c_str(), old_->c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Removes every proxy variable that libcurl reads, so that a proxy configured
// on the machine running the tests cannot divert their loopback requests.
class NoProxyEnvironment {
 public:
  NoProxyEnvironment() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY"})
      vars_.emplace_back(name, std::nullopt);
  }

 private:
  std::list<ScopedEnv> vars_;
};
