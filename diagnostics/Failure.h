#pragma once
// Failure: the error value of every fallible operation outside the data layer.
//
// A failure carries a numeric code, a message for people and the named values
// that went into the message. It is returned (inside MaybeType, MaybeType.h),
// copied and printed; never thrown. Text() gives the form shown to people and
// sent to clients: the message, the message with its code, or a JSON object
// with the message and the fields.
//
//   return Nalo::Failure(404, "No queue with id {queueId}", {{"queueId", queueId}});
//   return Nalo::Failure(400, "Body is not a valid game event.");
//
// Codes. Failures of requests and request handlers use HTTP-style codes;
// choose the first that fits:
//   400  bad input: the caller sent something malformed or out of range
//        (unparsable body, unknown enumerator, negative delay). Retrying the
//        same request cannot succeed.
//   403  refused precondition: the input is well-formed but the current state
//        does not allow the action (not in a phase that can reconnect, the
//        patcher lock is held, a tournament is not checked in). The same
//        request may succeed later.
//   404  missing thing: a resource, record, file or peer that the request names
//        or needs does not exist (no game client directory, no stored process
//        info). Prefer 404 over 403 when the problem is absence, not state.
//   500  anything else: a failing peer or platform call, a system error, a bug.
//        A 500 says "not your fault"; do not use it for bad input.
// Failures built from system errors carry the system error code instead, and
// code 0 means "no code".
//
// Message templates. A template is text with placeholders "{name}" or
// "{name:option}", where name is the name of an argument:
//   - a text argument is inserted as it is;
//   - "str" (and no option at all, for a non-text argument) inserts booleans as
//     "true"/"false", integers in decimal and doubles with "%f" ("1.500000");
//   - "x" inserts an integer as sixteen upper-case hexadecimal digits
//     ("%016llX"; a negative value as its two's complement, a boolean as 0 or
//     1); for a double or a text it acts like "str";
//   - an unknown option acts like no option.
// A placeholder names its argument either exactly or without one of the type
// suffixes "_bool", "_int", "_long", "_float", "_str" and "_time": "{count}"
// finds an argument named "count_int" when there is no argument "count". The
// suffix only tells a reader of the fields what the value is; it does not
// change how the value is written.
// A placeholder whose name matches no argument, and any brace that does not
// open a placeholder, stays in the message as written, so that the mistake is
// visible ("No queue {queue}").
// Every argument is also stored as a field under its full name, whether or not
// a placeholder uses it. Fields are kept in ascending byte order of their names;
// of two arguments with the same name the later one wins.

#include <concepts>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace Nalo {

// The typed value of one failure field.
class FieldValue {
 public:
  using Variant = std::variant<bool, std::int64_t, std::uint64_t, double, std::string>;

  template <typename B>
  requires std::same_as<B, bool> FieldValue(B value)
      : mValue(value) {}  // NOLINT(google-explicit-constructor)
  template <std::signed_integral I>
  FieldValue(I value) : mValue(static_cast<std::int64_t>(value)) {}  // NOLINT
  template <std::unsigned_integral U>
  requires(!std::same_as<U, bool>) FieldValue(U value)
      : mValue(static_cast<std::uint64_t>(value)) {}  // NOLINT
  template <std::floating_point F>
  FieldValue(F value) : mValue(static_cast<double>(value)) {}         // NOLINT
  FieldValue(const char* value) : mValue(std::string(value)) {}       // NOLINT
  FieldValue(std::string_view value) : mValue(std::string(value)) {}  // NOLINT
  FieldValue(std::string value) : mValue(std::move(value)) {}         // NOLINT

  [[nodiscard]] const Variant& Get() const noexcept { return mValue; }
  friend bool operator==(const FieldValue&, const FieldValue&) = default;

 private:
  Variant mValue;
};

// One named argument of a message template.
struct FailureArgument {
  std::string_view name;
  FieldValue value;
};

class [[nodiscard]] Failure {
 public:
  using Fields = std::map<std::string, FieldValue, std::less<>>;

  // Code 0, no message: prints as an empty text.
  Failure() = default;
  Failure(const Failure&);
  Failure(Failure&&) noexcept;
  Failure& operator=(const Failure&);
  Failure& operator=(Failure&&) noexcept;
  // Out of line on purpose: when GCC inlines a Failure's destructor into a
  // result whose alternative it cannot track, it reports spurious "may be used
  // uninitialized" warnings.
  ~Failure();
  // A code without a message: prints as an empty text.
  explicit Failure(std::uint32_t code) : mCode(code) {}
  // Fills `messageTemplate` from `arguments` (see the header comment) and keeps
  // the arguments as fields.
  Failure(std::uint32_t code, std::string_view messageTemplate,
          std::initializer_list<FailureArgument> arguments = {});
  // The same with code 0.
  explicit Failure(std::string_view messageTemplate,
                   std::initializer_list<FailureArgument> arguments = {});

  // Message: `context`, ": " and the system's text for `code` (SystemError.h),
  // or the system's text alone when `context` is empty. Code: `code`.
  [[nodiscard]] static Failure FromSystemError(std::uint32_t code, std::string_view context);
  // The same for the calling thread's last system error, read before anything
  // else can change it.
  [[nodiscard]] static Failure FromLastSystemError(std::string_view context);
  // Message: "<function>: <file>(<line>): <message>", where `function` is the
  // qualified function name ("Nalo::Client::Gameflow::GameflowPlugin::
  // GetAndWriteGameLocale") and only the file name of `file` is kept (the text
  // after the last '/' or '\'). Code 0. Logs the message at ERROR in group
  // "DBG" when built.
  [[nodiscard]] static Failure Located(std::string_view function, std::string_view file,
                                       std::int32_t line, std::string_view message);

  [[nodiscard]] std::uint32_t Code() const noexcept { return mCode; }
  [[nodiscard]] bool HasMessage() const noexcept { return mMessage.has_value(); }
  // The filled-in message; empty when absent.
  [[nodiscard]] std::string_view Message() const noexcept;
  [[nodiscard]] const Fields& GetFields() const noexcept { return mFields; }

  // The printed form:
  //   - no message: "";
  //   - with fields, unless the only field is "errorFields_int": a compact JSON
  //     object, first "message", then the fields in order (booleans, integers,
  //     shortest round-trip numbers, strings; a non-finite double as null);
  //   - a non-zero code: "<message> (<code>)";
  //   - otherwise the message.
  [[nodiscard]] std::string Text() const;

  friend bool operator==(const Failure&, const Failure&) = default;

 private:
  std::uint32_t mCode = 0;
  std::optional<std::string> mMessage;
  Fields mFields;
};

// Writes Text(); for test output and debugging.
std::ostream& operator<<(std::ostream& stream, const Failure& failure);

// The single field name whose presence does not make Text() print JSON.
inline constexpr std::string_view kErrorFieldsFieldName = "errorFields_int";

}  // namespace Nalo
