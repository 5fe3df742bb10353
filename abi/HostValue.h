#pragma once
// HostValue: a host value record (HostAbi.h) that the plugin allocated and
// owns, and the conversions between host values and BindingProperty.
//
// Every payload that crosses the plugin boundary travels as a NaloHostValue.
// Values the plugin builds are owned by a HostValue until they are handed
// to the core with Release(); the receiver then gives the record back to
// ReleaseHostValue (through the response's release function) when it is
// done. Values the core passes in are only read: FromHostValue copies them
// into a BindingProperty tree.
//
//   Nalo::HostValue payload = Nalo::ToHostValue(resource, registry);
//   event.payload = payload.Record();       // lent for the length of the call
//   core->sendEvent(core, &event);
//
//   Nalo::BindingResult value = Nalo::FromHostValue(argument.value, "queue");
//   if (value.Failed()) { ... value.ErrorMessage() ... }
//
// Kinds: empty, bool, signed, unsigned, float, string, blob, collection and
// structure become host kinds 0, 1, 2, 3, 4, 6, 8, 9 and 10; every text,
// byte block and member name is copied and owned. An enum becomes its
// enumerator's name (kind 6) when the registry knows one for its value, and
// its number (kind 2) otherwise. Back from the host, kinds 5 and 6 both give
// a string, 7 and 8 a blob, the others their own kind.
//
// A value the plugin builds is one allocation: the record's own pointer
// (its member or element array, or its text or bytes) starts a block that
// holds the whole tree, and ReleaseHostValue frees that block. The records
// are laid out and owned as HostAbi.h says; only their storage is shared.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "abi/HostAbi.h"
#include "binding/BindingConvert.h"
#include "binding/BindingProperty.h"
#include "binding/BindingResult.h"
#include "binding/BindingVisitor.h"

namespace Nalo {

class BindingTypeRegistry;

// Owns one host value record built with the plugin's allocation functions,
// and everything it points at. Move-only.
class HostValue {
 public:
  // A null value (kind 0).
  HostValue() noexcept : mRecord{} {}
  // Takes ownership of `record`, which the plugin must have built (with
  // ToHostValue or another HostValue's Release()).
  explicit HostValue(const NaloHostValue& record) noexcept : mRecord(record) {}
  ~HostValue();

  HostValue(HostValue&& other) noexcept : mRecord(other.Release()) {}
  HostValue& operator=(HostValue&& other) noexcept;
  HostValue(const HostValue&) = delete;
  HostValue& operator=(const HostValue&) = delete;

  // The record, valid while this owner holds it.
  [[nodiscard]] const NaloHostValue& Record() const noexcept { return mRecord; }
  // Hands the record out and leaves this owner null. Whoever takes it must
  // pass it to ReleaseHostValue exactly once.
  [[nodiscard]] NaloHostValue Release() noexcept;

 private:
  NaloHostValue mRecord;
};

// Frees everything a plugin-built record owns and makes it null (kind 0).
// Must not be given a record the core built.
void ReleaseHostValue(NaloHostValue& record) noexcept;

// Copies `value` into a new host value. `registry` names enum values (see
// above). Only allocation can fail, and it throws std::bad_alloc like every
// allocation of the value model; nothing is leaked when it does.
[[nodiscard]] HostValue ToHostValue(const BindingProperty& value,
                                    const BindingTypeRegistry& registry);

// One member of an object that ToHostObject builds.
struct HostMemberSource {
  std::string_view name;
  const BindingProperty* value;  // never null
};

// Builds an object of `members`, in their order, as ToHostValue builds a
// structure holding them, without first gathering them into one tree.
[[nodiscard]] HostValue ToHostObject(std::span<const HostMemberSource> members,
                                     const BindingTypeRegistry& registry);

// Builds a host value from one walk of a value (BindingProperty::accept or
// VisitNative): the same record ToHostValue builds from the walked tree, in
// one block, written as the walk goes. The block starts at `capacityHint`
// bytes and grows (moving what was written) when a write would not fit;
// what the last build used (Used()) is a good hint for a similar value.
//
//   Nalo::HostValueBuilder builder(registry);
//   Nalo::BindingResult walked = Nalo::VisitNative(session, registry, builder);
//   if (walked.Succeeded()) { Nalo::HostValue value = builder.Take(); ... }
//
// Every publication of the plugin goes through here, so the common calls are
// written to cost a few instructions each: records hold final addresses from
// the start (a block that grows moves them once, in Grow), and a name or a
// text is one bounds check and one copy.
class HostValueBuilder final : public BindingVisitor {
 public:
  explicit HostValueBuilder(const BindingTypeRegistry& registry, std::size_t capacityHint = 0);
  ~HostValueBuilder() override;
  HostValueBuilder(const HostValueBuilder&) = delete;
  HostValueBuilder& operator=(const HostValueBuilder&) = delete;
  HostValueBuilder(HostValueBuilder&&) = delete;
  HostValueBuilder& operator=(HostValueBuilder&&) = delete;

