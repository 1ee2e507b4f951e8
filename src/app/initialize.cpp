// Preparing a run: the settings beside the executable, then the command
// line. Every refusal writes its own lines and ends the run.
#include "app/exit_codes.h"
#include "app/options.h"
#include "app/postrine.h"
#include "app/text.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/places.h"
#include "runtime/process.h"
#include "settings/ini_file_spec.h"

namespace {

bool IsBlankOnly(const std::string& s) {
  return s.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace

std::string app::SettingsFileName() {
  const runtime::Activation activation("SETTINGSFILENAME", __LINE__);
  const char sep = runtime::PathSeparator()[0];
  std::string dir = GetPathFromFileName(GetExeFileName());
  if (dir.empty() || dir.back() != sep) dir += sep;
  return dir + "postrine.ini";
}

bool Postrine::Initialize() {
  const runtime::Activation activation("POSTRINE:INITIALIZE", __LINE__);
  IniFileSpec ini(app::SettingsFileName());
  ServerName = ini.GetStringCheck(app::kSettingsSection, "ServerName", app::kNotSet);
  UserName = ini.GetStringCheck(app::kSettingsSection, "UserName", app::kNotSet);
  Password = ini.GetStringCheck(app::kSettingsSection, "Password", app::kNotSet);
  Sender = ini.GetStringCheck(app::kSettingsSection, "Sender", app::kDefaultSender);
  const std::int64_t port = ini.GetIntCheck(app::kSettingsSection, "PortNumber", 25);
  PortNumber = static_cast<std::int32_t>(port);
  Options = app::ReadMailOptions(ini);
  // A port that wraps to another when cut to 32 bits is refused as it was
  // written.
  if (const std::string problem = app::PortProblem(port); !problem.empty()) Options.problem = problem;
  StartTrace();

  // A missing server is the one thing reported, whatever the arguments.
  if (ServerName == app::kNotSet) {
    WriteError("no server given - quit");
    runtime::SetErrorLevel(app::kExitConfig);
    return false;
  }

  const std::string cmd = runtime::CommandLine();
  if (!runtime::CommandLineIsText()) {
    WriteError("the command line holds characters that are no valid Unicode text");
    runtime::SetErrorLevel(app::kExitUsage);
    return false;
  }
  auto refuse = [&](const char* label) {
    OutputUsage();
    ConsoleWindow.WriteLine(label + cmd);
    runtime::SetErrorLevel(app::kExitUsage);
    return false;
  };
  if (cmd.empty()) return refuse("(1)Call was:");
  const std::vector<std::string> args = Text2Array(cmd, " ", "\"");
  const std::size_t n = args.size();
  if (n < 3) return refuse("(2)Call was:");

  // args[0] is the program's name. "-s" takes the next argument as the
  // subject unless it is the last one; blank arguments are passed over.
  // "-a" takes a file to attach the same way, but only in a call that
  // would be refused for a third positional argument without it: every
  // call accepted so far keeps its meaning.
  auto parse = [&](bool attach) {
    Subject.clear();
    MailFileName.clear();
    Recipients.clear();
    Attachments.clear();
    int positional = 0;
    for (std::size_t i = 1; i < n; ++i) {
      const std::string& a = args[i];
      const std::string option = runtime::AsciiLower(a);
      if (option == "-s" && i + 1 < n) {
        Subject = args[++i];
        continue;
      }
      if (attach && option == "-a" && i + 1 < n) {
        Attachments.push_back(args[++i]);
        continue;
      }
      if (IsBlankOnly(a)) continue;
      if (positional == 0) {
        MailFileName = a;
      } else if (positional == 1) {
        Recipients = a;
      } else {
        return false;
      }
      ++positional;
    }
    return true;
  };
  if (!parse(false) && !parse(true)) return refuse("(3)Call was:");

  ConsoleWindow.WriteLine("will send " + MailFileName + " to " + Recipients);
  return true;
}
