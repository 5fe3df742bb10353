#include "diagnostics/LogTarget.h"

#include <algorithm>
#include <cstring>

#include "diagnostics/LogManager.h"

namespace Nalo {
namespace {

std::size_t CopyFormat(std::string_view format, char* buffer, std::size_t capacity) noexcept {
  if (capacity != 0) {
    const std::size_t copied = std::min(format.size(), capacity - 1);
    std::memcpy(buffer, format.data(), copied);
    buffer[copied] = '\0';
  }
  return format.size();
}

LogRecord ToLogRecord(const LogTargetRecord& record) noexcept {
  return LogRecord{.time = record.time,
                   .level = static_cast<LogLevel>(record.level),
                   .groups = record.groups,
                   .message = std::string_view(record.message, record.messageLength)};
}

std::uint8_t ToFlag(bool value) noexcept {
  return value ? 1 : 0;
}

// The table of a struct of static functions named after its entries.
template <class Functions>
constexpr LogTargetFunctions TableOf() noexcept {
  return LogTargetFunctions{.setMinimumLevel = Functions::SetMinimumLevel,
                            .getMinimumLevel = Functions::GetMinimumLevel,
                            .setMasks = Functions::SetMasks,
                            .getIncludeMask = Functions::GetIncludeMask,
                            .getExcludeMask = Functions::GetExcludeMask,
                            .getName = Functions::GetName,
                            .getFormat = Functions::GetFormat,
                            .setFormat = Functions::SetFormat,
                            .attach = Functions::Attach,
                            .detach = Functions::Detach,
                            .isAttached = Functions::IsAttached,
                            .write = Functions::Write,
                            .flush = Functions::Flush};
}

}  // namespace

// The table of a target that keeps its settings in the LogTarget object. Each
// function holds the target's lock, so a manager that holds its own lock while
// calling them keeps the manager-then-target order.
struct LogTarget::OwnFunctions {
  static LogTarget& Self(void* target) noexcept { return *static_cast<LogTarget*>(target); }
  static const LogTarget& Self(const void* target) noexcept {
    return *static_cast<const LogTarget*>(target);
  }

  static void SetMinimumLevel(void* target, std::int32_t level) noexcept {
    std::lock_guard lock(Self(target).mMutex);
    Self(target).mMinimumLevel = static_cast<LogLevel>(level);
  }
  static std::int32_t GetMinimumLevel(const void* target) noexcept {
    std::lock_guard lock(Self(target).mMutex);
    return static_cast<std::int32_t>(Self(target).mMinimumLevel);
  }
  static void SetMasks(void* target, std::uint64_t includeGroups,
                       std::uint64_t excludeGroups) noexcept {
    std::lock_guard lock(Self(target).mMutex);
    Self(target).mIncludeMask = includeGroups;
    Self(target).mExcludeMask = excludeGroups;
  }
  static std::uint64_t GetIncludeMask(const void* target) noexcept {
    std::lock_guard lock(Self(target).mMutex);
    return Self(target).mIncludeMask;
  }
  static std::uint64_t GetExcludeMask(const void* target) noexcept {
    std::lock_guard lock(Self(target).mMutex);
    return Self(target).mExcludeMask;
  }
  static LogTargetText GetName(const void* target) noexcept {
    const std::string_view name = Self(target).GetName();
    return LogTargetText{.data = name.data(), .length = name.size()};
  }
  static std::size_t GetFormat(const void* target, char* buffer, std::size_t capacity) noexcept {
    std::lock_guard lock(Self(target).mMutex);
    return CopyFormat(Self(target).mFormat, buffer, capacity);
  }
  // A format is a few dozen characters; failing to allocate one ends the
  // process, as it would anywhere else in the plugin.
  static void SetFormat(void* target, const char* format, std::size_t length) noexcept {
    std::lock_guard lock(Self(target).mMutex);
    Self(target).mFormat.assign(format, length);
  }
  static void Attach(void* target, void* manager) noexcept {
    Self(target).SetManager(static_cast<LogManager*>(manager));
  }
  static void Detach(void* target) noexcept { Self(target).SetManager(nullptr); }
  static std::uint8_t IsAttached(const void* target) noexcept {
    std::lock_guard lock(Self(target).mMutex);
    return ToFlag(Self(target).mManager != nullptr);
  }
  static std::uint8_t Write(void* target, const LogTargetRecord* record) noexcept {
    std::lock_guard lock(Self(target).mMutex);
    return ToFlag(Self(target).Write(ToLogRecord(*record)));
  }
  static void Flush(void* target) noexcept {
    std::lock_guard lock(Self(target).mMutex);
    Self(target).Flush();
  }

