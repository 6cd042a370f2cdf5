#include "prefix/internal_error.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string_view>

namespace kelvaro {
namespace {

std::atomic<bool> reports_enabled{true};

// Source paths are absolute in most builds; the part from "src/" on is what
// a reader of the report can find in the repository.
std::string_view repository_path(std::string_view path) {
  auto src = path.rfind("src/");
  return src == std::string_view::npos ? path : path.substr(src);
}

}  // namespace

void report_failure(const std::string& message, std::source_location where) {
  if (!reports_enabled.load(std::memory_order_relaxed)) return;
  auto file = repository_path(where.file_name());
  std::fprintf(stderr, "kelvaro: internal error on thread %ld at %.*s:%u:%u: %s\n",
               static_cast<long>(gettid()), static_cast<int>(file.size()), file.data(),
               static_cast<unsigned>(where.line()), static_cast<unsigned>(where.column()),
               message.c_str());
}

void fail(std::string message, std::source_location where) {
  report_failure(message, where);
  throw InternalError(std::move(message));
}

void fail_out_of_bounds(std::size_t len, std::size_t index, std::source_location where) {
  fail("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
           std::to_string(index),
       where);
}

void fail_none(std::source_location where) {
  fail("called `Option::unwrap()` on a `None` value", where);
}

void set_failure_reports(bool enabled) noexcept {
  reports_enabled.store(enabled, std::memory_order_relaxed);
}

}  // namespace kelvaro
