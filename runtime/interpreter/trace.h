// Trace events: the evaluator reports what it does to a Kem callback.
//
// Every hook in the evaluator sits behind one test of `tracing`, so an
// evaluation with no tracer installed pays one predictable branch per point.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/evaluator.h"

namespace kem {
struct KemError;
}

namespace kem::interp {

enum TraceEvent : uint32_t {
    EV_INIT = 0x0001,
    EV_END = 0x0002,
    EV_PROLOG = 0x0004,
    EV_EPILOG = 0x0008,
    EV_ENTER = 0x0010,
    EV_EXIT = 0x0020,
    EV_OPEN = 0x0040,
    EV_RETURN = 0x0080,
    EV_FETCH = 0x0100,
    EV_PUSH = 0x0200,
    EV_SET = 0x0400,
    EV_CALL = 0x0800,
    EV_ERROR = 0x1000,
    EV_THROW = 0x2000,
    EV_CATCH = 0x4000,
    EV_EXPR = 0x8000,
};
constexpr uint32_t EV_ALL = 0x1FFFF;

// The kind bits of callback callers (CallbackKind): datatypes/evaluator.h.

extern bool trace_run;      // a callback is installed: a trace run is in progress
extern bool trace_on;       // the run delivers events (trace false turns it off)
extern bool tracing;        // events are delivered now
extern uint32_t trace_mask; // the events the callback asked for
extern int32_t tracer_locals;

void trace_init();

// The events a callback asks for: the words of a block at the head of its
// body, else every event.
uint32_t trace_event_mask(const Cell* fn);

// Installs fn as the tracer and fires init; false when one is installed already.
bool trace_install(const Cell* fn);
// Fires end (an exit pending around it is kept) and removes the tracer.
void trace_uninstall();
// The script's switch of event delivery: on only while a run is in progress.
void trace_switch(bool on);

// Delivers one event when it is in the mask. code: the block (nullptr: none);
// pos: absolute index in it (-1: none); value, ref: nullptr for none.
// A callback that leaves with a non-local exit passes it on as PendingExit.
// frame_x: the argument base the frame pair reports, when not the current one.
void fire_trace_event(uint32_t event, const Cell* code, int32_t pos, const Cell* value, const Cell* ref,
                      int32_t frame_x = -1);

// An error about to unwind: reported once, by the innermost block it leaves.
void trace_error(const KemError& e, const Cell* code, int32_t pos);
// Normal evaluation went on: the next error raised is a new one.
inline void trace_error_settled();

// While traced, the name a call made by the evaluator goes by: its word, or
// its path when it was called through one. Set around each call, so the
// innermost call in progress has its own; the callee's call and return
// events take it when it names that very callable.
struct TraceCallName {
    Cell callable;
    Cell ref;
};
extern const TraceCallName* trace_call_name;
// The name for a call of callable: the one set for it, else fallback.
const Cell* trace_call_ref(const Cell* callable, const Cell* fallback);

// The bits field of system/state/callbacks (0 when it cannot be read).
uint32_t callback_bits();

// The native that trace hooks need to tell apart in the evaluator.
void trace_thrown();                       // a throw has just unwound to its catch
bool trace_take_caught(const void* frame); // whether that catch frame received it

// The last event fired (delivered or not). A value that a return, exit or
// set event has just carried is not reported again as pushed.
extern uint32_t trace_last_event;
inline bool trace_value_reported() { return trace_last_event & (EV_RETURN | EV_EXIT | EV_SET); }

extern const void* trace_reported_error;
inline void trace_error_settled() { trace_reported_error = nullptr; }

} // namespace kem::interp
