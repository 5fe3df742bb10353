#pragma once
// ChainedError: an error that can describe itself and name its cause.
//
// ErrorChainText prints an error and its causes, one per line, each cause
// introduced by "Caused by:" and indented two spaces deeper than the last:
//
//   could not start the game
//   Caused by:
//     could not write locale.cfg
//     Caused by:
//       Permission denied
//
// ErrorChainLink is a ready-made error that owns its cause.

#include <memory>
#include <string>
#include <utility>

namespace Nalo {

class ChainedError {
 public:
  virtual ~ChainedError() = default;
  // One line of text, without a trailing newline.
  [[nodiscard]] virtual std::string Description() const = 0;
  // The error that caused this one, or nullptr. Not owning. The chain must end:
  // an error must not be its own (indirect) cause.
  [[nodiscard]] virtual const ChainedError* Cause() const = 0;

 protected:
  ChainedError() = default;
  ChainedError(const ChainedError&) = default;
  ChainedError& operator=(const ChainedError&) = default;
  ChainedError(ChainedError&&) = default;
  ChainedError& operator=(ChainedError&&) = default;
};

// The text of `error` and all its causes; every line ends with a newline.
[[nodiscard]] std::string ErrorChainText(const ChainedError& error);

// An error with a fixed description that owns its cause.
class ErrorChainLink final : public ChainedError {
 public:
  explicit ErrorChainLink(std::string description, std::unique_ptr<ChainedError> cause = nullptr)
      : mDescription(std::move(description)), mCause(std::move(cause)) {}

  [[nodiscard]] std::string Description() const override { return mDescription; }
  [[nodiscard]] const ChainedError* Cause() const override { return mCause.get(); }

 private:
  std::string mDescription;
  std::unique_ptr<ChainedError> mCause;
};

}  // namespace Nalo
