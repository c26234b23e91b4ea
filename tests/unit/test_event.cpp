// Backend events: the fields read through the record of the event being
// delivered, and read as none once the backend has let the record go.
#include <gtest/gtest.h>
#include "eval_support.h"
#include "runtime/collector/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/symbol.h"
#include "view/event_records.h"

namespace kem::test {
namespace {

void set_global(const char* name, const Cell& value) { context_set_global(symbol_make(name), &value); }

GuiEventData record_for(const char* face_source) {
    run_kem(std::string("face: ") + face_source);
    GuiEventData data;
    data.face = *context_global_value_cell(symbol_make("face"));
    return data;
}

TEST(EventTest, BackendFieldsFollowTheRecord) {
    GuiEventData data = record_for("object [name: \"ok\"]");
    data.x = 3.9f;
    data.y = -2.5f;
    data.key = 'q';
    Cell ev;
    {
        gui::EventRecordScope scope(data);
        event_make_backend_at(&ev, EVT_KEY, scope.handle(), EVENT_FLAG_SHIFT);
        set_global("ev", ev);
        run_kem("face: none");
        collector::collect();  // the record keeps its face alive
        expect_runs({
            {"reduce [ev/type ev/face/name ev/window ev/offset ev/key ev/shift? ev/flags]",
             "[key \"ok\" none 3x-2 #\"q\" true [shift]]"},
            {"ev/picked", "113"},
        });
    }
    // The same event kept past its delivery: only what the cell holds is left.
    expect_runs({{"reduce [ev/type ev/face ev/offset ev/key ev/picked ev/shift?]",
                  "[key none none none none true]"}});
}

TEST(EventTest, SpecialKeysAndWheel) {
    struct {
        int32_t key;
        const char* word;
    } keys[] = {{-20, "up"}, {-29, "page-down"}, {-30, "none"}, {-31, "F1"}, {-42, "F12"}, {-43, "none"}};
    for (const auto& k : keys) {
        GuiEventData data = record_for("object []");
        data.key = k.key;
        gui::EventRecordScope scope(data);
        Cell ev;
        set_global("ev", *event_make_backend_at(&ev, EVT_KEY_DOWN, scope.handle(), EVENT_FLAG_SPECIAL_KEY));
        EXPECT_EQ(run_kem("ev/key"), k.word) << k.key;
    }
    GuiEventData data = record_for("object []");
    data.wheel = -1;
    data.key = 5;
    gui::EventRecordScope scope(data);
    Cell ev;
    set_global("ev", *event_make_backend_at(&ev, EVT_WHEEL, scope.handle(), 0));
    EXPECT_EQ(run_kem("ev/picked"), "-1.0");
    set_global("ev", *event_make_backend_at(&ev, EVT_CLICK, scope.handle(), 0));
    EXPECT_EQ(run_kem("ev/picked"), "5");
}

// Nested deliveries take their own slots; a slot used again does not answer
// the handle of its earlier event.
TEST(EventTest, HandlesOfClosedRecordsStayStale) {
    GuiEventData data = record_for("object []");
    const uint32_t outer = gui::event_record_open(data);
    const uint32_t inner = gui::event_record_open(data);
    EXPECT_NE(outer, inner);
    EXPECT_NE(gui::event_record_find(inner), nullptr);
    gui::event_record_close(inner);
    EXPECT_EQ(gui::event_record_find(inner), nullptr);
    const uint32_t again = gui::event_record_open(data);
    EXPECT_NE(again, inner);
    EXPECT_EQ(gui::event_record_find(inner), nullptr);
    EXPECT_NE(gui::event_record_find(again), nullptr);
    gui::event_record_close(again);
    gui::event_record_close(outer);
    gui::event_record_close(outer);  // twice: nothing
    EXPECT_EQ(gui::event_record_find(outer), nullptr);
    EXPECT_EQ(gui::event_record_find(0), nullptr);
}

} // namespace
} // namespace kem::test
