// Interface identifiers, the base interface of every COM-shaped object, a
// reference-counting base class and a smart pointer.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/api.h"
#include "platform/wintypes.h"

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

// Defines a constant GUID from its usual written form {d1-d2-d3-d4[0..1]-d4[2..7]}.
constexpr GUID MakeGuid(DWORD d1, WORD d2, WORD d3, BYTE a, BYTE b, BYTE c, BYTE d, BYTE e, BYTE f,
                        BYTE g, BYTE h) {
    return GUID{d1, d2, d3, {a, b, c, d, e, f, g, h}};
}

inline constexpr GUID GUID_NULL = MakeGuid(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr IID IID_IUnknown =
    MakeGuid(0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
FT_API std::string GuidToString(const GUID& guid);
// Accepts the form above (braces optional, any case); false for anything else.
FT_API bool GuidFromString(std::string_view text, GUID* guid);
// Windows-shaped: writes the braced form with its NUL; returns the characters
// written including the NUL, or 0 when the buffer is too small.
FT_API int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int size);

struct IDispatch;  // see platform/dispatch.h

// The base interface. Objects are created with one reference held by the creator.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

// The identifier of an interface type, for ComObject and ComPtr::As; each
// interface names its own with FT_INTERFACE_IID(IFoo, IID_IFoo).
template <class Interface>
struct InterfaceIid;
#define FT_INTERFACE_IID(Interface, iid)  \
    template <>                           \
    struct InterfaceIid<Interface> {      \
        static constexpr IID value = iid; \
    }
FT_INTERFACE_IID(IUnknown, IID_IUnknown);

// Implements IUnknown for a class that derives from the given interfaces
// (each with an InterfaceIid specialisation). QueryInterface also answers the
// identifiers of the listed interfaces' bases that have one (IDispatch for a
// dispatch interface). Deleted when the last reference goes.
template <class... Interfaces>
class ComObject : public Interfaces... {
  public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown) {
            *object = static_cast<IUnknown*>(static_cast<FirstInterface*>(this));
        } else {
            (TryInterface<Interfaces>(iid, object) || ...);
        }
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }
    ULONG RefCount() const { return refs_.load(); }

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

  private:
    template <class First, class...>
    struct FirstOf {
        using type = First;
    };
    using FirstInterface = typename FirstOf<Interfaces...>::type;

    template <class I>
    bool TryInterface(REFIID iid, void** object);

    std::atomic<ULONG> refs_{1};
};

// Owns one reference to an interface.
template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over the reference the caller holds.
    static ComPtr Attach(T* raw) {
        ComPtr p;
        p.ptr_ = raw;
        return p;
    }
    // Adds a reference of its own.
    static ComPtr Share(T* raw) {
        if (raw) raw->AddRef();
        return Attach(raw);
    }
    ComPtr(const ComPtr& other) : ptr_(other.ptr_) {
        if (ptr_) ptr_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset() {
        if (T* p = std::exchange(ptr_, nullptr)) p->Release();
    }
    T* Detach() { return std::exchange(ptr_, nullptr); }
    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // For out parameters: releases the current pointer first.
    T** Receive() {
        Reset();
        return &ptr_;
    }
    template <class U>
    ComPtr<U> As() const {
        ComPtr<U> result;
        if (ptr_)
            ptr_->QueryInterface(InterfaceIid<U>::value,
                                 reinterpret_cast<void**>(result.Receive()));
        return result;
    }

  private:
    T* ptr_ = nullptr;
};

// ----------------------------------------------------------------------------

template <class T, class>
struct DependentType {
    using type = T;
};

template <class I, class = void>
struct HasInterfaceIid : std::false_type {};
template <class I>
struct HasInterfaceIid<I, std::void_t<decltype(InterfaceIid<I>::value)>> : std::true_type {};

template <class... Interfaces>
template <class I>
bool ComObject<Interfaces...>::TryInterface(REFIID iid, void** object) {
    if constexpr (HasInterfaceIid<I>::value) {
        if (iid == InterfaceIid<I>::value) {
            *object = static_cast<I*>(this);
            return true;
        }
    }
    // A dispatch-based interface also answers for IDispatch itself.
    using Dispatch = typename DependentType<IDispatch, I>::type;
    if constexpr (std::is_base_of_v<IDispatch, I> && !std::is_same_v<Dispatch, I>) {
        if (iid == InterfaceIid<Dispatch>::value) {
            *object = static_cast<Dispatch*>(static_cast<I*>(this));
            return true;
        }
    }
    return false;
}
