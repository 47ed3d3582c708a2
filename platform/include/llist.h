#ifndef KIVO_LLIST_H
#define KIVO_LLIST_H

// Doubly linked lists. LLIST keeps a private byte copy of each payload;
// PTRLLIST keeps one pointer per node. Walks use the list's own public
// iterator: set it to head (or tail), then call get_info_inc (or _dec)
// until it returns null. A remove callback, when set, sees every element
// that leaves the list, so a list can own elements of any type.
#include "kivo_types.h"

typedef void (*REMOVE_CALLBACK)(void* element);

struct LISTNODE
{
    // Copies size bytes of payload (a size of 0 still gives a distinct copy
    // address). data is null when the copy could not be allocated.
    LISTNODE(const void* payload, short size);
    ~LISTNODE();
    LISTNODE(const LISTNODE&) = delete;
    LISTNODE& operator=(const LISTNODE&) = delete;

    INT_U8* data;
    LISTNODE* next;
    LISTNODE* prev;
};

class LLIST
{
public:
    LLIST();
    virtual ~LLIST();
    LLIST(const LLIST&) = delete;
    LLIST& operator=(const LLIST&) = delete;

    // The iterator node's payload copy (its node through node_out when
    // non-null), then the iterator moves on; null when the iterator is null.
    virtual void* get_info_inc(LISTNODE** node_out = nullptr);
    virtual void* get_info_dec(LISTNODE** node_out = nullptr);
    // Removes the first node whose payload copy is at this address.
    virtual bool remove_node(void* payload);
    // Inserts a copy before the iterator node, or after the tail when the
    // iterator is null; the iterator does not move. False for a negative
    // size, a null payload with a size, or no memory.
    virtual bool add_node(const void* payload, short size);
    virtual void call_remove_node_callback(LISTNODE* node);

    // Unlinks and deletes one node (the iterator is nulled if it was there).
    bool remove_node_ref(LISTNODE* node);
    // Removes every node; the callback is kept.
    void clear();

    long count;
    LISTNODE* head;
    LISTNODE* tail;
    LISTNODE* iterator;
    REMOVE_CALLBACK remove_callback;

protected:
    // Links a node in where add_node puts it.
    void link_node(LISTNODE* node);
};

// A list of pointers: each node stores the pointer itself.
class PTRLLIST : public LLIST
{
public:
    PTRLLIST() = default;
    // Empties the list while it is still a PTRLLIST, so the callback gets
    // the stored pointers.
    ~PTRLLIST() override;

    // The stored pointer of the iterator node; null when the iterator is null.
    void* get_info_inc(LISTNODE** node_out = nullptr) override;
    void* get_info_dec(LISTNODE** node_out = nullptr) override;
    // Removes the first node, from the head, that stores p.
    bool remove_node(void* p) override;
    // Stores p itself; size is ignored.
    bool add_node(const void* p, short size = 0) override;
    void call_remove_node_callback(LISTNODE* node) override;

    // The pointer a node stores (null for a node without a copy).
    static void* stored_pointer(const LISTNODE* node);
};

#endif
