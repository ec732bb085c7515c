#pragma once
// Bounded FIFO of A2A packets between a relay thread and the user-interface
// thread: 30 fixed slots of 30,976 bytes, allocated once, under one mutex.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

inline constexpr int QUE_SLOT_COUNT = 30;
inline constexpr uint32_t QUE_ENTRY_SIZE = 0x7900; // 30,976 bytes

struct QueEntry {
    unsigned char data[QUE_ENTRY_SIZE];
};

class QK_QUE {
public:
    QK_QUE();
    ~QK_QUE();
    QK_QUE(const QK_QUE&) = delete;
    QK_QUE& operator=(const QK_QUE&) = delete;

    // Discards every waiting entry.
    void reset();
    // Copies size bytes to the start of the next free slot: 1 stored, 0 when
    // size is above QUE_ENTRY_SIZE or the queue holds 30 entries.
    int enqEntry(uint32_t size, const void* data);
    // Copies the oldest entry, the bytes enqEntry stored, to the start of out
    // (which must hold QUE_ENTRY_SIZE bytes; those behind the entry stay as
    // they were) and frees its slot: 1 taken, 0 empty (out untouched).
    int deqEntry(void* out);
    // Bytes of the oldest entry, 0 when the queue is empty.
    uint32_t frontSize();

    char tag[8];
    // Entries waiting, 0-30; written under the mutex, readable without it as
    // a hint (e.g. 30 - count free slots).
    std::atomic<int32_t> count;
    int32_t writeIndex;
    int32_t readIndex;
    struct FreeSlots {
        void operator()(QueEntry* p) const;
    };
    // Zeroed by calloc: the pages of a slot become resident only once used.
    std::unique_ptr<QueEntry[], FreeSlots> slots;
    uint32_t sizes[QUE_SLOT_COUNT];   // bytes stored in each slot
    std::mutex mutex;
};
