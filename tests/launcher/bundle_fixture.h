// A bundle laid out in a temporary folder, the launcher program run in it
// for real, and a stand-in editor that notes how it was started.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/emulator.h"
#include "tests/support/temp_dir.h"

namespace qg {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ReadWholeFile;
using testing::WriteWholeFile;

inline const char kPhpIni[] =
    "[PHP]\r\nengine = On\r\n;auto_prepend_file = old\r\n\r\n[Date]\r\ndate.timezone = UTC\r\n";
inline const char kConfigXml[] =
    "<?xml version=\"1.0\"?>\n<NotepadPlus>\n    <FileBrowser>\n"
    "        <root foldername=\"C:\\old\" />\n    </FileBrowser>\n</NotepadPlus>\n";

// Starts a command (the program, then its arguments) in `folder`; the
// child's id.
inline pid_t Spawn(const std::vector<std::string>& command, const std::string& folder) {
  std::vector<char*> argv;
  for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

inline pid_t Spawn(const std::string& program, const std::string& folder,
                   const std::vector<std::string>& arguments = {}) {
  std::vector<std::string> command{program};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return Spawn(command, folder);
}

// Waits for a child of ours; its wait status, or -1 when it outlived the
// limit (it is then ended, by its id).
inline int WaitFor(pid_t pid, std::chrono::milliseconds limit = 60s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    std::this_thread::sleep_for(10ms);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

// A text as it stands in an attribute value of a saved document.
inline std::string InAttribute(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

struct FileState {
  std::string bytes;
  fs::file_time_type written;
  bool operator==(const FileState&) const = default;
};

class Bundle {
 public:
  explicit Bundle(const std::string& folder = "bundle with blanks & more") {
    root_ = fs::canonical(dir_.Root()).string() + "/" + folder;
    fs::create_directories(root_ + "/server/notepad");
    fs::create_directories(root_ + "/server/modules/php/PHP-5.6-5.7");
    fs::create_directories(root_ + "/server/domains/mysite.local");
    WriteWholeFile(PhpIni(), kPhpIni);
    WriteWholeFile(Config(), kConfigXml);
    SetEditor(0);
  }

  // The stand-in editor appends its arguments and folder to a record and
  // stays for `seconds`.
  void SetEditor(int seconds) {
    std::string script =
        "#!/bin/sh\n"
        "printf '%s|%s\\n' \"$0\" \"$(pwd)\" >> \"" +
        Record() +
        "\"\n"
        "sleep " +
        std::to_string(seconds) + "\n";
    WriteWholeFile(Editor(), script);
    fs::permissions(Editor(), fs::perms::owner_all);
  }

  // The root as the launcher composes it: the current directory and "/".
  std::string Root() const { return root_ + "/"; }
  std::string EditorDir() const { return root_ + "/server/notepad/"; }
  std::string Editor() const { return EditorDir() + "notepad++.exe"; }
  std::string State() const { return EditorDir() + "state.txt"; }
  std::string Log() const { return EditorDir() + "quillgate.log"; }
  std::string Config() const { return EditorDir() + "config.xml"; }
  std::string PhpIni() const { return root_ + "/server/modules/php/PHP-5.6-5.7/php.ini"; }
  std::string Record() const { return dir_.Path("editor-record.txt"); }
  const std::string& Folder() const { return root_; }

  FileState Snapshot(const std::string& path) const {
    return {ReadWholeFile(path),
            fs::exists(path) ? fs::last_write_time(path) : fs::file_time_type{}};
  }
  std::vector<FileState> SnapshotAll() const {
    return {Snapshot(State()), Snapshot(PhpIni()), Snapshot(Config())};
  }

  // Starts the launcher program, through the emulator where there is one.
  pid_t Start() const { return Spawn(testing::BuiltProgramCommand(QG_LAUNCHER_EXE), root_); }
  // Runs the launcher to its end; true when it ended by itself with code 0.
  bool Run() const {
    int status = WaitFor(Start());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  testing::TempDir dir_;
  std::string root_;
};

}  // namespace qg
