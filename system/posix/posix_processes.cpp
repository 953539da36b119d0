// Process snapshot and termination on POSIX: not available in this build yet;
// every operation fails cleanly.
#include "system/posix/posix_platform.h"

namespace qg {

Handle PosixPlatform::CreateToolhelp32Snapshot(std::uint32_t, std::uint32_t) { return 0; }
bool PosixPlatform::Process32First(Handle, ProcessEntry*) { return false; }
bool PosixPlatform::Process32Next(Handle, ProcessEntry*) { return false; }
Handle PosixPlatform::OpenProcess(std::uint32_t, bool, std::uint32_t) { return 0; }
bool PosixPlatform::TerminateProcess(Handle, std::uint32_t) { return false; }

}  // namespace qg
