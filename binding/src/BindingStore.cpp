#include "binding/BindingStore.h"

#include <cassert>
#include <cstddef>
#include <cstring>
#include <new>

#include "binding/BindingProperty.h"

namespace Nalo {

namespace {

constexpr std::uint16_t kNoBlock = 0xFFFF;
constexpr std::size_t kInitialBuckets = 8;

std::size_t RoundUp(std::size_t size, std::size_t multiple) {
  return (size + multiple - 1) / multiple * multiple;
}

// The shared empty string: a header followed by its terminating NUL.
struct EmptyEntry {
  detail::InternedString header{nullptr, 0x811c9dc5u, 0, 0, 0};
  char terminator = '\0';
};
EmptyEntry gEmptyEntry;

using Page = detail::PoolPage;
using SizeClass = detail::PoolSizeClass;

}  // namespace

// A block above the largest size class, from the heap. The store links every
// such block so that destroying the store releases the whole tree at once.
struct detail::LargeBlock {
  LargeBlock* previous;
  LargeBlock* next;
};
static_assert(sizeof(detail::LargeBlock) % alignof(std::max_align_t) == 0);

// A page of blocks of one size class. Heap pages are kPageBytes long and
// aligned to kPageBytes, with this header at their start; the inline first
// page of a class keeps its header in the class and its blocks beside it.
// Free blocks are chained through their first two bytes by block index.
struct detail::PoolPage {
  Page* previousAvailable;  // list of pages with a free block
  Page* nextAvailable;
  Page* previousOwned;  // list of every heap page of the store
  Page* nextOwned;
  std::uint8_t* blocks;
  std::uint16_t freeHead;
  std::uint16_t used;
  std::uint16_t untouched;  // blocks from here on were never handed out
  std::uint16_t capacity;

