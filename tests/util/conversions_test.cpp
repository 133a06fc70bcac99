/* OID, IP address, counter and integer conversions: round trips at the limits of
 * each form, the refusals of malformed and over-long texts, lengths that run past
 * a text's end, and the entry lines. */
#include "util/conversions.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/log_capture.h"

namespace {

using Oid = std::vector<unsigned int>;

/* A heap copy exactly as long as the text, without a terminator, so a read
 * past `length` shows up under AddressSanitizer. */
std::vector<char> Unterminated(const std::string &text) { return std::vector<char>(text.begin(), text.end()); }

std::string Take(char *text) {
    std::string copy = text ? text : "(null)";
    free(text);
    return copy;
}

/* The parse of `text`, or {-1} / {0} for those results. */
int Parse(const std::string &text, bool ip, Oid *elements) {
    unsigned int *array = reinterpret_cast<unsigned int *>(0x1);
    const int n = ConvertToOidOrIpFromString(&array, text.c_str(), ip);
    elements->clear();
    if (n == -1) {
        EXPECT_EQ(nullptr, array) << "a refused text leaves no array behind";
        return n;
    }
    if (n > 0) elements->assign(array, array + n);
    free(array);
    return n;
}

TEST(OidText, ArraysOfOneTo128SubIdsRoundTripThroughBothTextForms) {
    const unsigned int pattern[] = {0u, 1u, 9u, 10u, 99u, 100u, 2147483647u, 2147483648u, 4294967294u, 4294967295u};
    for (int count = 1; count <= 128; ++count) {
        Oid oid(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) oid[static_cast<size_t>(i)] = pattern[(i * 7 + count) % 10];
        SCOPED_TRACE(count);
        int size = count * 4;
        const std::string text = Take(ConvertToStringFromOID(oid.data(), &size));
        std::string expected;
        for (unsigned int v : oid) expected += "." + std::to_string(v);
        EXPECT_EQ(expected, text);
        EXPECT_EQ(static_cast<int>(expected.size()), size);

        std::vector<char> buffer(static_cast<size_t>(count) * 11 + 1, 'x');
        EXPECT_EQ(1, ConvertToStringFromOid(oid.data(), count, buffer.data()));
        EXPECT_EQ(expected, std::string(buffer.data()));

        /* 4294967295 is the decimal conversion's failure value: such a text is refused. */
        bool hasMax = false;
        for (unsigned int v : oid) hasMax |= v == 4294967295u;
        Oid back;
        if (hasMax) {
            EXPECT_EQ(-1, Parse(text, false, &back));
        } else {
            EXPECT_EQ(count, Parse(text, false, &back));
            EXPECT_EQ(oid, back);
        }
    }
}

TEST(OidText, ParsesDottedTextsAndRefusesMalformedOrOverlongTokens) {
    const struct {
        const char *text;
        bool ip;
        int result;
        Oid elements;
    } cases[] = {
        {".1.3.6.1", false, 4, {1, 3, 6, 1}},
        {"10.0.0.1", true, 4, {10, 0, 0, 1}},
        {"1.2", true, 2, {1, 2}},
        {".4294967294", false, 1, {4294967294u}},
        /* Signs convert as the decimal conversion takes them; a lone sign does not. */
        {".-0.+0.+7", false, 3, {0, 0, 7}},
        {".-5", false, 1, {4294967291u}},
        {".+", false, -1, {}},
        {".-", false, -1, {}},
        {".-1", false, -1, {}},
        {".1..3", false, -1, {}},
        {".1.3.", false, -1, {}},
        {".", false, -1, {}},
        {"1.2.3.4", false, -1, {}},  // first character taken for the leading dot
        {".1.2", true, -1, {}},
        {"1234", false, -1, {}},
        {"1234", true, -1, {}},
        {"", false, -1, {}},
        {".1.x", false, -1, {}},
        {".1. 2", false, -1, {}},
        /* Values beyond 32 bits are refused instead of wrapping. */
        {".4294967295", false, -1, {}},
        {".4294967296", false, -1, {}},
        {".4294967297", false, -1, {}},
        {".99999999999999999999", false, -1, {}},
        /* Tokens: 19 characters are read, 20 are refused. */
        {".0000000000000000001", false, 1, {1}},
        {".00000000000000000001", false, -1, {}},
        {"0000000000000000001.1", true, 2, {1, 1}},
        {"00000000000000000001.1", true, -1, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.text) + (c.ip ? " (ip)" : " (oid)"));
        Oid elements;
        EXPECT_EQ(c.result, Parse(c.text, c.ip, &elements));
        EXPECT_EQ(c.elements, elements);
    }
    EXPECT_EQ(-1, ConvertToOidOrIpFromString(nullptr, ".1.3", false));
    unsigned int *array = nullptr;
    EXPECT_EQ(-1, ConvertToOidOrIpFromString(&array, nullptr, false));
}