  void Null() override { Advance(); }
  void Bool(bool value) override;
  void Int64(std::int64_t value) override;
  void Uint64(std::uint64_t value) override;
  void Double(double value) override;
  void String(std::string_view bytes) override;
  void Blob(std::span<const std::uint8_t> bytes) override;
  void Enum(std::int32_t value, const BindingTypeDescriptor* descriptor) override;
  void StartArray(std::size_t count) override { Open(count, Container::Array); }
  void EndArray() override { Close(); }
  void StartObject(std::size_t count) override { Open(count, Container::Object); }
  void Key(std::string_view name) override;
  void EndObject() override { Close(); }

  // The bytes of the block written so far.
  [[nodiscard]] std::size_t Used() const noexcept { return mUsed; }
  // The value of the one complete walk seen; the builder is then empty.
  [[nodiscard]] HostValue Take();

 private:
  enum class Container : std::uint8_t { Array, Object };
  // An open array or object: where its records lie in the block, and the
  // index of the record the next value fills.
  struct Frame {
    std::size_t records;
    std::size_t next;
    Container container;
  };
  static constexpr std::size_t kInlineFrames = 16;

  // The offset of `size` more bytes, aligned for records when `isRecord`.
  std::size_t Allocate(std::size_t size, bool isRecord);
  // Moves the block to one of at least `needed` bytes, and every address the
  // records written so far hold with it.
  void Grow(std::size_t needed);
  // The record the next value fills (valid until the next allocation).
  NaloHostValue& Slot() noexcept {
    if (mTop == nullptr) {
      return mRoot;
    }
    std::byte* records = mBlock + mTop->records;
    return mTop->container == Container::Object
               ? reinterpret_cast<NaloHostMember*>(records)[mTop->next].value
               : reinterpret_cast<NaloHostValue*>(records)[mTop->next];
  }
  // The value in the current slot is complete.
  void Advance() noexcept {
    if (mTop != nullptr) {
      ++mTop->next;
    }
  }
  void Open(std::size_t count, Container container);
  void Close() noexcept;
  // Writes `bytes` (and a NUL when `isText`) into the block; their address.
  const std::byte* CopyBytes(const void* bytes, std::size_t size, bool isText);

  const BindingTypeRegistry& mRegistry;
  std::byte* mBlock = nullptr;
  std::size_t mUsed = 0;
  std::size_t mCapacity = 0;
  NaloHostValue mRoot{};
  std::size_t mDepth = 0;
  // The innermost open frame; null at the root.
  Frame* mTop = nullptr;
  std::array<Frame, kInlineFrames> mFrames{};
  std::vector<Frame> mMoreFrames;
};

// Builds the host value ToHostValue(ToProperty(native, registry).Value(),
// registry) builds, straight from the native record. Fails as ToProperty
// fails; `out` is then left as it was.
template <class T>
[[nodiscard]] BindingResult ToHostValue(const T& native, const BindingTypeRegistry& registry,
                                        HostValue& out, std::size_t capacityHint = 0) {
  HostValueBuilder builder(registry, capacityHint);
  BindingResult walked = VisitNative(native, registry, builder);
  if (walked.Succeeded()) {
    out = builder.Take();
  }
  return walked;
}

// Copies a host value into a BindingProperty. `name` names the value in
// messages. Fails, as a whole, when any part is of an unknown kind ("Couldn't
// assign value to '<name>' of type object because the input is of an
// incompatible type ''."), when a pointer is null beside a non-zero length,
// or when arrays and objects nest deeper than kMaxNestingDepth.
[[nodiscard]] BindingResult FromHostValue(const NaloHostValue& value, std::string_view name);

// Hands a host value to `visitor` exactly as FromHostValue(value, name)
// .Value().accept(visitor) would, call for call, without building the tree
// (WalkToJson in binding/Json.h writes it out). Only for a value that
// FromHostValue reads and whose objects name their members in strictly
// ascending byte order, as a plugin's walk writes them: on anything else
// it answers false part way, and the caller reads the value with
// FromHostValue instead (whose tree merges repeated names and orders them).
[[nodiscard]] bool VisitHostValue(const NaloHostValue& value, BindingVisitor& visitor);

}  // namespace Nalo
