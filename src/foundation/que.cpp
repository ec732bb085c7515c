#include "foundation/que.h"

#include "platform/trace.h"

#include <cstdlib>
#include <cstring>
#include <new>

QK_QUE::QK_QUE()
    : tag("QK_QUE"), count(0), writeIndex(0), readIndex(0),
      slots(static_cast<QueEntry*>(std::calloc(QUE_SLOT_COUNT, sizeof(QueEntry)))), sizes{}
{
    if (!slots)
        throw std::bad_alloc();
    reset();
}

void QK_QUE::FreeSlots::operator()(QueEntry* p) const { std::free(p); }

QK_QUE::~QK_QUE() = default;

void QK_QUE::reset()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        count.store(0);
        writeIndex = 0;
        readIndex = 0;
    }
    trace("RESET QUE\n");
}

int QK_QUE::enqEntry(uint32_t size, const void* data)
{
    if (size > QUE_ENTRY_SIZE) {
        trace("ENQENTRY DATA_SIZE_OVER:size=%u\n", size);
        return 0;
    }
    if (!data && size > 0) {
        trace("ENQENTRY NO DATA:size=%u\n", size);
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (count.load() >= QUE_SLOT_COUNT) {
        trace("ENQUE ENTRY_OVER\n");
        return 0;
    }
    if (size > 0)
        std::memcpy(slots[writeIndex].data, data, size);
    sizes[writeIndex] = size;
    writeIndex = (writeIndex + 1) % QUE_SLOT_COUNT;
    count.fetch_add(1);
    return 1;
}

uint32_t QK_QUE::frontSize()
{
    std::lock_guard<std::mutex> lock(mutex);
    return count.load() > 0 ? sizes[readIndex] : 0;
}

int QK_QUE::deqEntry(void* out)
{
    if (!out)
        return 0;
    std::lock_guard<std::mutex> lock(mutex);
    if (count.load() <= 0)
        return 0;
    std::memcpy(out, slots[readIndex].data, sizes[readIndex]);
    readIndex = (readIndex + 1) % QUE_SLOT_COUNT;
    count.fetch_sub(1);
    return 1;
}
