#include "event_client.h"
#include "llist.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

std::string trace;

// Records what it receives as "<name><type>" and can act from inside handle.
class RECORDER : public EVENT_CLIENT
{
public:
    explicit RECORDER(char n) : name(n) {}
    void handle(GENERIC_EVENT* e) override
    {
        trace += name;
        trace += e ? static_cast<char>('0' + e->type) : '-';
        if (on_event) {
            on_event(e);
        }
    }
    char name;
    std::function<void(GENERIC_EVENT*)> on_event;
};

int cleanups = 0;

GENERIC_EVENT* owned_event(INT_U32 type)
{
    return new GENERIC_EVENT{type, &cleanups, [](GENERIC_EVENT*, void* n) { ++*static_cast<int*>(n); }};
}

class EventClientTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        trace.clear();
        cleanups = 0;
    }
    void TearDown() override { EXPECT_EQ(EVENT_CLIENT::event_queue().count, 0); }
};

} // namespace

TEST_F(EventClientTest, SendReachesEveryClientInOrderAndReleasesOwnedEvents)
{
    RECORDER a('a'), b('b');
    {
        RECORDER c('c');
        GENERIC_EVENT local{1, nullptr, nullptr};
        EVENT_CLIENT::send_event_now(&local, 0);
        EVENT_CLIENT::send_event_now(owned_event(2), 1);
    }
    EVENT_CLIENT::send_event_now(nullptr, 1); // reaches the clients, nothing deleted
    EXPECT_EQ(trace, "a1b1c1a2b2c2a-b-");
    EXPECT_EQ(cleanups, 1);
}

TEST_F(EventClientTest, QueuedEventsWaitForTheNextPass)
{
    // With no clients, an owned event is still cleaned up and deleted.
    EVENT_CLIENT::queue_event(owned_event(1), 1);
    EVENT_CLIENT::send_queued_messages();
    EXPECT_EQ(cleanups, 1);

    RECORDER a('a');
    a.on_event = [](GENERIC_EVENT* e) {
        if (e->type < 3) {
            EVENT_CLIENT::queue_event(owned_event(e->type + 2), 1);
        }
    };
    EVENT_CLIENT::queue_event(owned_event(1), 1);
    EVENT_CLIENT::queue_event(owned_event(2), 1);
    EVENT_CLIENT::send_queued_messages();
    EXPECT_EQ(trace, "a1a2");
    EVENT_CLIENT::send_queued_messages();
    EXPECT_EQ(trace, "a1a2a3a4");
    EXPECT_EQ(cleanups, 5);
}

TEST_F(EventClientTest, ClientsMayLeaveDuringASend)
{
    RECORDER a('a');
    RECORDER* b = new RECORDER('b');
    RECORDER* c = new RECORDER('c');
    RECORDER d('d');
    RECORDER** self = &b;
    b->on_event = [self](GENERIC_EVENT*) {
        RECORDER* gone = *self; // the closure dies with it: touch nothing after
        *self = nullptr;
        delete gone;
    };
    a.on_event = [&](GENERIC_EVENT*) { // c has not been reached yet
        delete c;
        c = nullptr;
        a.on_event = nullptr;
    };
    GENERIC_EVENT e{1, nullptr, nullptr};
    EVENT_CLIENT::send_event_now(&e, 0);
    EXPECT_EQ(trace, "a1b1d1");
    EXPECT_EQ(EVENT_CLIENT::clients().count, 2);
}
