#include "launcher/bundle_processes.h"

#include <cstring>

#include "launcher/bundle_root.h"
#include "launcher/process_control.h"

namespace qg {

namespace {

constexpr char kConsoleWindowClass[] = "ConsoleWindowClass";
constexpr char kConEmuWindowClass[] = "VirtualConsoleClass";

// A program's path without the "\\?\" prefix of the system's own paths:
// Wine names a program started from a share "\\?\UNC\server\share\...",
// which Windows names "\\server\share\...", as the root is named.
std::u16string WithoutLongPathPrefix(std::u16string path) {
  constexpr std::u16string_view kUnc = u"\\\\?\\UNC\\", kLocal = u"\\\\?\\";
  if (path.starts_with(kUnc)) return path.replace(0, kUnc.size(), u"\\\\");
  if (path.starts_with(kLocal) && path.size() > kLocal.size() + 1 &&
      path[kLocal.size() + 1] == u':')
    path.erase(0, kLocal.size());
  return path;
}

}  // namespace

// Read wide, since the ANSI form has "?" for the characters the code page
// lacks, and expanded, since a program may have been started by its short
// path.
PathKey ProcessImagePath(Handle process) {
  char16_t buffer[4096];
  std::uint32_t size = sizeof buffer / sizeof buffer[0];
  if (!Sys().QueryFullProcessImageNameW(process, buffer, &size) || size == 0 ||
      size >= sizeof buffer / sizeof buffer[0]) {
    return {};
  }
  return PathKey(LongPathOf(WithoutLongPathPrefix(std::u16string(buffer, size))));
}

bool BundleProcesses::Take(const BundleKeys& keys, std::uint32_t editorId) {
  processes_.clear();
  text_.clear();
  root_ = keys.root;
  editorId_ = editorId;
  selfId_ = Sys().GetCurrentProcessId();

  bool taken = WalkProcessSnapshot([this](const ProcessEntry& entry) {
    ProcessRecord record{};
    record.pid = entry.th32ProcessID;
    record.parent = entry.th32ParentProcessID;
    std::memcpy(record.exeFile, entry.szExeFile, sizeof record.exeFile);
    record.exeFile[sizeof record.exeFile - 1] = 0;
    processes_.push_back(record);
    return true;
  });
  if (!taken) return false;

  bool anyPath = false;
  for (ProcessRecord& record : processes_) {
    Handle process = Sys().OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION_RIGHT, false, record.pid);
    if (!process) continue;
    const std::string path = ProcessImagePath(process).Text();
    record.pathAt = text_.size();
    record.pathLength = path.size();
    text_ += path;
    record.createdKnown = Sys().GetProcessTimes(process, &record.created);
    Sys().CloseHandle(process);
    anyPath = anyPath || !path.empty();
  }
  // A system that cannot name any process's program: nobody's can be told
  // from the user's, so nothing is touched.
  if (!anyPath) {
    processes_.clear();
    return false;
  }

  // The launcher and the chain above it, which are never closed or stopped.
  const ProcessRecord* self = Find(selfId_);
  for (std::size_t depth = 0; self && depth <= processes_.size(); ++depth) {
    processes_[static_cast<std::size_t>(self - processes_.data())].selfOrAncestor = true;
    self = ParentOf(*self);
  }
  for (ProcessRecord& record : processes_) record.belongs = ComputeBelongs(record);
  return true;
}

const ProcessRecord* BundleProcesses::Find(std::uint32_t pid) const {
  for (const ProcessRecord& record : processes_) {
    if (record.pid == pid) return &record;
  }
  return nullptr;
}

const ProcessRecord* BundleProcesses::ParentOf(const ProcessRecord& child) const {
  if (child.parent == 0 || child.parent == child.pid) return nullptr;
  const ProcessRecord* parent = Find(child.parent);
  if (!parent) return nullptr;
  if (parent->createdKnown && child.createdKnown && parent->created > child.created) {
    return nullptr;  // the id passed to a later process
  }
  return parent;
}

bool BundleProcesses::ByPath(const ProcessRecord& record) const {
  return PathKey::Inside(root_, PathOf(record));
}

bool BundleProcesses::ComputeBelongs(const ProcessRecord& record) const {
  if (record.pathLength == 0 || record.selfOrAncestor) return false;
  if (ByPath(record)) return true;

  const ProcessRecord* launcher = Find(selfId_);
  const ProcessRecord* current = &record;
  for (std::size_t depth = 0; depth <= processes_.size(); ++depth) {
    std::uint32_t parentId = current->parent;
    if (parentId == 0 || parentId == current->pid) return false;
    if (editorId_ && parentId == editorId_) {
      // The editor has ended; a live process with its id is a later one,
      // unless it was there before this child.
      const ProcessRecord* holder = Find(parentId);
      bool holderIsParent = holder && (!holder->createdKnown || !current->createdKnown ||
                                       holder->created <= current->created);
      if (!holderIsParent) {
        // A child the editor made came after the launcher.
        return !(launcher && launcher->createdKnown && current->createdKnown &&
                 current->created < launcher->created);
      }
    }
    const ProcessRecord* parent = ParentOf(*current);
    if (!parent) return false;
    if (parent->pid == selfId_) return true;  // adopted by the launcher
    if (ByPath(*parent)) return true;
    current = parent;
  }
  return false;
}

bool BundleProcesses::OwnsCommandWindow(std::uint32_t owner) const {
  const ProcessRecord* ownerRecord = owner ? Find(owner) : nullptr;
  if (!ownerRecord || ownerRecord->selfOrAncestor) return false;
  if (ownerRecord->belongs) return true;
  for (const ProcessRecord& record : processes_) {
    if (record.belongs && ParentOf(record) == ownerRecord) return true;
  }
  return false;
}

bool IsBundleCommandWindow(Window window, const BundleProcesses& owned) {
  char className[64];
  int length = Sys().GetClassNameA(window, className, sizeof className);
  if (length <= 0 || length >= static_cast<int>(sizeof className)) return false;
  className[length] = 0;
  if (std::strcmp(className, kConsoleWindowClass) != 0 &&
      std::strcmp(className, kConEmuWindowClass) != 0) {
    return false;
  }
  std::uint32_t owner = 0;
  Sys().GetWindowThreadProcessId(window, &owner);
  return owned.OwnsCommandWindow(owner);
}

}  // namespace qg
