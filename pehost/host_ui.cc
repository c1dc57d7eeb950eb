#include "pehost/host_ui.h"

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace pehost {
namespace {

// Short runs show no progress at all; long ones redraw it now and then.
constexpr auto kProgressDelay = std::chrono::milliseconds(500);
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

}  // namespace

HostUi::HostUi(std::optional<std::string> start, std::optional<int> log, bool interactive)
    : start_(std::move(start)),
      log_(log),
      interactive_(interactive),
      show_progress_(isatty(STDERR_FILENO) != 0) {}

void HostUi::Message(std::string_view text) {
  ClearProgress();
  fwrite(text.data(), 1, text.size(), stdout);
}

bool HostUi::ReadAnswer(std::string *line) {
  fflush(stdout);
  // Standard input through stdio: the C++ streams would cost every run
  // their set-up, most runs never ask.
  line->clear();
  for (int c; (c = getchar()) != EOF;) {
    if (c == '\n') return true;
    line->push_back(static_cast<char>(c));
  }
  return !line->empty();
}

int HostUi::AskYesNo(int default_answer, std::string_view question) {
  if (log_) return *log_;
  if (!interactive_) return default_answer;
  ClearProgress();
  const char *choices = default_answer == 1   ? "[Y/n/c]"
                        : default_answer == 0 ? "[y/N/c]"
                                              : "[y/n/C]";
  for (;;) {
    fprintf(stderr, "%.*s %s ", static_cast<int>(question.size()), question.data(),
            choices);
    std::string line;
    if (!ReadAnswer(&line)) {
      fputc('\n', stderr);
      return -1;  // the end of input cancels
    }
    if (line.empty()) return default_answer;
    if (line == "y" || line == "Y" || line == "yes") return 1;
    if (line == "n" || line == "N" || line == "no") return 0;
    if (line == "c" || line == "C" || line == "cancel") return -1;
    fprintf(stderr, "Please answer y (yes), n (no) or c (cancel).\n");
  }
}

bool HostUi::AskText(int history, std::string_view default_text, std::string_view prompt,
                     std::string *answer) {
  (void)history;
  if (start_) {
    *answer = *start_;
    return true;
  }
  if (!interactive_) {
    *answer = default_text;
    return true;
  }
  ClearProgress();
  fprintf(stderr, "%.*s [%.*s] ", static_cast<int>(prompt.size()), prompt.data(),
          static_cast<int>(default_text.size()), default_text.data());
  std::string line;
  if (!ReadAnswer(&line)) {
    fputc('\n', stderr);
    return false;
  }
  // An empty line takes the default; anything else is passed as typed.
  *answer = line.empty() ? std::string(default_text) : line;
  return true;
}

void HostUi::StartProgress(ea_t min_ea, ea_t max_ea) {
  min_ea_ = min_ea;
  max_ea_ = max_ea;
  started_ = last_shown_ = std::chrono::steady_clock::now();
}

void HostUi::CursorMoved(ea_t ea) {
  if (!show_progress_ || max_ea_ <= min_ea_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - started_ < kProgressDelay || now - last_shown_ < kProgressInterval) return;
  last_shown_ = now;
  const double done =
      ea < min_ea_
          ? 0.0
          : std::min(1.0, static_cast<double>(ea - min_ea_) / (max_ea_ - min_ea_));
  fflush(stdout);
  fprintf(stderr, "\r%08" PRIX32 " of %08" PRIX32 "  %3d%%", ea, max_ea_,
          static_cast<int>(done * 100));
  fflush(stderr);
  progress_on_screen_ = true;
}

void HostUi::ClearProgress() {
  if (!progress_on_screen_) return;
  fprintf(stderr, "\r%*s\r", 30, "");
  fflush(stderr);
  progress_on_screen_ = false;
}

void HostUi::EndProgress() {
  ClearProgress();
  show_progress_ = false;
}

}  // namespace pehost
