#include "binding/Yaml.h"

#include <yaml.h>

#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/BindingLimits.h"
#include "binding/PositionalFormat.h"
#include "binding/src/YamlMessages.h"
#include "binding/src/YamlScalar.h"

namespace Nalo {
namespace {

using namespace Nalo::detail;

// --- libyaml ownership. ------------------------------------------------------------

// A libyaml parser reading one UTF-8 text; deleted with its owner.
class YamlParser {
 public:
  // `text` must outlive the parser.
  explicit YamlParser(std::string_view text) {
    if (yaml_parser_initialize(&mParser) == 0) {
      // The only way initialisation fails is running out of memory.
      throw std::bad_alloc();
    }
    yaml_parser_set_encoding(&mParser, YAML_UTF8_ENCODING);
    // libyaml wants a readable pointer even for an empty text.
    static constexpr unsigned char kNothing[1] = {0};
    const unsigned char* bytes =
        text.empty() ? kNothing : reinterpret_cast<const unsigned char*>(text.data());
    yaml_parser_set_input_string(&mParser, bytes, text.size());
  }
  ~YamlParser() { yaml_parser_delete(&mParser); }
  YamlParser(const YamlParser&) = delete;
  YamlParser& operator=(const YamlParser&) = delete;
  YamlParser(YamlParser&&) = delete;
  YamlParser& operator=(YamlParser&&) = delete;

  yaml_parser_t& Get() noexcept { return mParser; }

 private:
  yaml_parser_t mParser{};
};

// One event taken from the parser, released when it goes out of scope.
class YamlEvent {
 public:
  // Parses the next event; false (with the parser's error set) when libyaml
  // fails, in which case there is nothing to release.
  [[nodiscard]] bool ParseNext(yaml_parser_t& parser) noexcept {
    mHeld = yaml_parser_parse(&parser, &mEvent) != 0;
    return mHeld;
  }
  ~YamlEvent() {
    if (mHeld) {
      yaml_event_delete(&mEvent);
    }
  }
  YamlEvent() = default;
  YamlEvent(const YamlEvent&) = delete;
  YamlEvent& operator=(const YamlEvent&) = delete;
  YamlEvent(YamlEvent&&) = delete;
  YamlEvent& operator=(YamlEvent&&) = delete;

  const yaml_event_t& Get() const noexcept { return mEvent; }

 private:
  yaml_event_t mEvent{};
  bool mHeld = false;
};

// --- Building. -----------------------------------------------------------------

std::string_view Text(const yaml_char_t* text) noexcept {
  return text == nullptr ? std::string_view() : reinterpret_cast<const char*>(text);
}

// Turns libyaml's events into a value tree.
//
// The open containers live on a stack. The slot of the next value is the
// root when nothing is open, a freshly appended element inside a sequence,
// and, inside a mapping, the member selected by the last key. Container
// pointers on the stack stay valid: members never move, and only the
// innermost open collection grows, so no open container is relocated.
//
// Anchors record where their node is, not a pointer to it: a closed
// collection may still be relocated when its parent grows. A container's
// anchor keeps the path of steps (element index or member name) from the root,
// a scalar's anchor its text. Each open container holds its step from its
// parent in a node shared with its children's, so recording an anchor costs
// no more than holding one pointer, however deep or long-named the path.
class YamlTreeBuilder {
 public:
  explicit YamlTreeBuilder(BindingProperty& root) : mRoot(root) {}

  // Applies one event; false (with Error() set) stops the parse.
  [[nodiscard]] bool Apply(const yaml_event_t& event) {
    switch (event.type) {
      case YAML_DOCUMENT_START_EVENT:
        if (!mRoot.IsEmpty()) {
          mError = kYamlMultiDocumentMessage;
          return false;
        }
        return true;
      case YAML_SCALAR_EVENT:
        return ApplyScalar(event);
      case YAML_ALIAS_EVENT:
        return ApplyAlias(event);
      case YAML_SEQUENCE_START_EVENT:
        return Open(event, event.data.sequence_start.anchor, BindingKind::Collection);
      case YAML_MAPPING_START_EVENT:
        return Open(event, event.data.mapping_start.anchor, BindingKind::Structure);
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT:
        mOpen.pop_back();
        return true;
      case YAML_NO_EVENT:
      case YAML_STREAM_START_EVENT:
      case YAML_STREAM_END_EVENT:
      case YAML_DOCUMENT_END_EVENT:
        return true;
    }
    return true;
  }

