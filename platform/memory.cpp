#include "platform/memory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/lasterror.h"

namespace {

struct Block {
    void* data = nullptr;
    SIZE_T size = 0;
    UINT locks = 0;
    bool moveable = false;
};

// Movable handles are never valid addresses: malloc results are 16-aligned,
// these are 4 past such a boundary.
constexpr UINT_PTR kHandleBase = 0x10000004u;
constexpr UINT_PTR kHandleStep = 16;

class GlobalHeap {
  public:
    HGLOBAL Allocate(UINT flags, SIZE_T bytes) {
        void* data = AllocateData(bytes, (flags & GMEM_ZEROINIT) != 0);
        if (!data && bytes != 0) return Fail(ERROR_NOT_ENOUGH_MEMORY);
        std::lock_guard lock(mutex_);
        bool moveable = (flags & GMEM_MOVEABLE) != 0;
        if (!moveable && !data) data = std::malloc(1);  // a fixed handle needs an address
        if (!data) return Fail(ERROR_NOT_ENOUGH_MEMORY);
        HGLOBAL handle = moveable ? NextHandle() : data;
        blocks_[handle] = Block{data, bytes, 0, moveable};
        if (moveable && bytes != 0) addresses_[data] = handle;
        return handle;
    }

    HGLOBAL Reallocate(HGLOBAL handle, SIZE_T bytes, UINT flags) {
        std::lock_guard lock(mutex_);
        Block* block = Find(handle);
        if (!block) return Fail(ERROR_INVALID_HANDLE);
        if (flags & GMEM_MODIFY) return handle;  // only the flags would change; kept as they are
        bool mayMove = block->moveable ? (block->locks == 0 || (flags & GMEM_MOVEABLE))
                                       : (flags & GMEM_MOVEABLE) != 0;
        if (!mayMove) {
            if (bytes > block->size) return Fail(ERROR_NOT_ENOUGH_MEMORY);
            block->size = bytes;  // shrinks in place
            return handle;
        }
        void* data = std::realloc(block->data, bytes ? bytes : 1);
        if (!data) return Fail(ERROR_NOT_ENOUGH_MEMORY);
        if ((flags & GMEM_ZEROINIT) && bytes > block->size)
            std::memset(static_cast<char*>(data) + block->size, 0, bytes - block->size);
        return Rehome(handle, *block, data, bytes);
    }

    SIZE_T Size(HGLOBAL handle) {
        std::lock_guard lock(mutex_);
        Block* block = Find(handle);
        if (!block) return FailZero(ERROR_INVALID_HANDLE);
        return block->size;
    }

    LPVOID Lock(HGLOBAL handle) {
        std::lock_guard lock(mutex_);
        Block* block = Find(handle);
        if (!block) return Fail(ERROR_INVALID_HANDLE);
        if (!block->moveable) return block->data;
        if (block->size == 0) return Fail(ERROR_INVALID_HANDLE);  // nothing to lock yet
        if (block->locks < GMEM_LOCKCOUNT) ++block->locks;
        return block->data;
    }

    BOOL Unlock(HGLOBAL handle) {
        std::lock_guard lock(mutex_);
        Block* block = Find(handle);
        if (!block) return FailZero(ERROR_INVALID_HANDLE);
        if (!block->moveable) return TRUE;  // fixed blocks are not counted
        if (block->locks == 0) return FailZero(ERROR_NOT_LOCKED);
        if (--block->locks > 0) return TRUE;
        SetLastError(NO_ERROR);
        return FALSE;
    }

    UINT Flags(HGLOBAL handle) {
        std::lock_guard lock(mutex_);
        Block* block = Find(handle);
        if (!block) {
            SetLastError(ERROR_INVALID_HANDLE);
            return GMEM_INVALID_HANDLE;
        }
        return block->locks & GMEM_LOCKCOUNT;
    }

    HGLOBAL HandleOf(LPCVOID address) {
        std::lock_guard lock(mutex_);
        auto it = addresses_.find(const_cast<void*>(address));
        if (it != addresses_.end()) return it->second;
        if (Find(const_cast<void*>(address))) return const_cast<void*>(address);
        return Fail(ERROR_INVALID_HANDLE);
    }

    HGLOBAL Free(HGLOBAL handle) {
        std::lock_guard lock(mutex_);
        auto it = blocks_.find(handle);
        if (it == blocks_.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return handle;
        }
        addresses_.erase(it->second.data);
        std::free(it->second.data);
        blocks_.erase(it);
        return nullptr;
    }

  private:
    static void* AllocateData(SIZE_T bytes, bool zero) {
        if (bytes == 0) return nullptr;
        return zero ? std::calloc(1, bytes) : std::malloc(bytes);
    }
    static std::nullptr_t Fail(DWORD error) {
        SetLastError(error);
        return nullptr;
    }
    static int FailZero(DWORD error) {
        SetLastError(error);
        return 0;
    }

    Block* Find(HGLOBAL handle) {
        auto it = blocks_.find(handle);
        return it == blocks_.end() ? nullptr : &it->second;
    }

    HGLOBAL NextHandle() {
        HGLOBAL handle = reinterpret_cast<HGLOBAL>(kHandleBase + kHandleStep * nextHandle_++);
        return handle;
    }

    // Records a block's new address; a fixed block's handle is its address.
    HGLOBAL Rehome(HGLOBAL handle, Block block, void* data, SIZE_T bytes) {
        addresses_.erase(block.data);
        block.data = data;
        block.size = bytes;
        if (block.moveable) {
            blocks_[handle] = block;
            addresses_[data] = handle;
            return handle;
        }
        blocks_.erase(handle);
        blocks_[data] = block;
        return data;
    }

    std::mutex mutex_;
    std::unordered_map<HGLOBAL, Block> blocks_;
    std::unordered_map<void*, HGLOBAL> addresses_;  // movable blocks by address
    UINT_PTR nextHandle_ = 0;
};

GlobalHeap& Heap() {
    static GlobalHeap* heap = new GlobalHeap();  // lives until exit, for late frees
    return *heap;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    return Heap().Allocate(flags, bytes);
}
HGLOBAL GlobalReAlloc(HGLOBAL memory, SIZE_T bytes, UINT flags) {
    return Heap().Reallocate(memory, bytes, flags);
}
SIZE_T GlobalSize(HGLOBAL memory) {
    return Heap().Size(memory);
}
LPVOID GlobalLock(HGLOBAL memory) {
    return Heap().Lock(memory);
}
BOOL GlobalUnlock(HGLOBAL memory) {
    return Heap().Unlock(memory);
}
UINT GlobalFlags(HGLOBAL memory) {
    return Heap().Flags(memory);
}
HGLOBAL GlobalHandle(LPCVOID address) {
    return Heap().HandleOf(address);
}
HGLOBAL GlobalFree(HGLOBAL memory) {
    if (!memory) return nullptr;
    return Heap().Free(memory);
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    void* data = (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1)
                                         : std::malloc(bytes ? bytes : 1);
    if (!data) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return data;
}

HLOCAL LocalReAlloc(HLOCAL memory, SIZE_T bytes, UINT) {
    void* data = std::realloc(memory, bytes ? bytes : 1);
    if (!data) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return data;
}

HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}
