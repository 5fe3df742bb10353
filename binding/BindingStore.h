#pragma once
// BindingStore: the storage behind one BindingProperty tree.
//
// A store interns every string of its tree once (a reference-counted hash set
// hashed with 32-bit FNV-1a over the bytes up to the first NUL, its entries
// told apart by length and every byte) and serves the
// tree's out-of-line payloads from 18 size-class pools of 4 to 72 bytes. Each
// class has a small inline first page (144 bytes) and further pages of 4096
// bytes aligned to their size, so a freed block finds its page by rounding its
// address down. Pages are taken from the heap in growing chunks and an
// emptied page is kept for reuse until the store goes. Requests above 72
// bytes go to the heap.
//
// A store is created by the first root value that needs one and destroyed with
// it. Destroying a store releases every block it handed out, so a root drops
// its whole tree at once instead of value by value. It takes no locks: a tree
// is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Nalo {

namespace detail {
struct InternedString;
struct PoolPage;
struct PoolSizeClass;
struct LargeBlock;
struct PageChunk;
}  // namespace detail

class BindingStore {
 public:
  static constexpr std::size_t kSizeClassCount = 18;
  static constexpr std::size_t kGranularity = 4;
  static constexpr std::size_t kLargestPooledBlock = kSizeClassCount * kGranularity;  // 72
  static constexpr std::size_t kInlinePageBytes = 144;
  static constexpr std::size_t kPageBytes = 4096;
  // Heap pages come in chunks of 2, 4, ... up to 64 pages.
  static constexpr std::size_t kFirstChunkPages = 2;
  static constexpr std::size_t kLargestChunkPages = 64;

  BindingStore() noexcept;
  ~BindingStore();
  BindingStore(const BindingStore&) = delete;
  BindingStore& operator=(const BindingStore&) = delete;
  BindingStore(BindingStore&&) = delete;
  BindingStore& operator=(BindingStore&&) = delete;

  // A block of at least `size` bytes, 8-byte aligned when `size` is a multiple
  // of 8. Never returns null (allocation failure ends the process like
  // operator new does).
  void* Allocate(std::size_t size);
  // Returns a block obtained from Allocate with the same `size`.
  void Free(void* block, std::size_t size) noexcept;

  // Finds or inserts `bytes` (all of them, NULs included) and takes one
  // reference. The empty string is never interned: it yields the shared empty
  // entry, which is never counted.
  detail::InternedString* Intern(std::string_view bytes);
  // The same for a caller that knows Hash(bytes) and that `bytes` holds no
  // NUL (for example a registered field name).
  detail::InternedString* InternHashed(std::string_view bytes, std::uint32_t hash);
  // Interns every byte of an entry of another store, reusing its hash.
  detail::InternedString* InternCopy(const detail::InternedString& entry);
  // Drops one reference; the entry is erased when none is left.
  void Release(detail::InternedString* entry) noexcept;

  // The shared empty entry every empty string value refers to.
  static detail::InternedString* EmptyString() noexcept;

  // 32-bit FNV-1a over the bytes up to the first NUL.
  static std::uint32_t Hash(std::string_view bytes) noexcept;
  // The same, also giving the number of bytes before the first NUL.
  static std::uint32_t Hash(std::string_view bytes, std::size_t& hashedLength) noexcept;

  // Distinct strings currently interned, and pool blocks in use. For tests
  // and memory diagnostics.
  [[nodiscard]] std::size_t InternedCount() const noexcept { return mInternedCount; }
  [[nodiscard]] std::size_t PooledBlocksInUse() const noexcept;

 private:
  detail::InternedString* Insert(std::string_view bytes, std::uint32_t hash);
  void GrowBuckets();
  detail::PoolPage* NewPage(detail::PoolSizeClass& sizeClass);
  void AddChunk();

  detail::PoolSizeClass* mClasses;
  detail::LargeBlock* mLargeBlocks = nullptr;  // kSizeClassCount entries, allocated with the store
  detail::PageChunk* mChunks = nullptr;
  void* mFreePages = nullptr;  // unused heap pages, chained through their first bytes
  std::size_t mNextChunkPages = kFirstChunkPages;
  detail::InternedString** mBuckets = nullptr;
  std::size_t mBucketCount = 0;
  std::size_t mInternedCount = 0;
};

}  // namespace Nalo
