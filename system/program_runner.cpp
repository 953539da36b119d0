// The program runner: a direct start as a new process, the shell as the
// fallback, and the wait for the started program.
#include "system/program_runner.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "system/paths.h"
#include "system/platform.h"

namespace qg {

namespace {

constexpr std::uint32_t kPipeFlags = PipeOutput | PipeInput | PipeError;

// What keep mode hands back; lives in the runner's list of kept programs
// until the process ends.
struct ProgramRecord {
  Handle process;
  std::uint32_t processId;  // -1 when the shell started the program
  Handle inputPipe;         // the runner's ends, 0 when there is none
  Handle outputPipe;
  Handle errorPipe;
  std::uint32_t flags;
  ProgramRecord* next;
};

std::mutex keptLock;
ProgramRecord* keptPrograms = nullptr;
std::atomic<std::uint32_t> lastProgramId{0};

// One standard stream redirected through a pipe: the program's end is handed
// to it, the runner keeps the other.
struct PipeEnds {
  Handle program = 0;
  Handle runner = 0;
};

// Makes a pipe whose runner end is not inherited; both ends stay 0 when the
// pipe cannot be made, and the program then gets the runner's own stream.
PipeEnds MakePipe(bool programReads) {
  PipeEnds ends;
  Handle readEnd = 0, writeEnd = 0;
  if (!Sys().CreatePipe(&readEnd, &writeEnd)) return ends;
  Handle runnerEnd = programReads ? writeEnd : readEnd;
  Handle kept = 0;
  if (!Sys().DuplicateHandle(runnerEnd, &kept)) {
    Sys().CloseHandle(readEnd);
    Sys().CloseHandle(writeEnd);
    return ends;
  }
  Sys().CloseHandle(runnerEnd);
  ends.program = programReads ? readEnd : writeEnd;
  ends.runner = kept;
  return ends;
}

void ClosePipe(PipeEnds* ends) {
  if (ends->program) Sys().CloseHandle(ends->program);
  if (ends->runner) Sys().CloseHandle(ends->runner);
  *ends = PipeEnds{};
}

// "program" or program as it is when it starts with a quote, then one blank
// and the parameters when there are any. Null when the heap has no room.
char* ComposeCommandLine(const char* program, const char* parameters) {
  std::size_t programLength = std::strlen(program);
  std::size_t parametersLength = std::strlen(parameters);
  char* line = static_cast<char*>(Sys().HeapAlloc(programLength + parametersLength + 4, false));
  if (!line) return nullptr;
  char* out = line;
  if (program[0] == '"') {
    std::memcpy(out, program, programLength);
    out += programLength;
  } else {
    *out++ = '"';
    std::memcpy(out, program, programLength);
    out += programLength;
    *out++ = '"';
  }
  if (parametersLength) {
    *out++ = ' ';
    std::memcpy(out, parameters, parametersLength);
    out += parametersLength;
  }
  *out = 0;
  return line;
}

bool IsFolderSeparator(char c) { return c == '\\' || c == kPathSeparator; }

// The program path up to and including its last folder separator (one in the
// first position does not count). Null when there is none or the heap has no
// room; released with Sys().HeapFree.
char* ProgramFolder(const char* program) {
  std::size_t length = std::strlen(program);
  std::size_t cut = 0;
  for (std::size_t i = length; i > 1; --i) {
    if (IsFolderSeparator(program[i - 1])) {
      cut = i;
      break;
    }
  }
  if (!cut) return nullptr;
  char* folder = static_cast<char*>(Sys().HeapAlloc(cut + 1, false));
  if (!folder) return nullptr;
  std::memcpy(folder, program, cut);
  folder[cut] = 0;
  return folder;
}

// Fills the record made before the start (so that a program once started
// always has one) and puts it on the list of kept programs.
std::intptr_t KeepRecord(ProgramRecord* record, Handle process, std::uint32_t processId,
                         const PipeEnds pipes[3], std::uint32_t flags) {
  record->process = process;
  record->processId = processId;
  record->inputPipe = pipes[1].runner;
  record->outputPipe = pipes[0].runner;
  record->errorPipe = pipes[2].runner;
  record->flags = flags;
  std::lock_guard<std::mutex> lock(keptLock);
  record->next = keptPrograms;
  keptPrograms = record;
  return reinterpret_cast<std::intptr_t>(record);
}

// Takes `record` off the list of kept programs; false when it is not on it.
bool Unkeep(ProgramRecord* record) {
  std::lock_guard<std::mutex> lock(keptLock);
  for (ProgramRecord** link = &keptPrograms; *link; link = &(*link)->next) {
    if (*link == record) {
      *link = record->next;
      return true;
    }
  }
  return false;
}

}  // namespace

std::uint32_t LastProgramId() { return lastProgramId; }

bool WaitForProgram(std::intptr_t program) {
  auto* record = reinterpret_cast<ProgramRecord*>(program);
  if (!record || !Unkeep(record)) return false;
  bool waited = record->process &&
                Sys().WaitForSingleObject(record->process, INFINITE_WAIT) == WAIT_OBJECT_0_RESULT;
  for (Handle handle :
       {record->process, record->inputPipe, record->outputPipe, record->errorPipe}) {
    if (handle) Sys().CloseHandle(handle);
  }
  Sys().HeapFree(record);
  return waited;
}

void InitProgramRunner() {
  std::lock_guard<std::mutex> lock(keptLock);
  keptPrograms = nullptr;
}

std::intptr_t StartProgram(const char* program, const char* parameters,
                           const char* workingDirectory, std::uint32_t flags) {
  if (!program) program = "";
  if (!parameters) parameters = "";
  if (workingDirectory && !*workingDirectory) workingDirectory = nullptr;
  const bool keep = (flags & KeepProgram) != 0;
  const std::uint32_t pipeFlags = keep ? flags & kPipeFlags : 0;

  StartupInfo startup;
  startup.dwFlags = STARTF_USESHOWWINDOW_FLAG;
  startup.wShowWindow = (flags & RunHidden) ? SW_HIDE_CMD : SW_SHOWNORMAL_CMD;
  std::uint32_t creationFlags = NORMAL_PRIORITY_CLASS_FLAG;
  if (flags & RunHidden) creationFlags |= DETACHED_PROCESS_FLAG;
  bool inheritHandles = false;

  lastProgramId = 0;
  char* commandLine = ComposeCommandLine(program, parameters);
  if (!commandLine) return 0;
  ProgramRecord* record = nullptr;
  if (keep) {
    record = static_cast<ProgramRecord*>(Sys().HeapAlloc(sizeof(ProgramRecord), true));
    if (!record) {
      Sys().HeapFree(commandLine);
      return 0;
    }
  }

  // Standard output, input and error, in the order of the pipe flags.
  PipeEnds pipes[3];
  if (pipeFlags) {
    if (pipeFlags & PipeOutput) pipes[0] = MakePipe(false);
    if (pipeFlags & PipeInput) pipes[1] = MakePipe(true);
    if (pipeFlags & PipeError) pipes[2] = MakePipe(false);
    startup.dwFlags |= STARTF_USESTDHANDLES_FLAG;
    startup.hStdOutput = pipes[0].program ? pipes[0].program : Sys().GetStdHandle(STD_OUTPUT);
    startup.hStdInput = pipes[1].program ? pipes[1].program : Sys().GetStdHandle(STD_INPUT);
    startup.hStdError = pipes[2].program ? pipes[2].program : Sys().GetStdHandle(STD_ERROR);
    inheritHandles = true;
    creationFlags &= ~DETACHED_PROCESS_FLAG;
  }

  std::intptr_t result = 0;
  ProcessInformation info;
  if (Sys().CreateProcessA(commandLine, inheritHandles, creationFlags, workingDirectory, startup,
                           &info)) {
    lastProgramId = info.dwProcessId;
    for (PipeEnds& ends : pipes) {
      if (ends.program) Sys().CloseHandle(ends.program);
      ends.program = 0;
    }
    if (info.hThread) Sys().CloseHandle(info.hThread);
    if (flags & RunWait) Sys().WaitForSingleObject(info.hProcess, INFINITE_WAIT);
    if (keep) {
      result = KeepRecord(record, info.hProcess, info.dwProcessId, pipes, flags);
    } else {
      Sys().CloseHandle(info.hProcess);
      result = 1;
    }
    Sys().HeapFree(commandLine);
    return result;
  }

  for (PipeEnds& ends : pipes) ClosePipe(&ends);
  if (pipeFlags) {
    Sys().HeapFree(record);
    Sys().HeapFree(commandLine);
    return 0;
  }

  char* folder = workingDirectory ? nullptr : ProgramFolder(program);
  ShellExecuteInfo shell;
  shell.fMask =
      SEE_MASK_NOCLOSEPROCESS_FLAG | SEE_MASK_FLAG_DDEWAIT_FLAG | SEE_MASK_FLAG_NO_UI_FLAG;
  shell.lpVerb = nullptr;
  shell.lpFile = program;
  shell.lpParameters = parameters;
  shell.lpDirectory = workingDirectory ? workingDirectory : folder;
  shell.nShow = startup.wShowWindow;
  if (Sys().ShellExecuteExA(&shell)) {
    if ((flags & RunWait) && shell.hProcess) {
      Sys().WaitForSingleObject(shell.hProcess, INFINITE_WAIT);
    }
    if (keep) {
      result = KeepRecord(record, shell.hProcess, static_cast<std::uint32_t>(-1), pipes, flags);
      record = nullptr;
    } else {
      if (shell.hProcess) Sys().CloseHandle(shell.hProcess);
      result = 1;
    }
  }
  if (record) Sys().HeapFree(record);
  if (folder) Sys().HeapFree(folder);
  Sys().HeapFree(commandLine);
  return result;
}

}  // namespace qg
