#pragma once
// Private to the binding library: the JSON writer behind ToJson of a native
// value (BindingConvert.h), driven by the field converters straight from the
// native record, with no value tree in between. Its output is byte for byte
// what ToJson writes for the tree ToProperty would build.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace Nalo {
class BindingProperty;
class BindingTypeDescriptor;
class BindingTypeRegistry;
}  // namespace Nalo

namespace Nalo::detail {

class NativeJsonWriter {
 public:
  // `registry` names enumerators and is only read; it must outlive the writer.
  explicit NativeJsonWriter(const BindingTypeRegistry& registry);
  ~NativeJsonWriter();
  NativeJsonWriter(const NativeJsonWriter&) = delete;
  NativeJsonWriter& operator=(const NativeJsonWriter&) = delete;
  NativeJsonWriter(NativeJsonWriter&&) = delete;
  NativeJsonWriter& operator=(NativeJsonWriter&&) = delete;

  [[nodiscard]] const BindingTypeRegistry& Registry() const noexcept { return mRegistry; }

  void Null();
  void Bool(bool value);
  void Int64(std::int64_t value);
  void Uint64(std::uint64_t value);
  void Double(double value);
  void String(std::string_view bytes);
  void Blob(std::span<const std::uint8_t> bytes);
  void Enum(std::int32_t value, const BindingTypeDescriptor* descriptor);
  void StartArray();
  void EndArray();
  void StartObject();
  void Key(std::string_view name);
  void EndObject();
  // A held value, written as ToJson writes it.
  void Value(const BindingProperty& value);
  // A registered structure, member by member in name order. Fails as the
  // structure conversion does (no descriptor).
  [[nodiscard]] bool Struct(const void* native, const BindingTypeDescriptor* descriptor);

  // Records `message` as the failure; returns false.
  bool Fail(std::string_view message);
  [[nodiscard]] const std::string& Error() const noexcept { return mError; }
  // The text written so far. Asserts that every writer call succeeded.
  [[nodiscard]] std::string TakeText();

 private:
  struct Output;
  const BindingTypeRegistry& mRegistry;
  std::unique_ptr<Output> mOutput;
  std::string mError;
};

}  // namespace Nalo::detail
