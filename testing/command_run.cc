#include "testing/command_run.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::filesystem::path &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

int RunCommand(const std::string &command, const std::filesystem::path &out) {
  const std::string redirected =
      command + " >'" + out.string() + "' 2>'" + out.string() + ".err'";
  const int status = std::system(redirected.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
