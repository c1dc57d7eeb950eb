// The user-interface dispatcher. Requests go to the UserInterface the host
// program set; without one, output is dropped and every question takes its
// default answer.
#include <cstdio>
#include <string>

#include "detector/core/host_api.h"
#include "host/kernel/database_impl.h"

namespace kernel {

namespace {

UserInterface *g_ui = nullptr;

// The text of `format` with the arguments `args` points to; the format as it
// stands when there are none.
std::string Format(const char *format, va_list *args) {
  if (format == nullptr) return {};
  if (args == nullptr) return format;
  va_list copy;
  va_copy(copy, *args);
  char small[1024];
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, n);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  va_copy(copy, *args);
  std::vsnprintf(text.data(), text.size(), format, copy);
  va_end(copy);
  text.resize(n);
  return text;
}

callui_t Result(int32_t i) {
  callui_t r;
  r.vptr = nullptr;
  r.i = i;
  return r;
}

callui_t Dispatch(int request, ...) {
  static std::string answer;  // the host owns the answer until the next question
  va_list ap;
  va_start(ap, request);
  callui_t r = Result(0);
  Database &db = TheDatabase();
  switch (request) {
    case UI_JUMP_TO: {
      const ea_t ea = va_arg(ap, ea_t);
      db.SetCursor(ea);
      if (g_ui != nullptr) g_ui->CursorMoved(ea);
      r = Result(1);
      break;
    }
    case UI_GET_CURSOR: {
      ea_t *out = va_arg(ap, ea_t *);
      if (out != nullptr) *out = db.cursor();
      r = Result(out != nullptr ? 1 : 0);
      break;
    }
    case UI_MESSAGE: {
      const char *format = va_arg(ap, const char *);
      va_list *args = va_arg(ap, va_list *);
      const std::string text = Format(format, args);
      if (g_ui != nullptr) g_ui->Message(text);
      r = Result(static_cast<int32_t>(text.size()));
      break;
    }
    case UI_ASK_YES_NO: {
      va_arg(ap, const char *);  // the button texts: the host's own are used
      va_arg(ap, const char *);
      va_arg(ap, const char *);
      const int def = va_arg(ap, int);
      const char *format = va_arg(ap, const char *);
      va_list *args = va_arg(ap, va_list *);
      int a = g_ui != nullptr ? g_ui->AskYesNo(def, Format(format, args)) : def;
      r = Result(a > 0 ? 1 : a < 0 ? -1 : 0);
      break;
    }
    case UI_ASK_TEXT: {
      const int history = va_arg(ap, int);
      const char *def = va_arg(ap, const char *);
      const char *prompt = va_arg(ap, const char *);
      va_list *args = va_arg(ap, va_list *);
      const std::string default_text = def != nullptr ? def : "";
      bool given = true;
      if (g_ui != nullptr)
        given = g_ui->AskText(history, default_text, Format(prompt, args), &answer);
      else
        answer = default_text;
      r.cptr = given ? answer.data() : nullptr;
      break;
    }
    default:
      break;
  }
  va_end(ap);
  return r;
}

}  // namespace

void SetUserInterface(UserInterface *ui) { g_ui = ui; }
UserInterface *GetUserInterface() { return g_ui; }

}  // namespace kernel

extern "C" {
callui_fn callui = kernel::Dispatch;
}