  [[nodiscard]] bool Full() const noexcept { return freeHead == kNoBlock && untouched == capacity; }
};

// A run of heap pages taken from the heap at once. Pages emptied while the
// store lives wait on the store's free list for the next class that needs
// one; chunks go back to the heap with the store.
struct detail::PageChunk {
  PageChunk* next;
  void* memory;
};

struct detail::PoolSizeClass {
  Page inlinePage;
  alignas(8) std::uint8_t inlineBlocks[BindingStore::kInlinePageBytes];
  Page* available;  // head of the pages with a free block
  std::uint32_t blockSize;
};

namespace {

void PushAvailable(Page*& head, Page* page) {
  page->previousAvailable = nullptr;
  page->nextAvailable = head;
  if (head != nullptr) {
    head->previousAvailable = page;
  }
  head = page;
}

void RemoveAvailable(Page*& head, Page* page) {
  if (page->previousAvailable != nullptr) {
    page->previousAvailable->nextAvailable = page->nextAvailable;
  } else {
    head = page->nextAvailable;
  }
  if (page->nextAvailable != nullptr) {
    page->nextAvailable->previousAvailable = page->previousAvailable;
  }
  page->previousAvailable = page->nextAvailable = nullptr;
}

constexpr std::size_t kPageHeaderBytes = (sizeof(Page) + 7) / 8 * 8;

}  // namespace

BindingStore::BindingStore() noexcept
    : mClasses(static_cast<detail::PoolSizeClass*>(
          ::operator new(sizeof(detail::PoolSizeClass) * kSizeClassCount))) {
  for (std::size_t i = 0; i < kSizeClassCount; ++i) {
    SizeClass& sizeClass = mClasses[i];
    sizeClass.blockSize = static_cast<std::uint32_t>((i + 1) * kGranularity);
    Page& page = sizeClass.inlinePage;
    page = Page{nullptr,
                nullptr,
                nullptr,
                nullptr,
                sizeClass.inlineBlocks,
                kNoBlock,
                0,
                0,
                static_cast<std::uint16_t>(kInlinePageBytes / sizeClass.blockSize)};
    sizeClass.available = &page;
  }
}

BindingStore::~BindingStore() {
  // A root destroys its store without releasing its tree value by value:
  // every block of the tree is on a page or in the list of large blocks.
  detail::LargeBlock* large = mLargeBlocks;
  while (large != nullptr) {
    detail::LargeBlock* next = large->next;
    ::operator delete(large);
    large = next;
  }
  detail::PageChunk* chunk = mChunks;
  while (chunk != nullptr) {
    detail::PageChunk* next = chunk->next;
    ::operator delete(chunk->memory, std::align_val_t(kPageBytes));
    delete chunk;
    chunk = next;
  }
  ::operator delete(mClasses);
  ::operator delete(mBuckets);
}

void BindingStore::AddChunk() {
  // Chunks double from kFirstChunkPages up to kLargestChunkPages, so a small
  // tree takes little and a large one few trips to the heap.
  const std::size_t pages = mNextChunkPages;
  mNextChunkPages = pages * 2 < kLargestChunkPages ? pages * 2 : kLargestChunkPages;
  auto* chunk = new detail::PageChunk{mChunks, nullptr};
  chunk->memory = ::operator new(pages* kPageBytes, std::align_val_t(kPageBytes));
  mChunks = chunk;
  auto* bytes = static_cast<std::uint8_t*>(chunk->memory);
  for (std::size_t i = pages; i-- > 0;) {
    void* page = bytes + i * kPageBytes;
    std::memcpy(page, &mFreePages, sizeof(void*));
    mFreePages = page;
  }
}

detail::PoolPage* BindingStore::NewPage(detail::PoolSizeClass& sizeClass) {
  if (mFreePages == nullptr) {
    AddChunk();
  }
  auto* memory = static_cast<std::uint8_t*>(mFreePages);
  std::memcpy(&mFreePages, memory, sizeof(void*));
  auto* page = new (memory)
      Page{nullptr,
           nullptr,
           &sizeClass.inlinePage,
           sizeClass.inlinePage.nextOwned,
           memory + kPageHeaderBytes,
           kNoBlock,
           0,
           0,
           static_cast<std::uint16_t>((kPageBytes - kPageHeaderBytes) / sizeClass.blockSize)};
  // The inline page heads the class's list of owned heap pages.
  if (page->nextOwned != nullptr) {
    page->nextOwned->previousOwned = page;
  }
  sizeClass.inlinePage.nextOwned = page;
  PushAvailable(sizeClass.available, page);
  return page;
}

void* BindingStore::Allocate(std::size_t size) {
  if (size > kLargestPooledBlock) {
    auto* large =
        static_cast<detail::LargeBlock*>(::operator new(sizeof(detail::LargeBlock) + size));
    large->previous = nullptr;
    large->next = mLargeBlocks;
    if (mLargeBlocks != nullptr) {
      mLargeBlocks->previous = large;
    }
    mLargeBlocks = large;
    return large + 1;
  }
  SizeClass& sizeClass = mClasses[size == 0 ? 0 : (size - 1) / kGranularity];
  Page* page = sizeClass.available;
  if (page == nullptr) {
    page = NewPage(sizeClass);
  }
  std::uint8_t* block;
  if (page->freeHead != kNoBlock) {
    block = page->blocks + std::size_t{page->freeHead} * sizeClass.blockSize;
    std::memcpy(&page->freeHead, block, sizeof(std::uint16_t));
  } else {
    block = page->blocks + std::size_t{page->untouched} * sizeClass.blockSize;
    ++page->untouched;
  }
  ++page->used;
  if (page->Full()) {
    RemoveAvailable(sizeClass.available, page);
  }
  return block;
}

void BindingStore::Free(void* block, std::size_t size) noexcept {
  if (block == nullptr) {
    return;
  }
  if (size > kLargestPooledBlock) {
    auto* large = static_cast<detail::LargeBlock*>(block) - 1;
    if (large->previous != nullptr) {
      large->previous->next = large->next;
    } else {
      mLargeBlocks = large->next;
    }
    if (large->next != nullptr) {
      large->next->previous = large->previous;
    }
    ::operator delete(large);
    return;
  }
  SizeClass& sizeClass = mClasses[size == 0 ? 0 : (size - 1) / kGranularity];
  auto* bytes = static_cast<std::uint8_t*>(block);
  Page* page;
  if (bytes >= sizeClass.inlineBlocks && bytes < sizeClass.inlineBlocks + kInlinePageBytes) {
    page = &sizeClass.inlinePage;
  } else {
    // Pages are aligned to their size: the block's offset in its page is the
    // low bits of its address.
    const std::size_t offset = reinterpret_cast<std::uintptr_t>(bytes) & (kPageBytes - 1);
    page = reinterpret_cast<Page*>(bytes - offset);
  }
  assert(page->used > 0 && "a pool block was freed twice or into the wrong size class");
  const bool wasFull = page->Full();
  const auto index = static_cast<std::uint16_t>((bytes - page->blocks) / sizeClass.blockSize);
  std::memcpy(bytes, &page->freeHead, sizeof(std::uint16_t));
  page->freeHead = index;
  --page->used;
  if (wasFull) {
    PushAvailable(sizeClass.available, page);
  }
  // An emptied heap page goes to the store's free pages, for any class,
  // unless it is the only page of its class left with room, which saves a
  // round trip for a tree that keeps allocating and freeing one block.
  if (page->used == 0 && page != &sizeClass.inlinePage &&
      (page->previousAvailable != nullptr || page->nextAvailable != nullptr)) {
    RemoveAvailable(sizeClass.available, page);
    page->previousOwned->nextOwned = page->nextOwned;
    if (page->nextOwned != nullptr) {
      page->nextOwned->previousOwned = page->previousOwned;
    }
    void* memory = page;
    std::memcpy(memory, &mFreePages, sizeof(void*));
    mFreePages = memory;
  }
}

std::size_t BindingStore::PooledBlocksInUse() const noexcept {
  std::size_t count = 0;
  for (std::size_t i = 0; i < kSizeClassCount; ++i) {
    for (const Page* page = &mClasses[i].inlinePage; page != nullptr; page = page->nextOwned) {
      count += page->used;
    }
  }
  return count;
}

namespace {

constexpr std::uint32_t kFnvBasis = 0x811c9dc5u;
constexpr std::uint32_t kFnvPrime = 16777619u;

// FNV-1a over the bytes before the first NUL, in one pass: eight bytes are
// tested for a NUL at once, so the hashing chain has no branch per byte.
// `hashedLength` receives the number of bytes hashed.
std::uint32_t Fnv1aUpToNul(std::string_view bytes, std::size_t& hashedLength) noexcept {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::size_t size = bytes.size();
  std::uint32_t hash = kFnvBasis;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, sizeof word);
    if (((word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull) != 0) {
      break;  // a NUL lies in these eight bytes
    }
    for (std::size_t k = 0; k < 8; ++k) {
      hash = (hash ^ data[i + k]) * kFnvPrime;
    }
  }
  for (; i < size && data[i] != 0; ++i) {
    hash = (hash ^ data[i]) * kFnvPrime;
  }
  hashedLength = i;
  return hash;
}

}  // namespace

