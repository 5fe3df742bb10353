#pragma once

// The three conditions a state machine reports instead of acting, with their fixed wording.
//
// A machine never logs by itself: it hands each report to the trace hook its owner set (see
// StateMachine::SetTraceHook), already formatted, together with the id below. The formats are
// printf-style with "%s" placeholders only, so a log that takes a printf format can also be fed
// the raw template:
//
//   machine.SetTraceHook([](Nalo::Hsm::Diagnostic, std::string_view message) {
//     log.Write(message);  // e.g. "State machine 'M': Event 'GO' is not handled by ..."
//   });

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace Nalo::Hsm {

enum class Diagnostic {
  // No state from the current one up to the root has a row for the event. Arguments: machine,
  // event, current state. The event is dropped and the machine does not move.
  EventNotHandled,
  // A state's initial target is not a strict descendant of it. Arguments: machine, state,
  // target. The machine stays in the state that was just entered.
  InvalidInitialTransition,
  // A row leads to a state of another chart. Arguments: machine, current state, target, event.
  // Nothing runs and the machine does not move.
  NoCommonAncestor,
};

// Stands in for an event when the machine has no event formatter, and for the current state
// when the machine is stopped.
inline constexpr std::string_view kNotAvailable = "n/a";

// The message templates, indexed by Diagnostic.
inline constexpr std::array<std::string_view, 3> kDiagnosticFormats = {
    "State machine '%s': Event '%s' is not handled by state '%s', or its ancestors. The event "
    "will be ignored.",
    "State machine '%s': The initial transition from state '%s' to state '%s' is invalid because "
    "the target state is not a descendant. The transition will be ignored.",
    "State machine '%s': The transition from state '%s' to state '%s' on event '%s' is invalid "
    "because the states do not share a common ancestry. The event will be ignored.",
};

// The printf-style template of `id`.
constexpr std::string_view DiagnosticFormat(Diagnostic id) {
  return kDiagnosticFormats[static_cast<std::size_t>(id)];
}

// Fills the "%s" placeholders of `id`'s template with `arguments`, in order. Missing arguments
// leave their placeholder empty; surplus ones are ignored. Arguments are copied as they are, so
// a "%" inside one is never taken for a placeholder.
inline std::string FormatDiagnostic(Diagnostic id,
                                    std::initializer_list<std::string_view> arguments) {
  const std::string_view format = DiagnosticFormat(id);
  std::string message;
  message.reserve(format.size() + 64);
  auto argument = arguments.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      if (argument != arguments.end()) {
        message += *argument++;
      }
      ++i;
    } else {
      message += format[i];
    }
  }
  return message;
}

}  // namespace Nalo::Hsm
