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

// Streams by name; a stream opened again starts at its beginning.
class MemoryStorage final : public ComObject<IStorage> {
  public:
    HRESULT CreateStream(const OLECHAR* name, DWORD mode, DWORD, DWORD, IStream** stream) override {
        if (!stream) return STG_E_INVALIDPOINTER;
        *stream = nullptr;
        const std::string key = NameOf(name);
        if (key.empty()) return STG_E_INVALIDNAME;
        auto& slot = streams_[key];
        if (slot && !(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
        slot = ComPtr<IStream>::Attach(new (std::nothrow) MemoryStream());
        if (!slot) return E_OUTOFMEMORY;
        *stream = ComPtr<IStream>(slot).Detach();
        return S_OK;
    }
    HRESULT OpenStream(const OLECHAR* name, void*, DWORD, DWORD, IStream** stream) override {
        if (!stream) return STG_E_INVALIDPOINTER;
        *stream = nullptr;
        auto it = streams_.find(NameOf(name));
        if (it == streams_.end()) return STG_E_FILENOTFOUND;
        it->second->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
        *stream = ComPtr<IStream>(it->second).Detach();
        return S_OK;
    }
    HRESULT CreateStorage(const OLECHAR*, DWORD, DWORD, DWORD, IStorage** storage) override {
        if (storage) *storage = nullptr;
        return E_NOTIMPL;
    }
    HRESULT OpenStorage(const OLECHAR*, IStorage*, DWORD, SNB, DWORD, IStorage** storage) override {
        if (storage) *storage = nullptr;
        return E_NOTIMPL;
    }
    HRESULT CopyTo(DWORD, const IID*, SNB, IStorage*) override { return E_NOTIMPL; }
    HRESULT MoveElementTo(const OLECHAR*, IStorage*, const OLECHAR*, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT EnumElements(DWORD, void*, DWORD, IEnumSTATSTG** elements) override {
        if (elements) *elements = nullptr;
        return E_NOTIMPL;
    }
    HRESULT DestroyElement(const OLECHAR* name) override {
        return streams_.erase(NameOf(name)) ? S_OK : STG_E_FILENOTFOUND;
    }
    HRESULT RenameElement(const OLECHAR*, const OLECHAR*) override { return E_NOTIMPL; }
    HRESULT SetElementTimes(const OLECHAR*, const FILETIME*, const FILETIME*,
                            const FILETIME*) override {
        return E_NOTIMPL;
    }
    HRESULT SetClass(REFCLSID) override { return E_NOTIMPL; }
    HRESULT SetStateBits(DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }

  private:
    // "" for a name that is not one.
    static std::string NameOf(const OLECHAR* name) {
        if (!name) return "";
        const std::u16string_view view(name);
        if (view.empty() || view.size() > 31) return "";
        return Utf16ToUtf8(view);
    }
    std::map<std::string, ComPtr<IStream>, LessIgnoringCase> streams_;
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

HRESULT CreateMemoryStorage(IStorage** storage) {
    if (!storage) return E_POINTER;
    *storage = new (std::nothrow) MemoryStorage();
    return *storage ? S_OK : E_OUTOFMEMORY;
}

HRESULT CreateMemoryPropertyBag(IPropertyBag** bag) {
    if (!bag) return E_POINTER;
    *bag = new (std::nothrow) MemoryPropertyBag();
    return *bag ? S_OK : E_OUTOFMEMORY;
}
