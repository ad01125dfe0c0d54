#include "platform/hresult_text.h"

namespace {

struct Meaning {
    HRESULT hr;
    const char* text;
};

constexpr Meaning kMeanings[] = {
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_FAIL, "Unspecified error"},
    {E_OUTOFMEMORY, "Out of memory"},
    {E_INVALIDARG, "Invalid argument"},
    {E_ACCESSDENIED, "Access denied"},
    {DISP_E_MEMBERNOTFOUND, "Member not found"},
    {DISP_E_PARAMNOTFOUND, "Parameter not found"},
    {DISP_E_TYPEMISMATCH, "Type mismatch"},
    {DISP_E_UNKNOWNNAME, "Unknown name"},
    {DISP_E_OVERFLOW, "Overflow"},
    {DISP_E_BADPARAMCOUNT, "Invalid number of parameters"},
    {DISP_E_PARAMNOTOPTIONAL, "Parameter not optional"},
    {DISP_E_BADINDEX, "Invalid index"},
    {CO_E_CLASSSTRING, "Invalid class string"},
    {MakeHResult(0x80040154), "Class not registered"},
    {MakeHResult(0x800401F8), "The class's library was not found"},
    {MakeHResult(0x800401F9), "The class's library has no class factory"},
    // The control's property and call checks (the CTL_E_ codes).
    {MakeHResult(0x800A0005), "Invalid procedure call or argument"},
    {MakeHResult(0x800A0007), "Out of memory"},
    {MakeHResult(0x800A017C), "Invalid property value"},
    {MakeHResult(0x800A017D), "Invalid property array index"},
    {MakeHResult(0x800A017F), "Set not supported"},
    {MakeHResult(0x800A0182), "Get not supported"},
};

}  // namespace

const char* HresultMeaning(HRESULT hr) {
    for (const Meaning& meaning : kMeanings) {
        if (meaning.hr == hr) return meaning.text;
    }
    return nullptr;
}
