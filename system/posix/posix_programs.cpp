// Starting programs on POSIX: not available in this build yet; every
// operation fails cleanly.
#include "system/posix/posix_platform.h"

namespace qg {

bool PosixPlatform::CreateProcessA(char*, bool, std::uint32_t, const char*, const StartupInfo&,
                                   ProcessInformation* info) {
  if (info) *info = ProcessInformation{};
  return false;
}
std::uint32_t PosixPlatform::WaitForSingleObject(Handle, std::uint32_t) {
  return WAIT_FAILED_RESULT;
}
bool PosixPlatform::ShellExecuteExA(ShellExecuteInfo* info) {
  if (info) info->hProcess = 0;
  return false;
}
bool PosixPlatform::CreatePipe(Handle*, Handle*) { return false; }
bool PosixPlatform::DuplicateHandle(Handle, Handle*) { return false; }

}  // namespace qg
