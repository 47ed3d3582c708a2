#include "llist.h"

#include <cstring>
#include <new>

LISTNODE::LISTNODE(const void* payload, short size) : data(nullptr), next(nullptr), prev(nullptr)
{
    if (size < 0) {
        return;
    }
    data = new (std::nothrow) INT_U8[size > 0 ? size : 1];
    if (data && payload && size > 0) {
        std::memcpy(data, payload, static_cast<std::size_t>(size));
    }
}

LISTNODE::~LISTNODE()
{
    delete[] data;
}

LLIST::LLIST() : count(0), head(nullptr), tail(nullptr), iterator(nullptr), remove_callback(nullptr) {}

LLIST::~LLIST()
{
    clear();
}

void LLIST::link_node(LISTNODE* node)
{
    if (!head) {
        head = tail = node;
    } else if (iterator) {
        node->next = iterator;
        node->prev = iterator->prev;
        if (iterator->prev) {
            iterator->prev->next = node;
        } else {
            head = node;
        }
        iterator->prev = node;
    } else {
        node->prev = tail;
        tail->next = node;
        tail = node;
    }
    ++count;
}

bool LLIST::add_node(const void* payload, short size)
{
    if (size < 0 || (!payload && size > 0)) {
        return false;
    }
    LISTNODE* node = new (std::nothrow) LISTNODE(payload, size);
    if (!node) {
        return false;
    }
    if (!node->data) {
        delete node;
        return false;
    }
    link_node(node);
    return true;
}

void* LLIST::get_info_inc(LISTNODE** node_out)
{
    LISTNODE* node = iterator;
    if (!node) {
        return nullptr;
    }
    if (node_out) {
        *node_out = node;
    }
    iterator = node->next;
    return node->data;
}

void* LLIST::get_info_dec(LISTNODE** node_out)
{
    LISTNODE* node = iterator;
    if (!node) {
        return nullptr;
    }
    if (node_out) {
        *node_out = node;
    }
    iterator = node->prev;
    return node->data;
}

bool LLIST::remove_node(void* payload)
{
    for (LISTNODE* node = head; node; node = node->next) {
        if (node->data == payload) {
            return remove_node_ref(node);
        }
    }
    return false;
}

bool LLIST::remove_node_ref(LISTNODE* node)
{
    if (!node) {
        return false;
    }
    if (node->prev) {
        node->prev->next = node->next;
    } else {
        head = node->next;
    }
    if (node->next) {
        node->next->prev = node->prev;
    } else {
        tail = node->prev;
    }
    if (iterator == node) {
        iterator = nullptr;
    }
    --count;
    call_remove_node_callback(node);
    delete node;
    return true;
}

void LLIST::call_remove_node_callback(LISTNODE* node)
{
    if (remove_callback) {
        remove_callback(node->data);
    }
}

void LLIST::clear()
{
    // Each node leaves the list before its callback runs, so a callback
    // that looks at (or removes from) this list sees a consistent chain.
    while (head) {
        remove_node_ref(head);
    }
    count = 0;
    head = tail = iterator = nullptr;
}

PTRLLIST::~PTRLLIST()
{
    clear();
}

void* PTRLLIST::stored_pointer(const LISTNODE* node)
{
    void* p = nullptr;
    if (node && node->data) {
        std::memcpy(&p, node->data, sizeof p);
    }
    return p;
}

void* PTRLLIST::get_info_inc(LISTNODE** node_out)
{
    LISTNODE* node = nullptr;
    LLIST::get_info_inc(&node);
    if (node && node_out) {
        *node_out = node;
    }
    return stored_pointer(node);
}

void* PTRLLIST::get_info_dec(LISTNODE** node_out)
{
    LISTNODE* node = nullptr;
    LLIST::get_info_dec(&node);
    if (node && node_out) {
        *node_out = node;
    }
    return stored_pointer(node);
}

bool PTRLLIST::remove_node(void* p)
{
    for (LISTNODE* node = head; node; node = node->next) {
        if (node->data && stored_pointer(node) == p) {
            return remove_node_ref(node);
        }
    }
    return false;
}

bool PTRLLIST::add_node(const void* p, short)
{
    return LLIST::add_node(&p, static_cast<short>(sizeof p));
}

void PTRLLIST::call_remove_node_callback(LISTNODE* node)
{
    if (node->data && remove_callback) {
        remove_callback(stored_pointer(node));
    }
}
