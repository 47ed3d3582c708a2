// Event clients: the registered clients and the queue of events waiting
// for the next event pass, both on pointer lists.
#include "event_client.h"

#include "llist.h"

#include <new>

namespace {

struct QUEUE_RECORD
{
    GENERIC_EVENT* event;
    INT_U8 del;
};

void free_record(void* record)
{
    delete static_cast<QUEUE_RECORD*>(record);
}

// A walk of send_event_now over the clients. A client that leaves the list
// moves every walk that would visit it next on to its successor, so
// clients may remove themselves or others from inside handle, at any
// nesting depth.
struct SEND_WALK
{
    LISTNODE* next;
    SEND_WALK* outer;
};
SEND_WALK* active_walks = nullptr;

bool add_to(PTRLLIST& list, void* p)
{
    // The list inserts before its iterator; null means at the end.
    list.iterator = nullptr;
    return list.add_node(p);
}

} // namespace

PTRLLIST& EVENT_CLIENT::clients()
{
    static PTRLLIST list;
    return list;
}

PTRLLIST& EVENT_CLIENT::event_queue()
{
    static PTRLLIST queue;
    // Records only: events still queued at exit are not the queue's to
    // clean up while the program's other statics are being destroyed.
    queue.remove_callback = free_record;
    return queue;
}

EVENT_CLIENT::EVENT_CLIENT()
{
    add_to(clients(), this);
}

EVENT_CLIENT::EVENT_CLIENT(const EVENT_CLIENT&) : EVENT_CLIENT() {}

EVENT_CLIENT::~EVENT_CLIENT()
{
    PTRLLIST& list = clients();
    for (LISTNODE* node = list.head; node; node = node->next) {
        if (PTRLLIST::stored_pointer(node) == this) {
            for (SEND_WALK* w = active_walks; w; w = w->outer) {
                if (w->next == node) {
                    w->next = node->next;
                }
            }
            list.remove_node_ref(node);
            break;
        }
    }
}

void EVENT_CLIENT::send_event_now(GENERIC_EVENT* event, INT_U8 del)
{
    SEND_WALK walk{clients().head, active_walks};
    active_walks = &walk;
    while (LISTNODE* node = walk.next) {
        walk.next = node->next;
        static_cast<EVENT_CLIENT*>(PTRLLIST::stored_pointer(node))->handle(event);
    }
    active_walks = walk.outer;
    if (del && event) {
        if (event->cleanup) {
            event->cleanup(event, event->user_data);
        }
        delete event;
    }
}

void EVENT_CLIENT::queue_event(GENERIC_EVENT* event, INT_U8 del)
{
    QUEUE_RECORD* record = new (std::nothrow) QUEUE_RECORD{event, del};
    if (!record || !add_to(event_queue(), record)) {
        delete record;
        send_event_now(event, del);
    }
}

void EVENT_CLIENT::send_queued_messages()
{
    PTRLLIST& queue = event_queue();
    // Only what was queued before this call; a record leaves the queue
    // before its event goes out, so a nested call never sends it twice.
    for (long n = queue.count; n > 0 && queue.head; --n) {
        QUEUE_RECORD record = *static_cast<QUEUE_RECORD*>(PTRLLIST::stored_pointer(queue.head));
        queue.remove_node_ref(queue.head);
        send_event_now(record.event, record.del);
    }
}