TEST(OidText, ChecksStopAtTheGivenLengthAndAtTheTerminator) {
    const struct {
        const char *text;
        int length;  // -1: the text's own length
        bool ip;
        bool oid;
        short dots;
    } cases[] = {
        {"192.168.0.1", -1, true, false, 3},
        {"0.00.0.0", -1, true, false, 3},
        {"255.255.255.255", -1, true, false, 3},
        {"256.1.1.1", -1, false, false, 3},
        {"1.2.3", -1, false, false, 2},
        {"1..2.3", -1, false, false, 3},
        {".1.2.3", -1, false, true, 3},
        {"1.2.3.", -1, false, false, 3},
        {"1.2.3.x", -1, false, false, 3},
        {"1.2.3.4.5", -1, false, false, 4},
        {"+1.2.3.4", -1, false, false, 3},
        {"1.-0.2.3", -1, false, false, 3},
        {"1.2.3.0x1", -1, false, false, 3},
        {"4294967297.1.1.1", -1, false, false, 3},
        {"0000000000000000255.1.1.1", -1, true, false, 3},
        {"00000000000000000001.1.1.1", -1, false, false, 3},
        {"", -1, false, false, 0},
        {".1", -1, false, false, 1},
        {".1.3", -1, false, true, 2},
        {"1.3.6", -1, false, false, 2},
        /* Only the first `length` characters count ... */
        {"1.2.3.4.5", 7, true, false, 3},
        {".1.3.6", 2, false, false, 1},
        {".1.3.6", 0, false, false, 0},
        {".1.3.6", -5, false, false, 0},
        /* ... and never more than the text holds. */
        {"1.2.3.4", 1000, true, false, 3},
        {".1.3", 30000, false, true, 2},
    };
    for (const auto &c : cases) {
        const std::string text = c.text;
        const int length = c.length == -1 ? static_cast<int>(text.size()) : c.length;
        SCOPED_TRACE(text + " / " + std::to_string(length));
        /* Lengths within the text: no terminator to lean on. Longer ones: a
         * terminated heap copy of exactly the text. */
        std::vector<char> bytes = Unterminated(text);
        if (length > static_cast<int>(text.size())) bytes.push_back('\0');
        const char *p = bytes.empty() ? "" : bytes.data();
        EXPECT_EQ(c.ip, IsValidIPAddress(p, length));
        EXPECT_EQ(c.oid, IsValidOid(p, length));
        EXPECT_EQ(c.dots, GetOidLength(p, static_cast<short>(length)));
    }
    EXPECT_FALSE(IsValidIPAddress(nullptr, 7));
    EXPECT_FALSE(IsValidOid(nullptr, 4));
}

