/* Where Wine answers differently from Windows. A check whose Windows answer Wine
 * does not give accepts Wine's observed answer too, but only in a program that runs
 * under Wine: on Windows and on the stand-in the check stays as strict as it is. */
#pragma once

#include <gtest/gtest.h>

#include <type_traits>

#ifndef WINAPI_STANDIN
#include <windows.h>
#endif

namespace vt_test {

/* True in a Windows program that runs under Wine (its ntdll exports wine_get_version). */
inline bool UnderWine() {
#ifdef WINAPI_STANDIN
    return false;
#else
    static const bool wine = [] {
        const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
#endif
}

}  // namespace vt_test

/* EXPECT_EQ(expected, actual), where under Wine Wine's own answer `wine` passes too. */
#define EXPECT_EQ_OR_WINE(expected, wine, actual)                                     \
    do {                                                                              \
        using VtActual_ = std::decay_t<decltype(actual)>;                             \
        const VtActual_ vtActual_ = (actual);                                         \
        if (!(vt_test::UnderWine() && vtActual_ == static_cast<VtActual_>(wine))) {   \
            EXPECT_EQ(static_cast<VtActual_>(expected), vtActual_);                   \
        }                                                                             \
    } while (0)
