// Starting programs, directly or through the shell, and waiting for them.
#pragma once

#include <cstdint>

namespace qg {

enum ProgramFlags : std::uint32_t {
  RunWait = 1,      // return only after the program has ended
  RunHidden = 2,    // hidden window, no console
  KeepProgram = 4,  // return a ProgramRecord and keep the process handle
  PipeOutput = 8,   // with KeepProgram: pipes to the program's standard streams
  PipeInput = 16,
  PipeError = 32,
};

// Run once at program start.
void InitProgramRunner();
// 1 when started (and, with RunWait, ended); 0 when it could not be started;
// in keep mode the address of the ProgramRecord.
std::intptr_t StartProgram(const char* program, const char* parameters,
                           const char* workingDirectory, std::uint32_t flags);
// The process id of the program StartProgram last started directly; 0 when
// the last start failed or went through the shell.
std::uint32_t LastProgramId();
// Waits until a program started with KeepProgram has ended, then lets go of
// it: its process handle, the runner's ends of its pipes and its record.
// False when `program` is no kept program's record, or it has no process to
// wait for (the shell started it and handed none).
bool WaitForProgram(std::intptr_t program);

}  // namespace qg
