#include "platform/ole.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "platform/text.h"

namespace {

class MemoryStream final : public ComObject<IStream> {
  public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_ISequentialStream && object) {
            *object = static_cast<ISequentialStream*>(this);
            AddRef();
            return S_OK;
        }
        return ComObject::QueryInterface(iid, object);
    }
    HRESULT Read(void* data, ULONG size, ULONG* read) override {
        if (!data && size) return E_POINTER;
        const std::size_t left = bytes_.size() - std::min(position_, bytes_.size());
        const ULONG count = static_cast<ULONG>(std::min<std::size_t>(size, left));
        if (count) std::memcpy(data, bytes_.data() + position_, count);
        position_ += count;
        if (read) *read = count;
        return count == size ? S_OK : S_FALSE;
    }
    HRESULT Write(const void* data, ULONG size, ULONG* written) override {
        if (!data && size) return E_POINTER;
        if (position_ + size > bytes_.size()) bytes_.resize(position_ + size);
        if (size) std::memcpy(bytes_.data() + position_, data, size);
        position_ += size;
        if (written) *written = size;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        LONGLONG base = 0;
        if (origin == STREAM_SEEK_CUR) {
            base = static_cast<LONGLONG>(position_);
        } else if (origin == STREAM_SEEK_END) {
            base = static_cast<LONGLONG>(bytes_.size());
        } else if (origin != STREAM_SEEK_SET) {
            return STG_E_INVALIDFUNCTION;
        }
        if (base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
        position_ = static_cast<std::size_t>(base + move.QuadPart);
        if (position) position->QuadPart = position_;
        return S_OK;
    }
    HRESULT SetSize(ULARGE_INTEGER size) override {
        bytes_.resize(static_cast<std::size_t>(size.QuadPart));
        return S_OK;
    }
    HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT Clone(IStream** copy) override {
        if (copy) *copy = nullptr;
        return E_NOTIMPL;
    }

  private:
    std::vector<BYTE> bytes_;
    std::size_t position_ = 0;
};

struct LessIgnoringCase {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
                auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
                return lower(x) < lower(y);
            });
    }
};

class MemoryPropertyBag final : public ComObject<IPropertyBag> {
  public:
    HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        if (!name || !value) return E_POINTER;
        auto it = values_.find(Utf16ToUtf8(name));
        if (it == values_.end()) return E_INVALIDARG;
        const VARTYPE wanted = value->vt;
        VariantInit(value);
        if (wanted == VT_EMPTY) return VariantCopy(value, &it->second);
        return VariantChangeType(value, &it->second, 0, wanted);
    }
    HRESULT Write(LPCOLESTR name, VARIANT* value) override {
        if (!name || !value) return E_POINTER;
        VARIANT& slot = values_[Utf16ToUtf8(name)];
        VariantClear(&slot);
        return VariantCopy(&slot, value);
    }

  private:
    ~MemoryPropertyBag() override {
        for (auto& [name, value] : values_)
            VariantClear(&value);
    }
    std::map<std::string, VARIANT, LessIgnoringCase> values_;
};

}  // namespace

HRESULT CreateStreamOnHGlobal(HANDLE memory, BOOL, IStream** stream) {
    if (!stream) return E_POINTER;
    *stream = nullptr;
    if (memory) return E_INVALIDARG;
    *stream = new (std::nothrow) MemoryStream();
    return *stream ? S_OK : E_OUTOFMEMORY;
}

HRESULT CreateMemoryPropertyBag(IPropertyBag** bag) {
    if (!bag) return E_POINTER;
    *bag = new (std::nothrow) MemoryPropertyBag();
    return *bag ? S_OK : E_OUTOFMEMORY;
}
