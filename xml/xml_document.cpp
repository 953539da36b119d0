// The document table, the shared NodePool, each document's StringPool and
// the release of documents.
#include "xml/xml_document.h"

#include <cstring>

#include "system/platform.h"
#include "xml/xml_library.h"

namespace qg {

namespace {

ObjectTable<XmlDocument>* documents = nullptr;

// NodePool: blocks of nodes, the first of kFirstNodeBlock nodes, each later
// one twice the size of the one before up to kLargestNodeBlock. Nodes are cut
// from the newest block in order; returned nodes go on a free list (linked
// through `parent`) and are taken again first. Blocks are released only with
// the library.
struct NodeBlock {
  NodeBlock* next;
  std::size_t count;
  // the nodes follow, aligned for XmlNode
};

constexpr std::size_t kFirstNodeBlock = 256;
constexpr std::size_t kLargestNodeBlock = 4096;
constexpr std::size_t kNodeBlockHeader =
    (sizeof(NodeBlock) + alignof(XmlNode) - 1) / alignof(XmlNode) * alignof(XmlNode);

struct NodePool {
  NodeBlock* blocks = nullptr;  // newest first
  std::size_t used = 0;         // nodes cut from the newest block
  XmlNode* freeNodes = nullptr;
};

NodePool nodePool;

XmlNode* NodesOf(NodeBlock* block) {
  return reinterpret_cast<XmlNode*>(reinterpret_cast<char*>(block) + kNodeBlockHeader);
}

void ReleaseNodePool() {
  for (NodeBlock* block = nodePool.blocks; block;) {
    NodeBlock* next = block->next;
    Sys().HeapFree(block);
    block = next;
  }
  nodePool = NodePool();
}

// Releases the node's strings and attribute array that are individual
// allocations; pool-carved ones go with the pool.
void ReleaseNodeStrings(XmlNode* node) {
  Platform& sys = Sys();
  if (IsIndividual(node->name)) sys.HeapFree(node->name);
  if (IsIndividual(node->text)) sys.HeapFree(node->text);
  if (node->attributes) {
    for (int i = 0; i < 2 * node->attributeCount; ++i) {
      if (IsIndividual(node->attributes[i])) sys.HeapFree(node->attributes[i]);
    }
    if (!(node->flags & kPooledAttributes)) sys.HeapFree(node->attributes);
  }
  if (node->markupMarks) sys.HeapFree(node->markupMarks);
}

// Releases a whole subtree without recursion: each child is unlinked from its
// parent before the walk descends into it, so on the way back up the parent's
// `firstChild` is already the next child to release. A node's strings go when
// the walk reaches it, the node itself after all of its children.
void ReleaseSubtree(XmlNode* top) {
  if (!top) return;
  ReleaseNodeStrings(top);
  XmlNode* node = top;
  for (;;) {
    if (XmlNode* child = node->firstChild) {
      node->firstChild = child->nextSibling;
      ReleaseNodeStrings(child);
      node = child;
      continue;
    }
    XmlNode* parent = node == top ? nullptr : node->parent;
    ReturnNode(node);
    if (!parent) return;
    node = parent;
  }
}

char* PoolEnd(const XmlDocument* document) {
  return reinterpret_cast<char*>(document->stringPool) + document->stringPool->size;
}

// True when `size` bytes (and the one byte the parity step may take) fit in
// the newest block from `at` on.
bool Fits(const XmlDocument* document, const char* at, std::size_t size) {
  if (!at || !document->stringPool || at >= PoolEnd(document)) return false;
  return static_cast<std::size_t>(PoolEnd(document) - at) > size + 1;
}

void FreeOne(ObjectNumber number) { FreeXmlDocument(number); }

}  // namespace

ObjectTable<XmlDocument>* XmlDocumentTable() { return documents; }

XmlNode* TakeNode() {
  XmlNode* node = nodePool.freeNodes;
  if (node) {
    nodePool.freeNodes = node->parent;
  } else {
    NodeBlock* block = nodePool.blocks;
    if (!block || nodePool.used == block->count) {
      std::size_t count = block ? block->count * 2 : kFirstNodeBlock;
      if (count > kLargestNodeBlock) count = kLargestNodeBlock;
      auto* fresh = static_cast<NodeBlock*>(
          Sys().HeapAlloc(kNodeBlockHeader + count * sizeof(XmlNode), false));
      if (!fresh) return nullptr;
      fresh->next = block;
      fresh->count = count;
      nodePool.blocks = block = fresh;
      nodePool.used = 0;
    }
    node = NodesOf(block) + nodePool.used++;
  }
  std::memset(static_cast<void*>(node), 0, sizeof(XmlNode));
  return node;
}

void ReturnNode(XmlNode* node) {
  node->parent = nodePool.freeNodes;
  nodePool.freeNodes = node;
}

bool AddPoolBlock(XmlDocument* document, std::size_t size) {
  auto* block = size > sizeof(StringPoolBlock)
                    ? static_cast<StringPoolBlock*>(Sys().HeapAlloc(size, false))
                    : nullptr;
  if (!block) {
    document->poolNext = nullptr;
    return false;
  }
  block->next = document->stringPool;
  block->size = size;
  document->stringPool = block;
  document->poolNext = reinterpret_cast<char*>(block + 1);
  return true;
}

char* PoolAllocSlow(XmlDocument* document, std::size_t size) {
  if (size > kPoolLargestRequest) return static_cast<char*>(Sys().HeapAlloc(size, false));
  if (!Fits(document, document->poolNext, size) && !AddPoolBlock(document, kStringPoolBlockSize)) {
    return static_cast<char*>(Sys().HeapAlloc(size, false));
  }
  char* at = document->poolNext;
  if (reinterpret_cast<std::uintptr_t>(at) % 8 == 0) ++at;
  document->poolNext = at + size;
  return at;
}

char** PoolAllocPointers(XmlDocument* document, std::size_t count, bool* pooled) {
  *pooled = false;
  if (count > kPoolLargestRequest / sizeof(char*)) {
    return static_cast<char**>(Sys().HeapAlloc(count * sizeof(char*), false));
  }
  std::size_t size = count * sizeof(char*);
  auto aligned = [](char* at) {
    auto address = reinterpret_cast<std::uintptr_t>(at);
    return at + (alignof(char*) - address % alignof(char*)) % alignof(char*);
  };
  char* at = document->poolNext ? aligned(document->poolNext) : nullptr;
  if (!Fits(document, at, size)) {
    if (!AddPoolBlock(document, kStringPoolBlockSize)) {
      return static_cast<char**>(Sys().HeapAlloc(size, false));
    }
    at = aligned(document->poolNext);
  }
  document->poolNext = at + size;
  *pooled = true;
  return reinterpret_cast<char**>(at);
}

bool MarkMarkupValue(XmlNode* node, int index, bool markup) {
  if (IsMarkupValue(node, index) == markup) return true;
  auto word = static_cast<std::uint32_t>(index) / 32;
  std::uint32_t* marks = node->markupMarks;
  if (!marks || word >= marks[0]) {
    // Only setting a mark gets here; room for every attribute the array can hold.
    auto pairs = static_cast<std::uint32_t>(node->attributeCount + node->spareSlots);
    std::uint32_t words = (pairs > word * 32 + 32 ? pairs : word * 32 + 32) / 32 + 1;
    void* grown = marks ? Sys().HeapReAlloc(marks, (words + 1) * sizeof(std::uint32_t), true)
                        : Sys().HeapAlloc((words + 1) * sizeof(std::uint32_t), true);
    if (!grown) return false;
    marks = node->markupMarks = static_cast<std::uint32_t*>(grown);
    marks[0] = words;
  }
  marks[1 + word] ^= 1u << (index % 32);
  return true;
}

char* CopyIndividual(const char* text) {
  if (!text) text = "";
  std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(Sys().HeapAlloc(size, false));
  if (copy) std::memcpy(copy, text, size);
  return copy;
}

XmlDocument* CreateXmlDocument(ObjectNumber number, StringFormat encoding) {
  XmlNode* root = TakeNode();
  if (!root) return nullptr;
  XmlDocument* document = AcquireObject(documents, number);
  if (!document) {
    ReturnNode(root);
    return nullptr;
  }
  document->inUse = 1;
  document->status = kParseOk;
  document->standalone = -1;
  document->encoding = encoding;
  document->root = root;
  root->kind = DocumentNode;
  root->documentNumber =
      number == kDynamicNumber ? reinterpret_cast<std::intptr_t>(document) : number;
  return document;
}

void InitXmlLibrary() {
  if (!documents) documents = CreateObjectTable<XmlDocument>(8, FreeOne);
}

void ReleaseXmlLibrary() {
  CloseAllObjects(documents);
  ReleaseNodePool();
}

std::int32_t GetParseStatus(ObjectNumber number) {
  XmlDocument* document = LookupObject(documents, number);
  return document ? document->status : 0;
}

XmlLoadProblem GetLoadProblem(ObjectNumber number) {
  XmlDocument* document = LookupObject(documents, number);
  return document ? static_cast<XmlLoadProblem>(document->loadProblem) : XmlLoadProblem::None;
}

XmlNode* GetMainNode(ObjectNumber number) {
  XmlDocument* document = LookupObject(documents, number);
  return document ? document->mainNode : nullptr;
}

void FreeXmlDocument(ObjectNumber number) {
  if (number == kDynamicNumber) {
    CloseAllObjects(documents);
    return;
  }
  XmlDocument* document = LookupObject(documents, number);
  if (!document) return;
  ReleaseSubtree(document->root);
  for (StringPoolBlock* block = document->stringPool; block;) {
    StringPoolBlock* next = block->next;
    Sys().HeapFree(block);
    block = next;
  }
  if (document->declaredEncoding) Sys().HeapFree(document->declaredEncoding);
  ReleaseObject(documents, number);
}

}  // namespace qg
