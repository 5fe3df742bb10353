#pragma once
// BindingVisitor: the traversal interface through which writers read a value.
//
// BindingProperty::accept walks a value depth-first: a scalar calls its one
// operation; a collection calls StartArray(size), then for each element
// StartElement, the element, EndElement, and finally EndArray; a structure
// calls StartObject(member count), then for each member in ascending byte
// order of names Key(name), the member's value, EndMember, and finally
// EndObject. An empty value calls Null.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace Nalo {

class BindingTypeDescriptor;

class BindingVisitor {
 public:
  virtual void Null() = 0;
  virtual void Bool(bool value) = 0;
  virtual void Int64(std::int64_t value) = 0;
  virtual void Uint64(std::uint64_t value) = 0;
  virtual void Double(double value) = 0;
  virtual void String(std::string_view bytes) = 0;
  virtual void Blob(std::span<const std::uint8_t> bytes) = 0;
  // `descriptor` is the enum's registered type, or null when unknown.
  virtual void Enum(std::int32_t value, const BindingTypeDescriptor* descriptor) = 0;
  virtual void StartArray(std::size_t count) = 0;
  virtual void StartElement() {}
  virtual void EndElement() {}
  virtual void EndArray() = 0;
  virtual void StartObject(std::size_t count) = 0;
  virtual void Key(std::string_view name) = 0;
  virtual void EndMember() {}
  virtual void EndObject() = 0;

  virtual ~BindingVisitor() = default;
};

}  // namespace Nalo
