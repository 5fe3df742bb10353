#pragma once

// The owner of the test charts. Entries, exits and actions append one step each, naming the
// state current while they ran, so a test compares the whole sequence.

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "hsm/EventQueue.h"
#include "hsm/StateMachine.h"

namespace Nalo::Hsm::Testing {

struct Recorder {
  std::vector<std::string> steps;
  // Recording this step throws right after it is recorded.
  std::string throwAt;
  // For actions that reach back into the machine, as the owner's code does.
  StateMachine<Recorder, std::string>* machine = nullptr;
  EventQueue<Recorder, std::string>* queue = nullptr;

  void Record(std::string step) {
    steps.push_back(std::move(step));
    if (steps.back() == throwAt) {
      throw std::runtime_error(steps.back());
    }
  }
};

using Machine = StateMachine<Recorder, std::string>;
using State = Machine::State;
using Transition = Machine::Transition;
using Queue = EventQueue<Recorder, std::string>;
using Steps = std::vector<std::string>;

inline void RecordEntry(const Machine& machine) {
  machine.GetOwner()->Record("enter " + machine.GetCurrentState()->Name());
}

inline void RecordExit(const Machine& machine) {
  machine.GetOwner()->Record("exit " + machine.GetCurrentState()->Name());
}

// Records "label@State" with the state current while the action runs.
inline Machine::Action Note(std::string label) {
  return [label = std::move(label)](const Machine& machine) {
    machine.GetOwner()->Record(label + "@" + machine.GetCurrentState()->Name());
  };
}

inline std::string FormatEvent(const std::string& event) {
  return event;
}

}  // namespace Nalo::Hsm::Testing