std::uint32_t BindingStore::Hash(std::string_view bytes) noexcept {
  std::size_t hashedLength = 0;
  return Fnv1aUpToNul(bytes, hashedLength);
}

std::uint32_t BindingStore::Hash(std::string_view bytes, std::size_t& hashedLength) noexcept {
  return Fnv1aUpToNul(bytes, hashedLength);
}

detail::InternedString* BindingStore::EmptyString() noexcept {
  return &gEmptyEntry.header;
}

detail::InternedString* BindingStore::Intern(std::string_view bytes) {
  if (bytes.empty()) {
    return EmptyString();
  }
  std::size_t hashedLength = 0;
  return Insert(bytes, Fnv1aUpToNul(bytes, hashedLength));
}

detail::InternedString* BindingStore::InternHashed(std::string_view bytes, std::uint32_t hash) {
  assert(hash == Hash(bytes) && "the caller's hash must be the text's own");
  if (bytes.empty()) {
    return EmptyString();
  }
  return Insert(bytes, hash);
}

detail::InternedString* BindingStore::InternCopy(const detail::InternedString& entry) {
  if (entry.length == 0) {
    return EmptyString();
  }
  return Insert(entry.View(), entry.hash);
}

// Entries are told apart by length and every byte: texts that differ only
// after a NUL share a hash (and a bucket) but stay two entries.
detail::InternedString* BindingStore::Insert(std::string_view bytes, std::uint32_t hash) {
  if (mBuckets != nullptr) {
    for (detail::InternedString* entry = mBuckets[hash & (mBucketCount - 1)]; entry != nullptr;
         entry = entry->next) {
      if (entry->hash == hash && entry->length == bytes.size() &&
          std::memcmp(entry->Bytes(), bytes.data(), bytes.size()) == 0) {
        ++entry->references;
        return entry;
      }
    }
  }
  if (mInternedCount + 1 > mBucketCount) {
    GrowBuckets();
  }
  assert(mBuckets != nullptr && "the table has buckets once it holds an entry");
  const std::size_t allocationSize = RoundUp(sizeof(detail::InternedString) + bytes.size() + 1, 8);
  auto* entry = static_cast<detail::InternedString*>(Allocate(allocationSize));
  auto* text = reinterpret_cast<char*>(entry + 1);
  std::memcpy(text, bytes.data(), bytes.size());
  text[bytes.size()] = '\0';
  detail::InternedString*& bucket = mBuckets[hash & (mBucketCount - 1)];
  *entry = detail::InternedString{bucket, hash, 1, static_cast<std::uint32_t>(bytes.size()),
                                  static_cast<std::uint32_t>(allocationSize)};
  bucket = entry;
  ++mInternedCount;
  return entry;
}

