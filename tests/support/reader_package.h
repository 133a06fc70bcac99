/* Reader base packages for the tests: real Installer databases made with wixl from
 * the demo's scripts/demo/reader_base.wxs, with the ProductCode
 * {AC76BA86-7AD7-<group>-7B44-AA1000000001} and the ProductVersion asked for. */
#pragma once
#include <string>

namespace vt_test {

/* The bytes of the package for a language group ("1033") and version ("10.1.0").
 * Built once per pair and test program; "" (with a test failure) when wixl fails. */
std::string ReaderPackage(const std::string &group, const std::string &version);

}  // namespace vt_test
