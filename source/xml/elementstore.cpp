#include "elementstore.h"

#include <cstring>

namespace {

// A page of n records, left uninitialised as the records are written before they are read.
std::unique_ptr<elementrecord[]> newPage(int32_t n) { return std::unique_ptr<elementrecord[]>(new elementrecord[n]); }

} // namespace

void elementstore::grow(int32_t n)
{
    if (n <= capacity) return;
    int32_t cur = ((capacity > 0) ? capacity - 1 : 0) >> 16;
    int32_t last = (n - 1) >> 16;
    if (last > cur + 1) {
        last = cur + 1;
        n = (cur + 2) * STORE_PAGE_RECORDS;
    }
    if (pageSlots() <= last) pages.resize(static_cast<size_t>(2 * last + 4));
    int32_t used = capacity - cur * STORE_PAGE_RECORDS;
    int32_t want = n - last * STORE_PAGE_RECORDS;
    if (cur < last && used < STORE_PAGE_RECORDS) {
        std::unique_ptr<elementrecord[]> full = newPage(STORE_PAGE_RECORDS);
        if (used > 0) std::memcpy(full.get(), pages[cur].get(), sizeof(elementrecord) * static_cast<size_t>(used));
        pages[cur] = std::move(full);
    }
    std::unique_ptr<elementrecord[]> page = newPage(want);
    if (last == cur && used > 0)
        std::memcpy(page.get(), pages[cur].get(), sizeof(elementrecord) * static_cast<size_t>(used));
    pages[last] = std::move(page);
    capacity = n;
}

void elementstore::release()
{
    std::vector<std::unique_ptr<elementrecord[]>>().swap(pages);
    capacity = 0;
}