void BindingStore::Release(detail::InternedString* entry) noexcept {
  if (entry == EmptyString() || --entry->references != 0) {
    return;
  }
  detail::InternedString** link = &mBuckets[entry->hash & (mBucketCount - 1)];
  while (*link != entry) {
    link = &(*link)->next;
  }
  *link = entry->next;
  --mInternedCount;
  Free(entry, entry->allocationSize);
}

void BindingStore::GrowBuckets() {
  assert((mBuckets != nullptr) == (mBucketCount != 0) && "buckets exist exactly when counted");
  std::size_t count = mBucketCount == 0 ? kInitialBuckets : mBucketCount;
  while (count < mInternedCount + 1) {
    count *= 2;
  }
  if (count == mBucketCount) {
    count *= 2;
  }
  auto** buckets = static_cast<detail::InternedString**>(::operator new(count * sizeof(void*)));
  std::memset(buckets, 0, count * sizeof(void*));
  for (std::size_t i = 0; i < mBucketCount; ++i) {
    detail::InternedString* entry = mBuckets[i];
    while (entry != nullptr) {
      detail::InternedString* next = entry->next;
      detail::InternedString*& bucket = buckets[entry->hash & (count - 1)];
      entry->next = bucket;
      bucket = entry;
      entry = next;
    }
  }
  ::operator delete(mBuckets);
  mBuckets = buckets;
  mBucketCount = count;
}

namespace detail {

void* StoreAllocate(BindingStore& store, std::size_t size) {
  return store.Allocate(size);
}
void StoreFree(BindingStore& store, void* block, std::size_t size) noexcept {
  store.Free(block, size);
}

}  // namespace detail
}  // namespace Nalo
