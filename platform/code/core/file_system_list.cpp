// The small singly linked list of data pointers the copy engine and the
// listings use.
#include "file_system.h"

#include <unistd.h>

#include <cstdlib>

INT_S32 InitLinkedList(LINKED_LIST* list, LINKED_LIST_DISPOSE_PROC dispose)
{
    if (!list) {
        return FS_BAD_ARGUMENT;
    }
    *list = LINKED_LIST{nullptr, nullptr, 0, dispose};
    return FS_OK;
}

INT_U32 GetNumberOfItems(const LINKED_LIST* list)
{
    return list ? list->count : 0;
}

INT_S32 AddToTail(LINKED_LIST* list, void* data)
{
    if (!list || !data) {
        return FS_BAD_ARGUMENT;
    }
    LINKED_LIST_NODE* node = new (std::nothrow) LINKED_LIST_NODE{nullptr, data};
    if (!node) {
        return FS_NO_MEMORY;
    }
    if (list->tail) {
        list->tail->next = node;
    } else {
        list->head = node;
    }
    list->tail = node;
    ++list->count;
    return FS_OK;
}

void InitIterator(const LINKED_LIST* list, LINKED_LIST_NODE** iterator)
{
    if (iterator) {
        *iterator = list ? list->head : nullptr;
    }
}

void Next(LINKED_LIST_NODE** iterator)
{
    if (iterator && *iterator) {
        *iterator = (*iterator)->next;
    }
}

void* GetData(const LINKED_LIST_NODE* iterator)
{
    return iterator ? iterator->data : nullptr;
}

void InsertList(LINKED_LIST* destination, LINKED_LIST* source, LINKED_LIST_NODE* after)
{
    if (!destination || !source || destination == source || !source->head || destination->dispose != source->dispose) {
        return;
    }
    if (after) {
        // A node of another list would tie the two lists together.
        LINKED_LIST_NODE* n = destination->head;
        while (n && n != after) {
            n = n->next;
        }
        if (!n) {
            return;
        }
    }
    if (!destination->head) {
        destination->head = source->head;
        destination->tail = source->tail;
    } else if (!after) {
        source->tail->next = destination->head;
        destination->head = source->head;
    } else {
        source->tail->next = after->next;
        after->next = source->head;
        if (after == destination->tail) {
            destination->tail = source->tail;
        }
    }
    destination->count += source->count;
    *source = LINKED_LIST{nullptr, nullptr, 0, nullptr};
}

void DestroyList(LINKED_LIST* list)
{
    if (!list) {
        return;
    }
    LINKED_LIST_NODE* n = list->head;
    while (n) {
        LINKED_LIST_NODE* next = n->next;
        if (list->dispose) {
            list->dispose(n->data);
        }
        delete n;
        n = next;
    }
    *list = LINKED_LIST{nullptr, nullptr, 0, nullptr};
}

void MyDisposeDataProc(void* data)
{
    std::free(data);
}

void MyCloseForkProc(void* data)
{
    FS_FORK_RECORD* record = static_cast<FS_FORK_RECORD*>(data);
    if (record && record->fork >= 0) {
        close(record->fork);
    }
    std::free(record);
}