TEST(IpText, OneToFiveOctetsAreWrittenAndAnythingElseIsRefused) {
    const struct {
        Oid array;
        int first;
        int end;
        const char *text;  // null: refused
    } cases[] = {
        {{10, 0, 0, 1}, 0, 4, "10.0.0.1"},
        {{255, 100, 99, 10, 9}, 0, 5, "255.100.99.10.9"},
        {{7, 1, 2, 7}, 1, 3, "1.2"},
        {{0}, 0, 1, "0"},
        {{1, 2, 3, 4, 5, 6}, 0, 6, nullptr},
        {{1, 256, 3, 4}, 0, 4, nullptr},
        {{1, 2}, 1, 1, nullptr},
        {{1, 2}, 2, 1, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(refused)");
        char buffer[32];
        memset(buffer, 'x', sizeof buffer);
        char *result = ConvertToIpAddressFromOid(buffer, c.array.data(), c.first, c.end);
        if (c.text) {
            EXPECT_EQ(buffer, result);
            EXPECT_STREQ(c.text, buffer);
        } else {
            EXPECT_EQ(nullptr, result);
            EXPECT_EQ('x', buffer[0]) << "a refused array leaves the buffer alone";
        }
    }
}

TEST(OidArrays, CompareCopyAndByteForms) {
    const struct {
        Oid first, second;
        int expected;
    } compares[] = {
        {{1, 3, 6}, {1, 3, 6, 1}, -1},
        {{1, 3, 7}, {1, 3, 6, 1}, 1},
        {{1, 3, 6}, {1, 3, 6}, 0},
        {{}, {}, 0},
        {{4294967295u}, {1}, 1},  // unsigned comparison
        {{1}, {4294967295u}, -1},
    };
    for (const auto &c : compares) {
        EXPECT_EQ(c.expected, CompareOid(c.first.data(), static_cast<int>(c.first.size()), c.second.data(),
                                         static_cast<int>(c.second.size())));
    }

    const Oid source = {5, 4294967295u, 9};
    EXPECT_EQ(4294967295u, GetNextSubId(5, source.data(), 3));
    EXPECT_EQ(0u, GetNextSubId(0, Oid{0, 0}.data(), 2));
    EXPECT_EQ(0u, GetNextSubId(4294967295u, source.data(), 3));

    Oid target(6, 0);
    CopyOid(target.data(), source.data(), 3);
    SetNOid(target.data(), source.data(), 3, 3);
    EXPECT_EQ((Oid{5, 4294967295u, 9, 5, 4294967295u, 9}), target);

    unsigned int *owned = static_cast<unsigned int *>(calloc(2, sizeof(unsigned int)));
    int count = 0;
    ASSERT_EQ(1, ReallocateAndSetOID(&owned, &count, source.data(), 3));
    EXPECT_EQ(3, count);
    EXPECT_EQ(source, Oid(owned, owned + 3));
    EXPECT_EQ(0u, owned[3]) << "one zero element past the copy";
    free(owned);

    /* Modulo 255: 256 gives the byte 1 and 255 gives 0. */
    const Oid elements = {65, 256, 255, 510};
    char bytes[6];
    memset(bytes, 'x', sizeof bytes);
    ConvertToCharArray(bytes, elements.data(), 0, 4);
    EXPECT_EQ(std::string("A\x01\0\0\0", 5), std::string(bytes, 5));
    EXPECT_EQ('x', bytes[5]);

    Oid signExtended(3, 7), zeroExtended(3, 7);
    CopyStringToOid(signExtended.data(), "\x80" "A");
    EXPECT_EQ((Oid{0xFFFFFF80u, 65, 7}), signExtended);
    const unsigned char raw[] = {0x80, 0xFF, 0x00};
    CopyStringToOID(zeroExtended.data(), raw, 3);
    EXPECT_EQ((Oid{0x80, 0xFF, 0}), zeroExtended);
}

TEST(NumberText, IntegersAndCounter64AtTheirLimits) {
    const struct {
        int value;
        const char *text;
    } signedCases[] = {{INT_MIN, "-2147483648"}, {-1, "-1"}, {0, "0"}, {INT_MAX, "2147483647"}};
    for (const auto &c : signedCases) EXPECT_EQ(c.text, Take(ConvertToStringFromInteger(&c.value)));
    EXPECT_EQ(nullptr, ConvertToStringFromInteger(nullptr));

    const struct {
        unsigned int value;
        const char *text;
    } unsignedCases[] = {{0u, "0"}, {9u, "9"}, {10u, "10"}, {4294967295u, "4294967295"}};
    for (const auto &c : unsignedCases) {
        int length = -1;
        EXPECT_EQ(c.text, Take(ConvertToStringFromUnsignedInteger(&c.value, &length)));
        EXPECT_EQ(static_cast<int>(strlen(c.text)), length);
    }

    /* The text is signed: 2^63 and above print negative. */
    const struct {
        unsigned long long value;
        unsigned int high, low;
        const char *text;
    } counters[] = {
        {0ull, 0u, 0u, "0"},
        {4294967295ull, 0u, 4294967295u, "4294967295"},
        {4294967296ull, 1u, 0u, "4294967296"},
        {9223372036854775808ull, 0x80000000u, 0u, "-9223372036854775808"},
        {18446744073709551615ull, 0xFFFFFFFFu, 0xFFFFFFFFu, "-1"},
    };
    for (const auto &c : counters) {
        SCOPED_TRACE(c.text);
        const Counter64 record = ConvertToCounter64FromULongLong(c.value);
        EXPECT_EQ(c.high, record.high);
        EXPECT_EQ(c.low, record.low);
        EXPECT_EQ(c.value, ConvertToULongLongFromCounter64(record.high, record.low));
        EXPECT_EQ(c.text, Take(ConvertToStringFromCounter64(&record)));
        /* Big-endian bytes: eight, and nine with a leading zero byte. */
        unsigned char bytes[9] = {0};
        for (int i = 0; i < 8; ++i) bytes[1 + i] = static_cast<unsigned char>(c.value >> (56 - 8 * i));
        for (int length : {8, 9}) {
            Counter64 parsed = {7, 7};
            ConvertToCounter64(&parsed, length == 9 ? bytes : bytes + 1, length);
            EXPECT_EQ(c.high, parsed.high);
            EXPECT_EQ(c.low, parsed.low);
        }
    }

    const struct {
        std::vector<unsigned char> bytes;
        unsigned int high, low;
    } shortForms[] = {
        {{}, 0, 0},
        {{0x01}, 0, 0x01},
        {{0x01, 0x02, 0x03, 0x04}, 0, 0x01020304},
        {{0x05, 0x01, 0x02, 0x03, 0x04}, 0x05, 0x01020304},
        {{0x00, 0x80, 0, 0, 0, 0, 0, 0, 0x01}, 0x80000000u, 0x01},
    };
    for (const auto &c : shortForms) {
        Counter64 parsed = {7, 7};
        ConvertToCounter64(&parsed, c.bytes.data(), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(c.high, parsed.high);
        EXPECT_EQ(c.low, parsed.low);
    }
    const Counter64 nine = {0x80000000u, 1u};
    EXPECT_EQ("-9223372036854775807", Take(ConvertToStringFromCounter64(&nine)));

    EXPECT_EQ("host-01 [@`{]", Take(ToLowerCopy("Host-01 [@`{]")));
    EXPECT_EQ("HOST-01 [@`{]", Take(ToUpperCopy("Host-01 [@`{]")));
    EXPECT_EQ(nullptr, ToLowerCopy(nullptr));
}

TEST(ConversionLog, EachRoutineWritesItsEntryLineOnce) {
    vt_test::LogCapture log(4);
    const Oid oid = {1, 3, 6};
    char buffer[64];
    unsigned int *array = nullptr;
    int value = 1, size = 12;
    unsigned int unsignedValue = 1;
    free(ConvertToStringFromInteger(&value));
    free(ConvertToStringFromUnsignedInteger(&unsignedValue, &value));
    free(ConvertToStringFromOID(oid.data(), &size));
    ConvertToStringFromOid(oid.data(), 3, buffer);
    EXPECT_EQ(-1, ConvertToOidOrIpFromString(&array, "no dots", false));
    EXPECT_EQ(-1, ConvertToOidOrIpFromString(&array, "no dots", true));
    const unsigned char stream[] = {0x41, 0xFF};
    PrintStream(stream, 2, "<%d>");
    PrintOid(oid.data(), 3);
    CompareOid(oid.data(), 3, oid.data(), 3);
    Oid copy(8, 0);
    CopyOid(copy.data(), oid.data(), 3);
    SetNOid(copy.data(), oid.data(), 3, 3);
    GetNextSubId(1, oid.data(), 3);
    ConvertToCharArray(buffer, oid.data(), 0, 3);
    CopyStringToOid(copy.data(), "ab");
    CopyStringToOID(copy.data(), stream, 2);
    ConvertToIpAddressFromOid(buffer, oid.data(), 0, 3);
    IsValidIPAddress("1.2.3.4", 7);
    IsValidOid(".1.3", 4);
    ConvertToCounter64FromULongLong(1);
    ConvertToCounter64(nullptr, stream, 2);
    int count = 0;
    unsigned int *owned = nullptr;
    ReallocateAndSetOID(&owned, &count, oid.data(), 3);
    free(owned);

    for (const char *line : {
             "\n\t@@@@@ Inside ConvertToStringFromInteger() @@@@@\n",
             "\n\t@@@@@ Inside ConvertToStringFromOID() @@@@@\n",
             "\n\t@@@@@ Inside PrintStream() @@@@@ \n",
             "\n\t@@@@@ Inside PrintOid() @@@@@ \n",
             "\n\t@@@@@ Inside CompareOid() @@@@@ \n",
             "\n\t@@@@@ Inside SetNOid() @@@@@\t\n",
             "\n\t@@@@@ Inside GetNextSubId() @@@@@ \n",
             "\n\t@@@@@ Inside ReallocateAndSetOID() @@@@@ \n",
             "\n\t@@@@@ Inside ConvertToCharArray() @@@@@ \n",
             "\n\t@@@@@ Inside CopyStringToOid() @@@@@ \n",
             "\n\t@@@@@ Inside CopyStringToOID() @@@@@ \n",
             "\n\t@@@@@ Inside ConvertToStringFromOid() @@@@@ \n",
             "\n\t@@@@@ Inside ConvertToIpAddressFromOid()\t@@@@@ \n",
             "\n\t@@@@@ Inside IsValidIPAddress() @@@@@\n",
             "\n\t@@@@@ Inside IsValidOid() @@@@@\n",
             "\n\t@@@@@ Inside ConvertToCounter64FromULongLong() @@@@@ \n",
             "\n\t@@@@@ Inside ConvertToCounter64() @@@@@\n",
         }) {
        EXPECT_EQ(1, log.Count("TRACE", line)) << line;
    }
    /* Called by the routines above as well as on their own. */
    EXPECT_EQ(4, log.Count("TRACE", "\n\t@@@@@ Inside ConvertToStringFromUnsignedInteger() @@@@@\n"));
    EXPECT_EQ(2, log.Count("TRACE", "\n\t@@@@@ Inside ConvertToOidOrIpFromString() @@@@@ \n"));
    EXPECT_EQ(2, log.Count("TRACE", "\n\t@@@@@ Inside GetOidLength() @@@@@ \n"));
    EXPECT_EQ(2, log.Count("TRACE", "\n\t@@@@@ Inside CopyOid() @@@@@ \n"));
    EXPECT_EQ(1, log.Count("ERROR", "Incorrect format of OID\n"));
    EXPECT_EQ(1, log.Count("ERROR", "Incorrect format of IpAddress\n"));
    EXPECT_EQ(1, log.Count("DEBUG", "<65>"));
    EXPECT_EQ(1, log.Count("DEBUG", "<-1>"));
    EXPECT_EQ(1, log.Count("DEBUG", "6\t"));
    EXPECT_EQ(1, log.Count("TRACE", "len is 7\n"));
    EXPECT_EQ(1, log.Count("TRACE", "The String rep as OID is .1.3.6\n"));
}

}  // namespace