  static const LogTargetFunctions kTable;
};

constinit const LogTargetFunctions LogTarget::OwnFunctions::kTable = TableOf<OwnFunctions>();

LogTarget::LogTarget() : mFunctions(&OwnFunctions::kTable) {}

LogTarget::~LogTarget() {
  LogTarget::Detach();
}

void LogTarget::Detach() {
  LogManager* manager = nullptr;
  {
    std::lock_guard lock(mMutex);
    manager = mManager;
  }
  // The target lock is released before the manager lock is taken: the manager
  // lock always comes first.
  if (manager != nullptr) {
    manager->Detach(*this);
  }
}

std::string LogTarget::GetFormat() const {
  std::lock_guard lock(mMutex);
  return mFormat;
}

void LogTarget::SetMinimumLevel(LogLevel level) {
  mFunctions->setMinimumLevel(this, static_cast<std::int32_t>(level));
}

LogLevel LogTarget::MinimumLevel() const {
  return static_cast<LogLevel>(mFunctions->getMinimumLevel(this));
}

void LogTarget::SetMasks(std::uint64_t includeGroups, std::uint64_t excludeGroups) {
  mFunctions->setMasks(this, includeGroups, excludeGroups);
}

std::uint64_t LogTarget::IncludeMask() const {
  return mFunctions->getIncludeMask(this);
}

std::uint64_t LogTarget::ExcludeMask() const {
  return mFunctions->getExcludeMask(this);
}

void LogTarget::SetFormat(std::string_view format) {
  mFunctions->setFormat(this, format.data(), format.size());
}

bool LogTarget::IsAttached() const {
  return mFunctions->isAttached(this) != 0;
}

std::string_view LogTarget::ExecutableName() const noexcept {
  return mManager != nullptr ? mManager->ExecutableName() : kUnknownExecutableName;
}

void LogTarget::SetManager(LogManager* manager) {
  std::lock_guard lock(mMutex);
  mManager = manager;
}

// Forwards every call to the external table, and keeps the manager link in
// the LogTarget part so that Detach and the destructor can find the manager.
struct ExternalLogTarget::ForwardingFunctions {
  static ExternalLogTarget& Self(void* target) noexcept {
    return static_cast<ExternalLogTarget&>(*static_cast<LogTarget*>(target));
  }
  static const ExternalLogTarget& Self(const void* target) noexcept {
    return static_cast<const ExternalLogTarget&>(*static_cast<const LogTarget*>(target));
  }

  static void SetMinimumLevel(void* target, std::int32_t level) noexcept {
    Self(target).mExternalFunctions.setMinimumLevel(Self(target).mExternalTarget, level);
  }
  static std::int32_t GetMinimumLevel(const void* target) noexcept {
    return Self(target).mExternalFunctions.getMinimumLevel(Self(target).mExternalTarget);
  }
  static void SetMasks(void* target, std::uint64_t includeGroups,
                       std::uint64_t excludeGroups) noexcept {
    Self(target).mExternalFunctions.setMasks(Self(target).mExternalTarget, includeGroups,
                                             excludeGroups);
  }
  static std::uint64_t GetIncludeMask(const void* target) noexcept {
    return Self(target).mExternalFunctions.getIncludeMask(Self(target).mExternalTarget);
  }
  static std::uint64_t GetExcludeMask(const void* target) noexcept {
    return Self(target).mExternalFunctions.getExcludeMask(Self(target).mExternalTarget);
  }
  static LogTargetText GetName(const void* target) noexcept {
    return Self(target).mExternalFunctions.getName(Self(target).mExternalTarget);
  }
  static std::size_t GetFormat(const void* target, char* buffer, std::size_t capacity) noexcept {
    return Self(target).mExternalFunctions.getFormat(Self(target).mExternalTarget, buffer,
                                                     capacity);
  }
  static void SetFormat(void* target, const char* format, std::size_t length) noexcept {
    Self(target).mExternalFunctions.setFormat(Self(target).mExternalTarget, format, length);
  }
  static void Attach(void* target, void* manager) noexcept {
    Self(target).SetManager(static_cast<LogManager*>(manager));
    Self(target).mExternalFunctions.attach(Self(target).mExternalTarget, manager);
  }
  static void Detach(void* target) noexcept {
    Self(target).SetManager(nullptr);
    Self(target).mExternalFunctions.detach(Self(target).mExternalTarget);
  }
  static std::uint8_t IsAttached(const void* target) noexcept {
    return Self(target).mExternalFunctions.isAttached(Self(target).mExternalTarget);
  }
  static std::uint8_t Write(void* target, const LogTargetRecord* record) noexcept {
    return Self(target).mExternalFunctions.write(Self(target).mExternalTarget, record);
  }
  static void Flush(void* target) noexcept {
    Self(target).mExternalFunctions.flush(Self(target).mExternalTarget);
  }

  static const LogTargetFunctions kTable;
};

constinit const LogTargetFunctions ExternalLogTarget::ForwardingFunctions::kTable =
    TableOf<ForwardingFunctions>();

ExternalLogTarget::ExternalLogTarget(const LogTargetFunctions& functions, void* target)
    : LogTarget(ForwardingFunctions::kTable),
      mExternalFunctions(functions),
      mExternalTarget(target) {}

ExternalLogTarget::~ExternalLogTarget() {
  Detach();
}

std::string_view ExternalLogTarget::GetName() const {
  const LogTargetText name = mExternalFunctions.getName(mExternalTarget);
  return std::string_view(name.data, name.length);
}

std::string ExternalLogTarget::GetFormat() const {
  std::string format;
  // The format may change between the calls; ask again until the copy fits.
  std::size_t length = mExternalFunctions.getFormat(mExternalTarget, nullptr, 0);
  do {
    format.resize(length + 1);
    length = mExternalFunctions.getFormat(mExternalTarget, format.data(), format.size());
  } while (length >= format.size());
  format.resize(length);
  return format;
}

bool ExternalLogTarget::Write(const LogRecord& record) {
  const LogTargetRecord external{.time = record.time,
                                 .level = static_cast<std::int32_t>(record.level),
                                 .groups = record.groups,
                                 .message = record.message.data(),
                                 .messageLength = record.message.size()};
  return mExternalFunctions.write(mExternalTarget, &external) != 0;
}

void ExternalLogTarget::Flush() {
  mExternalFunctions.flush(mExternalTarget);
}

}  // namespace Nalo