  [[nodiscard]] const std::string& Error() const noexcept { return mError; }

 private:
  struct PathStep {
    std::size_t index;
    std::string name;
    bool isIndex;
  };

  // The last step to a container and the node of its parent; the root has
  // no node.
  struct PathNode {
    std::shared_ptr<const PathNode> parent;
    PathStep step;
  };

  struct Frame {
    BindingProperty* container;
    // The container's anchor, or empty.
    std::string_view anchor;
    // The path to the container.
    std::shared_ptr<const PathNode> path;
    bool isCollection;
  };

  struct Anchor {
    std::shared_ptr<const PathNode> path;
    std::string text;
    bool isContainer = false;
  };

  using AnchorTable = std::unordered_map<std::string, Anchor>;

  // What an alias would copy in.
  struct Extent {
    std::size_t values = 0;
    std::size_t bytes = 0;
    std::size_t levels = 0;
  };

  // What aliases may still copy in.
  struct Budget {
    std::size_t values;
    std::size_t bytes;
  };

  static std::size_t Line(const yaml_event_t& event) noexcept { return event.start_mark.line + 1; }
  static std::size_t Column(const yaml_event_t& event) noexcept {
    return event.start_mark.column + 1;
  }

  bool Fail(std::string_view format, const yaml_event_t& event) {
    mError = FormatPositional(format, {Line(event), Column(event)});
    return false;
  }
  bool Fail(std::string_view format, FormatArgument first, const yaml_event_t& event) {
    mError = FormatPositional(format, {first, Line(event), Column(event)});
    return false;
  }

  // Inside a mapping with no key pending: the next scalar is a key.
  bool InKeyPosition() const noexcept {
    return !mOpen.empty() && !mOpen.back().isCollection && mPendingValue == nullptr;
  }

  // The value that receives the next node, or null (with the error set) when
  // the innermost sequence is full.
  BindingProperty* Slot(const yaml_event_t& event) {
    if (mOpen.empty()) {
      return &mRoot;
    }
    const Frame& frame = mOpen.back();
    if (frame.isCollection) {
      const std::size_t size = frame.container->size();
      if (size >= kMaxCollectionSize) [[unlikely]] {
        Fail(kYamlSequenceTooLongMessage, kMaxCollectionSize, event);
        return nullptr;
      }
      return &frame.container->at(size);
    }
    return std::exchange(mPendingValue, nullptr);
  }

  // Enters `name` in the anchor table and returns its entry, or null (with
  // the error set) when the name is already there.
  AnchorTable::value_type* DefineAnchor(const yaml_char_t* name, const yaml_event_t& event) {
    auto [entry, inserted] = mAnchors.try_emplace(std::string(Text(name)));
    if (!inserted) {
      Fail(kYamlDuplicateAnchorMessage, Text(name), event);
      return nullptr;
    }
    return &*entry;
  }

  bool ApplyScalar(const yaml_event_t& event) {
    const auto& scalar = event.data.scalar;
    const std::string_view text(reinterpret_cast<const char*>(scalar.value), scalar.length);
    if (scalar.anchor != nullptr) {
      AnchorTable::value_type* entry = DefineAnchor(scalar.anchor, event);
      if (entry == nullptr) {
        return false;
      }
      entry->second.text = text;
      entry->second.isContainer = false;
    }
    if (InKeyPosition()) {
      if (scalar.tag != nullptr && Text(scalar.tag) != detail::kYamlStringTag) {
        return Fail(kYamlInvalidKeyMessage, event);
      }
      mPendingValue = &mOpen.back().container->member(text);
      mPendingKey.assign(text);
      return true;
    }
    BindingProperty* slot = Slot(event);
    if (slot == nullptr) {
      return false;
    }
    const bool quoted = scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                        scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
    const YamlScalar typed{reinterpret_cast<const char*>(scalar.tag), text, quoted, Line(event),
                           Column(event)};
    return detail::ResolveYamlScalar(typed, *slot, mError);
  }

