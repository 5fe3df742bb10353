#pragma once
// Private to the binding library: the walk behind VisitNative
// (BindingConvert.h), which hands a native value to a BindingVisitor field
// by field, exactly as accept() hands over the tree ToProperty would build,
// without building it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "binding/BindingProperty.h"
#include "binding/BindingVisitor.h"

namespace Nalo {
class BindingTypeRegistry;
}  // namespace Nalo

namespace Nalo::detail {

class NativeVisit {
 public:
  // `visitor` and `registry` must outlive the walk.
  NativeVisit(BindingVisitor& visitor, const BindingTypeRegistry& registry) noexcept
      : mVisitor(visitor), mRegistry(registry) {}

  [[nodiscard]] const BindingTypeRegistry& Registry() const noexcept { return mRegistry; }

  void Null() { mVisitor.Null(); }
  void Bool(bool value) { mVisitor.Bool(value); }
  void Int64(std::int64_t value) { mVisitor.Int64(value); }
  void Uint64(std::uint64_t value) { mVisitor.Uint64(value); }
  void Double(double value) { mVisitor.Double(value); }
  void String(std::string_view bytes) { mVisitor.String(bytes); }
  void Blob(std::span<const std::uint8_t> bytes) { mVisitor.Blob(bytes); }
  void Enum(std::int32_t value, const BindingTypeDescriptor* descriptor) {
    mVisitor.Enum(value, descriptor);
  }
  void StartArray(std::size_t count) { mVisitor.StartArray(count); }
  void StartElement() { mVisitor.StartElement(); }
  void EndElement() { mVisitor.EndElement(); }
  void EndArray() { mVisitor.EndArray(); }
  void StartObject(std::size_t count) { mVisitor.StartObject(count); }
  void Key(std::string_view name) { mVisitor.Key(name); }
  void EndMember() { mVisitor.EndMember(); }
  void EndObject() { mVisitor.EndObject(); }
  // A held value, walked by its own accept().
  void Value(const BindingProperty& value) { value.accept(mVisitor); }
  // A registered structure, member by member in name order.
  [[nodiscard]] bool Struct(const void* native, const BindingTypeDescriptor* descriptor);
  // A structure through the value tree ToProperty builds (no descriptor, or
  // fields that share a name).
  [[nodiscard]] bool StructThroughTree(const void* native, const BindingTypeDescriptor* descriptor);

  // Records `message` as the failure; returns false.
  bool Fail(std::string_view message) {
    mError.assign(message);
    return false;
  }
  [[nodiscard]] const std::string& Error() const noexcept { return mError; }

 private:
  BindingVisitor& mVisitor;
  const BindingTypeRegistry& mRegistry;
  std::string mError;
};

}  // namespace Nalo::detail
