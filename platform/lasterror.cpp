#include "platform/lasterror.h"

#include <array>
#include <mutex>
#include <utility>

namespace {

thread_local DWORD t_lastError = 0;
thread_local DWORD t_detailCode = 0;
thread_local std::string t_detail;

// A slot's generation changes when it is freed, so values that threads stored
// under an earlier allocation of the same index read as null.
struct SlotTable {
    std::mutex mutex;
    std::array<bool, kTlsSlotCount> used{};
    std::array<ULONGLONG, kTlsSlotCount> generation{};
};

SlotTable& Slots() {
    static SlotTable table;
    return table;
}

struct ThreadSlot {
    ULONGLONG generation = 0;
    LPVOID value = nullptr;
};
thread_local std::array<ThreadSlot, kTlsSlotCount> t_slots{};

bool SlotInUse(DWORD index, ULONGLONG* generation) {
    if (index >= kTlsSlotCount) return false;
    SlotTable& table = Slots();
    std::lock_guard lock(table.mutex);
    *generation = table.generation[index];
    return table.used[index];
}

}  // namespace

void SetLastErrorDetail(DWORD code, std::string_view detail) {
    t_detailCode = code;
    t_detail.assign(detail);
}

std::string TakeLastErrorDetail(DWORD code) {
    if (code == 0 || code != t_detailCode) return {};
    t_detailCode = 0;
    return std::exchange(t_detail, std::string());
}

void SetLastError(DWORD error) {
    t_lastError = error;
}
DWORD GetLastError() {
    return t_lastError;
}

DWORD TlsAlloc() {
    SlotTable& table = Slots();
    std::lock_guard lock(table.mutex);
    for (DWORD i = 0; i < kTlsSlotCount; ++i) {
        if (!table.used[i]) {
            table.used[i] = true;
            ++table.generation[i];
            return i;
        }
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return TLS_OUT_OF_INDEXES;
}

BOOL TlsFree(DWORD index) {
    SlotTable& table = Slots();
    std::lock_guard lock(table.mutex);
    if (index >= kTlsSlotCount || !table.used[index]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    table.used[index] = false;
    ++table.generation[index];
    return TRUE;
}

LPVOID TlsGetValue(DWORD index) {
    ULONGLONG generation = 0;
    if (!SlotInUse(index, &generation)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    const ThreadSlot& slot = t_slots[index];
    return slot.generation == generation ? slot.value : nullptr;
}

BOOL TlsSetValue(DWORD index, LPVOID value) {
    ULONGLONG generation = 0;
    if (!SlotInUse(index, &generation)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    t_slots[index] = ThreadSlot{generation, value};
    return TRUE;
}