  bool Open(const yaml_event_t& event, const yaml_char_t* anchorName, BindingKind kind) {
    const bool isCollection = kind == BindingKind::Collection;
    if (InKeyPosition()) {
      return Fail(isCollection ? kYamlSequenceAsKeyMessage : kYamlMappingAsKeyMessage, event);
    }
    if (mOpen.size() >= kMaxNestingDepth) [[unlikely]] {
      return Fail(kYamlNestingTooDeepMessage, kMaxNestingDepth, event);
    }
    AnchorTable::value_type* anchor = nullptr;
    if (anchorName != nullptr) {
      anchor = DefineAnchor(anchorName, event);
      if (anchor == nullptr) {
        return false;
      }
    }
    // The step from the parent, taken before Slot() appends the element or
    // clears the pending key.
    std::shared_ptr<const PathNode> path;
    if (!mOpen.empty()) {
      const Frame& parent = mOpen.back();
      PathStep step = parent.isCollection ? PathStep{parent.container->size(), {}, true}
                                          : PathStep{0, mPendingKey, false};
      path = std::make_shared<const PathNode>(PathNode{parent.path, std::move(step)});
    }
    BindingProperty* slot = Slot(event);
    if (slot == nullptr) {
      return false;
    }
    if (isCollection) {
      slot->MakeCollection();
    } else {
      slot->MakeStructure();
    }
    if (anchor != nullptr) {
      anchor->second.isContainer = true;
      anchor->second.path = path;
    }
    // The frame refers to the name kept as the table's key: table entries
    // never move.
    mOpen.push_back({slot, anchor == nullptr ? std::string_view() : anchor->first, std::move(path),
                     isCollection});
    return true;
  }

  // The node at `path` now, or null when later input replaced a container on
  // the way by a scalar.
  const BindingProperty* Follow(const std::shared_ptr<const PathNode>& path) const {
    // Steps run from the container up; the walk goes down from the root.
    std::vector<const PathStep*> steps;
    for (const PathNode* node = path.get(); node != nullptr; node = node->parent.get()) {
      steps.push_back(&node->step);
    }
    const BindingProperty* node = &mRoot;
    for (auto position = steps.rbegin(); position != steps.rend(); ++position) {
      const PathStep& step = **position;
      if (step.isIndex) {
        const std::span<const BindingProperty> elements = node->Elements();
        node = step.index < elements.size() ? &elements[step.index] : nullptr;
      } else {
        node = node->Find(step.name);
      }
      if (node == nullptr) {
        return nullptr;
      }
    }
    return node;
  }

  // Counts the values of `node` (itself included), their string and blob
  // bytes and its container levels, stopping once either count passes
  // `budget`. The tree's depth is bounded, so the recursion is too.
  static void Measure(const BindingProperty& node, std::size_t level, const Budget& budget,
                      Extent& extent) {
    ++extent.values;
    const BindingKind kind = node.Kind();
    if (kind == BindingKind::String || kind == BindingKind::Blob) {
      extent.bytes += node.size();
      return;
    }
    if (kind != BindingKind::Collection && kind != BindingKind::Structure) {
      return;
    }
    extent.levels = std::max(extent.levels, level + 1);
    if (kind == BindingKind::Collection) {
      for (const BindingProperty& element : node.Elements()) {
        if (Exceeds(extent, budget)) {
          return;
        }
        Measure(element, level + 1, budget, extent);
      }
      return;
    }
    for (const detail::MemberView member : node.Members()) {
      if (Exceeds(extent, budget)) {
        return;
      }
      Measure(member.value, level + 1, budget, extent);
    }
  }

  static bool Exceeds(const Extent& extent, const Budget& budget) noexcept {
    return extent.values > budget.values || extent.bytes > budget.bytes;
  }

