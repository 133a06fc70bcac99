// sources: src/winapi/registry_hive.cpp src/winapi/utf8.cpp src/winapi/bestfit1252.cpp
/*
 * Hive text parser: any bytes either parse (fully or up to a bad line) or are
 * refused, never crash, and whatever parsed writes back to text that parses to
 * the same tree. The corpus in corpus/reg/ is replayed by the winapi tests.
 */
#include "winapi/registry_hive.h"

#include <stdint.h>
#include <stdlib.h>

#include <string>

namespace {

/* False (with the reason) when the parsed tree does not survive being written
 * out and read back. */
[[maybe_unused]] bool HiveRoundTrips(const std::string &bytes, std::string *why) {
    const char *root = "HKEY_LOCAL_MACHINE";
    const wa::reg::ParseResult first = wa::reg::ParseHive(bytes, root);
    const std::string text = wa::reg::SerializeHive(*first.root, root);
    const wa::reg::ParseResult second = wa::reg::ParseHive(text, root);
    if (!second.ok) {
        *why = "written text does not parse: line " + std::to_string(second.errorLine) + ": " + second.error;
        return false;
    }
    if (wa::reg::SerializeHive(*second.root, root) != text) {
        *why = "written text reads back to a different tree";
        return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string why;
    if (!HiveRoundTrips(std::string(reinterpret_cast<const char *>(data), size), &why)) abort();
    return 0;
}
