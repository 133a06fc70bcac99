/*
 * Text parsers of the common utilities: any bytes go through the dotted OID and
 * IP address parsers, the address and OID checks (given exactly the input's
 * length, with no terminator after it), the DateAndTime and HTTP date parsers and
 * the counter conversion. Whatever is accepted must convert back to a text that
 * is accepted again to the same value. The corpus in corpus/util_text/ is
 * replayed by the util tests.
 */
// links: vt_log
// sources: src/util/conversions.cpp src/util/datetime.cpp src/util/strings.cpp
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "util/conversions.h"
#include "util/datetime.h"

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

void CheckOidOrIp(const std::string &text, bool isIpAddress) {
    unsigned int *array = nullptr;
    const int n = ConvertToOidOrIpFromString(&array, text.c_str(), isIpAddress);
    if (n == -1) {
        Require(array == nullptr);
        return;
    }
    Require(array != nullptr);
    if (n > 0 && !isIpAddress) {
        std::vector<char> buffer(static_cast<size_t>(n) * 11 + 1);
        ConvertToStringFromOid(array, n, buffer.data());
        unsigned int *again = nullptr;
        Require(ConvertToOidOrIpFromString(&again, buffer.data(), false) == n);
        Require(memcmp(array, again, static_cast<size_t>(n) * sizeof(unsigned int)) == 0);
        free(again);
    }
    free(array);
}

void CheckIpAddress(const std::vector<char> &exact) {
    const int length = static_cast<int>(exact.size());
    if (!IsValidIPAddress(exact.data(), length)) return;
    const std::string text(exact.data(), strnlen(exact.data(), exact.size()));
    unsigned int *octets = nullptr;
    Require(ConvertToOidOrIpFromString(&octets, text.c_str(), true) == 4);
    char written[20];
    Require(ConvertToIpAddressFromOid(written, octets, 0, 4) == written);
    Require(IsValidIPAddress(written, static_cast<int>(strlen(written))));
    free(octets);
}

void CheckDateAndTime(const std::string &text) {
    int count = 0;
    unsigned char *octets = ConvertToDateTimeFromString(text.c_str(), &count);
    if (octets == nullptr) return;
    Require(count == 8 || count == 11);
    int length = count;
    char *shown = ConvertToStringFromDateTime(octets, &length);
    Require(shown != nullptr);
    /* A zero direction character ends the text early; any other reads back. */
    if (count == 8 || octets[8] != 0) {
        int again = 0;
        unsigned char *back = ConvertToDateTimeFromString(shown, &again);
        Require(back != nullptr && again == count && memcmp(back, octets, static_cast<size_t>(count)) == 0);
        free(back);
    }
    free(shown);
    free(octets);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<char> exact(reinterpret_cast<const char *>(data), reinterpret_cast<const char *>(data) + size);
    const std::string text = std::string(exact.begin(), exact.end()).c_str();

    CheckOidOrIp(text, false);
    CheckOidOrIp(text, true);
    CheckIpAddress(exact);
    IsValidOid(exact.data(), static_cast<int>(exact.size()));
    GetOidLength(exact.data(), static_cast<short>(exact.size() > 32767 ? 32767 : exact.size()));
    CheckDateAndTime(text);
    free(ParseDateTime(text.c_str()));

    Counter64 counter;
    ConvertToCounter64(&counter, data, static_cast<int>(size));
    free(ConvertToStringFromCounter64(&counter));
    return 0;
}
