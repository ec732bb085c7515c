#include "foundation/que.h"

#include "platform/trace.h"

#include <cstring>

QK_QUE::QK_QUE()
    : tag("QK_QUE"), count(0), writeIndex(0), readIndex(0),
      slots(new QueEntry[QUE_SLOT_COUNT]())
{
    reset();
}

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
    writeIndex = (writeIndex + 1) % QUE_SLOT_COUNT;
    count.fetch_add(1);
    return 1;
}

int QK_QUE::deqEntry(void* out)
{
    if (!out)
        return 0;
    std::lock_guard<std::mutex> lock(mutex);
    if (count.load() <= 0)
        return 0;
    std::memcpy(out, slots[readIndex].data, QUE_ENTRY_SIZE);
    readIndex = (readIndex + 1) % QUE_SLOT_COUNT;
    count.fetch_sub(1);
    return 1;
}