  // Charges what an alias copies in against the text's budget; false (with
  // the error set) when it would pass either limit.
  bool ChargeAlias(const Extent& extent, const Budget& budget, const yaml_event_t& event) {
    if (extent.values > budget.values) {
      return Fail(kYamlAliasExpansionMessage, kMaxYamlAliasValues, event);
    }
    if (extent.bytes > budget.bytes) {
      return Fail(kYamlAliasBytesMessage, kMaxYamlAliasBytes, event);
    }
    mAliasValues += extent.values;
    mAliasBytes += extent.bytes;
    return true;
  }

  Budget RemainingBudget() const noexcept {
    return {kMaxYamlAliasValues - mAliasValues, kMaxYamlAliasBytes - mAliasBytes};
  }

  bool ApplyAlias(const yaml_event_t& event) {
    const std::string_view name = Text(event.data.alias.anchor);
    for (const Frame& frame : mOpen) {
      if (frame.anchor == name) {
        return Fail(kYamlCyclicAliasMessage, name, event);
      }
    }
    const auto entry = mAnchors.find(std::string(name));
    if (entry == mAnchors.end()) {
      return Fail(kYamlUndefinedAliasMessage, name, event);
    }
    const Anchor& anchor = entry->second;
    if (InKeyPosition()) {
      if (anchor.isContainer) {
        return Fail(kYamlInvalidKeyMessage, event);
      }
      mPendingValue = &mOpen.back().container->member(anchor.text);
      mPendingKey = anchor.text;
      return true;
    }
    // Choose the slot first: appending it may relocate the anchored node,
    // which is then found again by its path.
    BindingProperty* slot = Slot(event);
    if (slot == nullptr) {
      return false;
    }
    if (!anchor.isContainer) {
      if (!ChargeAlias({.values = 1, .bytes = anchor.text.size()}, RemainingBudget(), event)) {
        return false;
      }
      slot->SetString(anchor.text);
      return true;
    }
    const BindingProperty* source = Follow(anchor.path);
    if (source == nullptr) {
      slot->Reset();
      return true;
    }
    // A later mapping merged under the anchored one's key can enclose the
    // alias without carrying the anchor itself.
    for (const Frame& frame : mOpen) {
      if (frame.container == source) {
        return Fail(kYamlCyclicAliasMessage, name, event);
      }
    }
    const Budget budget = RemainingBudget();
    Extent extent;
    Measure(*source, 0, budget, extent);
    if (Exceeds(extent, budget)) {
      return ChargeAlias(extent, budget, event);
    }
    if (mOpen.size() + extent.levels > kMaxNestingDepth) {
      return Fail(kYamlNestingTooDeepMessage, kMaxNestingDepth, event);
    }
    if (!ChargeAlias(extent, budget, event)) {
      return false;
    }
    slot->assign(*source);
    return true;
  }

  BindingProperty& mRoot;
  std::vector<Frame> mOpen;
  // The member selected by the pending key, or null when no key is pending.
  BindingProperty* mPendingValue = nullptr;
  // The name of that member, as the key was written.
  std::string mPendingKey;
  AnchorTable mAnchors;
  std::size_t mAliasValues = 0;
  std::size_t mAliasBytes = 0;
  std::string mError;
};

std::string ParserFailure(const yaml_parser_t& parser) {
  const char* problem = parser.problem == nullptr ? "" : parser.problem;
  return FormatPositional(detail::kYamlParserErrorMessage,
                          {problem, parser.problem_mark.line, parser.problem_mark.column});
}

}  // namespace

BindingResult ParseYaml(std::string_view text) {
  YamlParser parser(text);
  BindingProperty root;
  YamlTreeBuilder builder(root);
  while (true) {
    YamlEvent event;
    if (!event.ParseNext(parser.Get())) {
      return BindingResult::Error(ParserFailure(parser.Get()));
    }
    if (!builder.Apply(event.Get())) {
      return BindingResult::Error(builder.Error());
    }
    if (event.Get().type == YAML_STREAM_END_EVENT) {
      return BindingResult(std::move(root));
    }
  }
}

}  // namespace Nalo
