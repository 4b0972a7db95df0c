#include "reporting/cycle_phase.hpp"

namespace tamro {

const char* name_of(cycle_phase phase) {
  switch (phase) {
    case cycle_phase::discovering:
      return "discovering";
    case cycle_phase::getting:
      return "getting";
    case cycle_phase::walking:
      return "walking";
    case cycle_phase::waiting_for_slot:
      return "waiting for a post slot";
    case cycle_phase::posting:
      return "posting";
    case cycle_phase::idle:
      break;
  }
  return "idle";
}

const char* name_of(cycle_disposition disposition) {
  switch (disposition) {
    case cycle_disposition::discard:
      return "discard";
    case cycle_disposition::retire:
      return "retire";
    case cycle_disposition::none:
      break;
  }
  return "none";
}

bool is_legal_move(cycle_phase from, cycle_phase to) {
  using p = cycle_phase;
  if (to == p::idle) return from != p::idle;
  switch (from) {
    case p::idle:
      return to == p::discovering || to == p::getting || to == p::walking ||
             to == p::waiting_for_slot;
    case p::discovering:
      return to == p::getting || to == p::walking;
    case p::getting:
      return to == p::getting || to == p::walking || to == p::waiting_for_slot;
    case p::walking:
      return to == p::walking || to == p::waiting_for_slot;
    case p::waiting_for_slot:
      // The resend of a GET whose answer did not map starts where a cycle starts.
      return to == p::posting || to == p::discovering || to == p::getting || to == p::walking;
    case p::posting:
      break;
  }
  return false;
}

bool waits_for_answer(cycle_phase phase) {
  return phase == cycle_phase::discovering || phase == cycle_phase::getting ||
         phase == cycle_phase::walking;
}

}  // namespace tamro
