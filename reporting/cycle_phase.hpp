#pragma once

namespace tamro {

// Where an agent is in its reporting cycle. A device poller may pass through all of them
// (the engine discovery only for an SNMPv3 device whose engine is not known yet); the
// status reporter only waits for its turn and posts.
enum class cycle_phase { idle, discovering, getting, walking, waiting_for_slot, posting };

// What arrived from outside during a cycle, applied at the cycle's next step: the answer in
// flight was asked for with settings that changed (discard), or the device was removed
// (retire). A discard ends with the cycle; a retire stays until the agent is swept.
enum class cycle_disposition { none, discard, retire };

const char* name_of(cycle_phase phase);
const char* name_of(cycle_disposition disposition);
// Whether an agent may move from one phase to the other: the cycle's steps in order, a
// repeated request (a split GET, the walk's next request), the resend of a GET whose answer
// did not map, and the end of the cycle from any step.
bool is_legal_move(cycle_phase from, cycle_phase to);
// Whether the phase waits for an SNMP answer.
bool waits_for_answer(cycle_phase phase);

}  // namespace tamro
