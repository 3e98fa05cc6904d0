#include "sim/faults.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace corvid::bench {

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

Fault parseWord(std::string_view word, std::vector<std::string>* errors) {
  Fault fault;
  const size_t eq = word.find('=');
  fault.word = std::string(word.substr(0, eq));
  if (eq == std::string_view::npos) return fault;
  const std::string_view number = word.substr(eq + 1);
  int status = 0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), status);
  if (ec != std::errc{} || end != number.data() + number.size() || status < 1 || status > 255) {
    if (errors != nullptr) {
      errors->push_back("fault \"" + std::string(word) + "\": the status must be 1 to 255");
    }
    return fault;
  }
  fault.status = status;
  return fault;
}

}  // namespace

Faults Faults::parse(std::string_view text, std::vector<std::string>* errors) {
  Faults faults;
  size_t lineStart = 0;
  while (lineStart < text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string_view::npos) lineEnd = text.size();
    std::string_view line = text.substr(lineStart, lineEnd - lineStart);
    lineStart = lineEnd + 1;
    if (const size_t hash = line.find('#'); hash != std::string_view::npos) {
      line = line.substr(0, hash);
    }
    size_t i = 0;
    while (i < line.size()) {
      i = line.find_first_not_of(kBlanks, i);
      if (i == std::string_view::npos) break;
      size_t end = line.find_first_of(kBlanks, i);
      if (end == std::string_view::npos) end = line.size();
      Fault fault = parseWord(line.substr(i, end - i), errors);
      if (!fault.word.empty()) faults.faults_.push_back(std::move(fault));
      i = end;
    }
  }
  return faults;
}

Faults Faults::load(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return parse(text.str());
}

std::optional<int> Faults::status(std::string_view word) const {
  for (const Fault& fault : faults_) {
    if (fault.word == word) return fault.status;
  }
  return std::nullopt;
}

}  // namespace corvid::bench
