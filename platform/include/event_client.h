#ifndef KIVO_EVENT_CLIENT_H
#define KIVO_EVENT_CLIENT_H

// A publish-and-subscribe channel inside the program: every EVENT_CLIENT
// object receives every event sent, either at once or, when queued, at the
// start of the next event pass. One thread only.
#include "kivo_types.h"

class PTRLLIST;

struct GENERIC_EVENT
{
    INT_U32 type;
    void* user_data;
    // Called with the event and its user data before a channel-owned
    // event is deleted; may be null.
    void (*cleanup)(GENERIC_EVENT* event, void* user_data);
};

class EVENT_CLIENT
{
public:
    // Registers the client at the end of the list; the destructor removes
    // it, safely even while an event is being sent.
    EVENT_CLIENT();
    EVENT_CLIENT(const EVENT_CLIENT&);
    EVENT_CLIENT& operator=(const EVENT_CLIENT&) { return *this; }
    virtual void handle(GENERIC_EVENT* event) = 0;
    virtual ~EVENT_CLIENT();

    // Hands the event to every client, first to last. With del set the
    // channel owns the event (made with new): afterwards its cleanup is
    // called and it is deleted. A null event still reaches the clients.
    static void send_event_now(GENERIC_EVENT* event, INT_U8 del);
    // Keeps the event for the next send_queued_messages; sent at once when
    // it cannot be kept.
    static void queue_event(GENERIC_EVENT* event, INT_U8 del);
    // Sends the events queued before the call, oldest first; events queued
    // meanwhile wait for the next call.
    static void send_queued_messages();

    // The registered clients, in construction order, and the queue records.
    // Built on first use, so clients may be built before main.
    static PTRLLIST& clients();
    static PTRLLIST& event_queue();
};

#endif
