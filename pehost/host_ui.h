// What pehost shows and answers for the user while a plug-in runs: the
// output window on standard output; questions answered from the command
// line, else asked on the terminal, else given their defaults; progress on
// standard error when it is a terminal.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "host/kernel/database.h"

namespace pehost {

class HostUi : public kernel::UserInterface {
 public:
  /// `start` and `log` answer the text and the Yes/No/Cancel questions when
  /// given; `interactive` lets the terminal be asked otherwise.
  HostUi(std::optional<std::string> start, std::optional<int> log, bool interactive);

  void Message(std::string_view text) override;
  int AskYesNo(int default_answer, std::string_view question) override;
  bool AskText(int history, std::string_view default_text, std::string_view prompt,
               std::string *answer) override;
  void CursorMoved(ea_t ea) override;

  /// Shows the cursor's progress through [min_ea, max_ea) from now on.
  void StartProgress(ea_t min_ea, ea_t max_ea);
  /// Removes the progress line.
  void EndProgress();

 private:
  /// A line typed on the terminal; false at the end of input.
  bool ReadAnswer(std::string *line);
  void ClearProgress();

  std::optional<std::string> start_;
  std::optional<int> log_;
  bool interactive_;
  bool show_progress_;
  bool progress_on_screen_ = false;
  ea_t min_ea_ = 0;
  ea_t max_ea_ = 0;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point last_shown_;
};

}  // namespace pehost
