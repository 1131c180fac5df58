#include "elementstore.h"

#include <cstring>

void elementstore::grow(int32_t n)
{
    if (n <= capacity) return;
    int32_t cur = ((capacity > 0) ? capacity - 1 : 0) >> 16;
    int32_t last = (n - 1) >> 16;
    if (last > cur + 1) {
        last = cur + 1;
        n = (cur + 2) * STORE_PAGE_RECORDS;
    }
    if (pageSlots <= last) {
        int32_t slots = 2 * last + 4;
        elementrecord** fresh = new elementrecord*[slots]();
        if (capacity > 0) {
            int32_t existing = ((capacity - 1) >> 16) + 1;
            for (int32_t p = 0; p < existing; ++p) fresh[p] = pages[p];
        }
        delete[] pages;
        pages = fresh;
        pageSlots = slots;
    }
    int32_t used = capacity - cur * STORE_PAGE_RECORDS;
    int32_t want = n - last * STORE_PAGE_RECORDS;
    if (cur < last && used < STORE_PAGE_RECORDS) {
        elementrecord* full = new elementrecord[STORE_PAGE_RECORDS];
        if (used > 0) std::memcpy(full, pages[cur], sizeof(elementrecord) * static_cast<size_t>(used));
        delete[] pages[cur];
        pages[cur] = full;
    }
    elementrecord* page = new elementrecord[want];
    if (last == cur && used > 0) {
        std::memcpy(page, pages[cur], sizeof(elementrecord) * static_cast<size_t>(used));
        delete[] pages[cur];
    }
    pages[last] = page;
    capacity = n;
}

void elementstore::release()
{
    if (pages) {
        for (int32_t p = 0; p < pageSlots; ++p) delete[] pages[p];
        delete[] pages;
    }
    pages = nullptr;
    capacity = 0;
    pageSlots = 0;
}
